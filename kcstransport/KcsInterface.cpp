// The host side of the KCS system interface (IPMI v2.0, section 9): the write phase with
// WRITE_START and WRITE_END, the read phase with READ, and the error exit with
// GET_STATUS/ABORT that brings the interface back to idle. Every wait is bounded by the
// message's clock; nothing here loops on the BMC's word alone.
#include <Arch.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Library/DebugLib.h>

#include "KcsTransport.h"

// A status register that reads all ones has no interface behind it: no BMC drives the
// bus, and no error exit can bring it to idle.
#define KCS_STATUS_FLOATING 0xFF

STATIC UINT8 KcsReadStatus(CONST KCS_INTERFACE *Kcs) { return ArchIoRead8(Kcs->StatusPort); }

// Waits until (status & Mask) == Want. With StopOnError the wait ends early, as a device
// error, when the BMC puts the interface in its error state.
STATIC EFI_STATUS KcsWait(CONST KCS_INTERFACE *Kcs, KCS_CLOCK *Clock, UINT8 Mask, UINT8 Want, BOOLEAN StopOnError,
                          UINT8 *Status) {
  UINT32 Interval;

  Interval = KCS_POLL_FIRST_US;
  for (;;) {
    *Status = KcsReadStatus(Kcs);
    if (*Status == KCS_STATUS_FLOATING) {
      return EFI_DEVICE_ERROR;
    }
    if ((*Status & Mask) == Want) {
      return EFI_SUCCESS;
    }
    if (StopOnError && KCS_STATE(*Status) == KCS_STATE_ERROR) {
      return EFI_DEVICE_ERROR;
    }
    if (Clock->Spent >= Clock->Budget) {
      return EFI_TIMEOUT;
    }
    if (Interval > Clock->Budget - Clock->Spent) {
      Interval = Clock->Budget - Clock->Spent;
    }
    // The stall's own status is of no use: the wait is charged what it asked for, so it
    // ends even on a platform whose stall returns at once.
    gBS->Stall(Interval);
    Clock->Spent += Interval;
    Interval = Interval * 2 > KCS_POLL_MAX_US ? KCS_POLL_MAX_US : Interval * 2;
  }
}

STATIC EFI_STATUS KcsWaitInputTaken(CONST KCS_INTERFACE *Kcs, KCS_CLOCK *Clock, UINT8 *Status) {
  return KcsWait(Kcs, Clock, KCS_STATUS_IBF, 0, TRUE, Status);
}

// A byte the BMC left in the output register would otherwise be read as the next answer.
STATIC VOID KcsClearOutput(CONST KCS_INTERFACE *Kcs, UINT8 Status) {
  if ((Status & KCS_STATUS_OBF) != 0) {
    (VOID) ArchIoRead8(Kcs->DataPort);
  }
}

// After each write of the write phase the BMC must have taken the byte and stayed in the
// write state.
STATIC EFI_STATUS KcsWriteStep(CONST KCS_INTERFACE *Kcs, KCS_CLOCK *Clock, UINT16 Port, UINT8 Value) {
  EFI_STATUS Result;
  UINT8 Status;

  ArchIoWrite8(Port, Value);
  Result = KcsWaitInputTaken(Kcs, Clock, &Status);
  if (EFI_ERROR(Result)) {
    return Result;
  }
  if (KCS_STATE(Status) != KCS_STATE_WRITE) {
    return EFI_DEVICE_ERROR;
  }
  KcsClearOutput(Kcs, Status);
  return EFI_SUCCESS;
}

STATIC EFI_STATUS KcsWriteRequest(CONST KCS_INTERFACE *Kcs, KCS_CLOCK *Clock, CONST UINT8 *Request, UINTN Length) {
  EFI_STATUS Result;
  UINT8 Status;
  UINTN Index;

  Result = KcsWaitInputTaken(Kcs, Clock, &Status);
  if (EFI_ERROR(Result)) {
    return Result;
  }
  KcsClearOutput(Kcs, Status);
  Result = KcsWriteStep(Kcs, Clock, Kcs->StatusPort, KCS_CONTROL_WRITE_START);
  for (Index = 0; !EFI_ERROR(Result) && Index + 1 < Length; Index++) {
    Result = KcsWriteStep(Kcs, Clock, Kcs->DataPort, Request[Index]);
  }
  if (!EFI_ERROR(Result)) {
    Result = KcsWriteStep(Kcs, Clock, Kcs->StatusPort, KCS_CONTROL_WRITE_END);
  }
  if (!EFI_ERROR(Result)) {
    // The last byte moves the BMC to its read state once it has an answer.
    ArchIoWrite8(Kcs->DataPort, Request[Length - 1]);
  }
  return Result;
}

// Reads the response byte by byte until the BMC goes idle. Bytes beyond Capacity are
// counted, not kept; more than KCS_MAX_RESPONSE is no message and fails.
STATIC EFI_STATUS KcsReadResponse(CONST KCS_INTERFACE *Kcs, KCS_CLOCK *Clock, UINT8 *Response, UINTN Capacity,
                                  UINTN *ResponseLength) {
  EFI_STATUS Result;
  UINT8 Status;
  UINT8 Byte;
  UINTN Count;

  Count = 0;
  for (;;) {
    Result = KcsWaitInputTaken(Kcs, Clock, &Status);
    if (EFI_ERROR(Result)) {
      break;
    }
    if (KCS_STATE(Status) != KCS_STATE_READ && KCS_STATE(Status) != KCS_STATE_IDLE) {
      Result = EFI_DEVICE_ERROR;
      break;
    }
    Result = KcsWait(Kcs, Clock, KCS_STATUS_OBF, KCS_STATUS_OBF, TRUE, &Status);
    if (EFI_ERROR(Result)) {
      break;
    }
    Byte = ArchIoRead8(Kcs->DataPort);
    if (KCS_STATE(Status) == KCS_STATE_IDLE) {
      // The byte that comes with idle is a dummy: the message is complete.
      break;
    }
    if (Count >= KCS_MAX_RESPONSE) {
      Result = EFI_DEVICE_ERROR;
      break;
    }
    if (Count < Capacity) {
      Response[Count] = Byte;
    }
    Count++;
    ArchIoWrite8(Kcs->DataPort, KCS_CONTROL_READ);
  }
  *ResponseLength = Count < Capacity ? Count : Capacity;
  return Result;
}

// GET_STATUS/ABORT, then the one status byte the BMC answers with, back to idle.
STATIC EFI_STATUS KcsErrorExit(CONST KCS_INTERFACE *Kcs, KCS_CLOCK *Clock) {
  EFI_STATUS Result;
  UINT8 Status;
  UINT8 ErrorCode;
  UINTN Attempt;

  Result = EFI_DEVICE_ERROR;
  for (Attempt = 0; Attempt < KCS_ABORT_ATTEMPTS; Attempt++) {
    Result = KcsWait(Kcs, Clock, KCS_STATUS_IBF, 0, FALSE, &Status);
    if (EFI_ERROR(Result)) {
      return Result;
    }
    ArchIoWrite8(Kcs->StatusPort, KCS_CONTROL_GET_STATUS_ABORT);
    Result = KcsWait(Kcs, Clock, KCS_STATUS_IBF, 0, FALSE, &Status);
    if (EFI_ERROR(Result)) {
      return Result;
    }
    KcsClearOutput(Kcs, Status);
    ArchIoWrite8(Kcs->DataPort, 0x00);
    Result = KcsWait(Kcs, Clock, KCS_STATUS_IBF, 0, FALSE, &Status);
    if (EFI_ERROR(Result)) {
      return Result;
    }
    if (KCS_STATE(Status) != KCS_STATE_READ) {
      Result = EFI_DEVICE_ERROR;
      continue;
    }
    Result = KcsWait(Kcs, Clock, KCS_STATUS_OBF, KCS_STATUS_OBF, FALSE, &Status);
    if (EFI_ERROR(Result)) {
      return Result;
    }
    ErrorCode = ArchIoRead8(Kcs->DataPort);
    ArchIoWrite8(Kcs->DataPort, KCS_CONTROL_READ);
    Result = KcsWait(Kcs, Clock, KCS_STATUS_IBF, 0, FALSE, &Status);
    if (EFI_ERROR(Result)) {
      return Result;
    }
    if (KCS_STATE(Status) != KCS_STATE_IDLE) {
      Result = EFI_DEVICE_ERROR;
      continue;
    }
    Result = KcsWait(Kcs, Clock, KCS_STATUS_OBF, KCS_STATUS_OBF, FALSE, &Status);
    if (EFI_ERROR(Result)) {
      return Result;
    }
    (VOID) ArchIoRead8(Kcs->DataPort);
    DEBUG((DEBUG_INFO, "KCS interface back to idle, status code %x\n", ErrorCode));
    return EFI_SUCCESS;
  }
  return Result;
}

EFI_STATUS KcsTransact(KCS_INTERFACE *Kcs, CONST UINT8 *Request, UINTN RequestLength, UINT8 *Response, UINTN Capacity,
                       UINTN *ResponseLength) {
  EFI_STATUS Result;
  EFI_STATUS Recovery;
  KCS_CLOCK Clock;
  KCS_CLOCK RecoveryClock;
  UINT8 Status;
  BOOLEAN NeedsRecovery;
  BOOLEAN BmcTimedOut;

  *ResponseLength = 0;
  NeedsRecovery = FALSE;
  if (RequestLength < 2 || RequestLength > KCS_MAX_REQUEST) {
    return EFI_INVALID_PARAMETER;
  }
  Clock.Spent = 0;
  Clock.Budget = Kcs->Unresponsive ? KCS_UNRESPONSIVE_BUDGET_US : KCS_MESSAGE_BUDGET_US;

  Status = KcsReadStatus(Kcs);
  if (Status == KCS_STATUS_FLOATING) {
    return EFI_DEVICE_ERROR;
  }
  if (Kcs->Unresponsive && (Status & KCS_STATUS_IBF) != 0) {
    // Still holding what timed out: not worth a single stall.
    return EFI_TIMEOUT;
  }

  Result = EFI_SUCCESS;
  if (KCS_STATE(Status) != KCS_STATE_IDLE) {
    // Left mid-message by an earlier failure (or by another user of the interface).
    Result = KcsErrorExit(Kcs, &Clock);
  }
  if (!EFI_ERROR(Result)) {
    Result = KcsWriteRequest(Kcs, &Clock, Request, RequestLength);
    if (!EFI_ERROR(Result)) {
      Result = KcsReadResponse(Kcs, &Clock, Response, Capacity, ResponseLength);
    }
    NeedsRecovery = EFI_ERROR(Result);
  }

  if (NeedsRecovery && !Kcs->Unresponsive && KcsReadStatus(Kcs) != KCS_STATUS_FLOATING) {
    // Back to idle for the next message, on a clock of its own; an unresponsive
    // interface is recovered by the next message instead, within that one's budget.
    RecoveryClock.Spent = 0;
    RecoveryClock.Budget = KCS_RECOVERY_BUDGET_US;
    Recovery = KcsErrorExit(Kcs, &RecoveryClock);
    if (Recovery == EFI_TIMEOUT) {
      Result = EFI_TIMEOUT;
    }
  }

  // An answer of "timed out" took the stand-in's whole wait and says the BMC is silent:
  // later calls get the short budget, as after a timeout of our own, or a silent BMC would
  // cost that wait for every message of the boot.
  BmcTimedOut = !EFI_ERROR(Result) && *ResponseLength > 2 && Response[2] == IPMI_CC_TIMEOUT;
  if (Result == EFI_TIMEOUT || BmcTimedOut) {
    if (!Kcs->Unresponsive) {
      DEBUG((DEBUG_ERROR, "KCS interface at %x timed out; later calls fail fast until it answers\n", Kcs->DataPort));
    }
    Kcs->Unresponsive = TRUE;
  } else if (Result != EFI_DEVICE_ERROR || KcsReadStatus(Kcs) != KCS_STATUS_FLOATING) {
    // The BMC answered, if only with its error state.
    Kcs->Unresponsive = FALSE;
  }
  if (EFI_ERROR(Result)) {
    *ResponseLength = 0;
  }
  return Result;
}
