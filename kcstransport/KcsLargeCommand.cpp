// A large command over an interface of small messages: the BMC opens a session, the
// bytes follow in order in chunks of at most LARGE_COMMAND_MAX_CHUNK with a CRC-16 each,
// and the commit, with the CRC-32 of the whole, makes the BMC act on them and answer.
#include <Library/BaseLib.h>
#include <Library/BaseMemoryLib.h>
#include <Library/DebugLib.h>
#include <Library/UefiBootServicesTableLib.h>

#include "KcsTransport.h"

UINT16 KcsCrc16(CONST UINT8 *Data, UINTN Length) {
  UINT16 Crc;
  UINTN Index;
  UINTN Bit;

  Crc = 0xFFFF;
  for (Index = 0; Index < Length; Index++) {
    Crc ^= (UINT16)((UINT16)Data[Index] << 8);
    for (Bit = 0; Bit < 8; Bit++) {
      Crc = (Crc & 0x8000) != 0 ? (UINT16)((Crc << 1) ^ 0x1021) : (UINT16)(Crc << 1);
    }
  }
  return Crc;
}

// Ends the session so the BMC holds no half-sent command. Best effort: the caller's
// status is the failure that led here, whatever the abort answers.
STATIC VOID KcsAbortSession(UINT16 CommandHeader, UINT16 SessionId) {
  LARGE_COMMAND_ABORT_REQUEST Abort;
  UINT8 Reply[1];
  UINTN ReplyLength;

  Abort.Step = LARGE_COMMAND_STEP_ABORT;
  Abort.Reserved = 0;
  Abort.SessionId = SessionId;
  (VOID) KcsSendRequest(CommandHeader, (CONST UINT8 *)&Abort, sizeof(Abort), Reply, sizeof(Reply), &ReplyLength);
}

// A step's answer: the completion code's status, which the caller sees with the code
// itself as the response; a step answered with no completion code is a device error.
STATIC EFI_STATUS KcsStepResult(CONST UINT8 *Reply, UINTN ReplyLength, VOID *Response, UINT8 *ResponseLength) {
  if (ReplyLength == 0) {
    return EFI_DEVICE_ERROR;
  }
  KcsCopyReply(Reply, 1, Response, ResponseLength);
  return KcsCompletionCodeStatus(Reply[0]);
}

EFI_STATUS KcsSendInChunks(UINT16 CommandHeader, CONST UINT8 *Request, UINTN RequestLength, VOID *Response,
                           UINT8 *ResponseLength) {
  LARGE_COMMAND_OPEN_REQUEST Open;
  LARGE_COMMAND_COMMIT_REQUEST Commit;
  UINT8 Message[sizeof(LARGE_COMMAND_WRITE_REQUEST) + LARGE_COMMAND_MAX_CHUNK];
  LARGE_COMMAND_WRITE_REQUEST *Write;
  UINT8 Reply[KCS_MAX_RESPONSE];
  UINTN ReplyLength;
  UINTN Offset;
  UINTN Chunk;
  UINT32 Crc32;
  UINT16 SessionId;
  EFI_STATUS Status;
  UINT8 Offered;

  Offered = *ResponseLength;
  *ResponseLength = 0;
  if (RequestLength > MAX_UINT32) {
    return EFI_BAD_BUFFER_SIZE;
  }
  Status = gBS->CalculateCrc32((VOID *)Request, RequestLength, &Crc32);
  if (EFI_ERROR(Status)) {
    return Status;
  }

  Open.Step = LARGE_COMMAND_STEP_OPEN;
  Open.Reserved = 0;
  Open.TargetHeader = CommandHeader;
  Open.TotalLength = (UINT32)RequestLength;
  Status = KcsSendRequest(CommandHeader, (CONST UINT8 *)&Open, sizeof(Open), Reply, sizeof(Reply), &ReplyLength);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  if (ReplyLength == 0 || Reply[0] != IPMI_CC_SUCCESS) {
    *ResponseLength = Offered;
    return KcsStepResult(Reply, ReplyLength, Response, ResponseLength);
  }
  SessionId = ReplyLength >= sizeof(LARGE_COMMAND_OPEN_RESPONSE) ? ReadUnaligned16(Reply + 1) : 0;
  if (SessionId == 0) {
    // No session to write to (or to abort): the BMC broke the transfer's rules.
    return EFI_DEVICE_ERROR;
  }

  Write = (LARGE_COMMAND_WRITE_REQUEST *)Message;
  for (Offset = 0; Offset < RequestLength; Offset += Chunk) {
    Chunk = RequestLength - Offset < LARGE_COMMAND_MAX_CHUNK ? RequestLength - Offset : LARGE_COMMAND_MAX_CHUNK;
    Write->Step = LARGE_COMMAND_STEP_WRITE;
    Write->Reserved = 0;
    Write->SessionId = SessionId;
    Write->Offset = (UINT32)Offset;
    Write->Crc16 = KcsCrc16(Request + Offset, Chunk);
    CopyMem(Message + sizeof(*Write), Request + Offset, Chunk);
    Status = KcsSendRequest(CommandHeader, Message, sizeof(*Write) + Chunk, Reply, sizeof(Reply), &ReplyLength);
    if (Status == EFI_DEVICE_ERROR) {
      // The interface fell into its error state and is idle again: the BMC either never
      // took the chunk or answers a repeat of it with success, so it goes once more.
      Status = KcsSendRequest(CommandHeader, Message, sizeof(*Write) + Chunk, Reply, sizeof(Reply), &ReplyLength);
    }
    if (!EFI_ERROR(Status) && (ReplyLength == 0 || Reply[0] != IPMI_CC_SUCCESS)) {
      *ResponseLength = Offered;
      Status = KcsStepResult(Reply, ReplyLength, Response, ResponseLength);
    }
    if (EFI_ERROR(Status)) {
      DEBUG((DEBUG_ERROR, "Large command chunk at %x failed: %r\n", (UINT32)Offset, Status));
      KcsAbortSession(CommandHeader, SessionId);
      return Status;
    }
  }

  Commit.Step = LARGE_COMMAND_STEP_COMMIT;
  Commit.Reserved = 0;
  Commit.SessionId = SessionId;
  Commit.Crc32 = Crc32;
  Status = KcsSendRequest(CommandHeader, (CONST UINT8 *)&Commit, sizeof(Commit), Reply, sizeof(Reply), &ReplyLength);
  if (EFI_ERROR(Status)) {
    // Whether the commit arrived is unknown; a session it ended answers the abort with an
    // error, which changes nothing.
    KcsAbortSession(CommandHeader, SessionId);
    return Status;
  }
  if (ReplyLength == 0) {
    return EFI_DEVICE_ERROR;
  }
  *ResponseLength = Offered;
  KcsCopyReply(Reply, ReplyLength, Response, ResponseLength);
  return KcsCompletionCodeStatus(Reply[0]);
}
