// The management transport protocol over KCS: its two members and the driver's start,
// which installs the protocol. The interface is looked at only when a request comes, so
// a board without a BMC pays nothing at boot.
#include <Library/DebugLib.h>
#include <Library/UefiBootServicesTableLib.h>

#include "KcsTransport.h"

KCS_INTERFACE mKcs;
STATIC MANAGEMENT_TRANSPORT_PROTOCOL mKcsTransport = {KcsSendCommand, KcsSendLargeCommand};
STATIC EFI_HANDLE mKcsTransportHandle;

// The first byte of a chunked transfer's message names its step; a large command whose
// own first byte looks like one goes in chunks even when it would fit one message, so
// the BMC never mistakes it for a step.
STATIC BOOLEAN KcsLooksLikeStep(CONST UINT8 *Request, UINTN RequestLength) {
  return RequestLength > 0 && Request[0] >= LARGE_COMMAND_STEP_OPEN && Request[0] <= LARGE_COMMAND_STEP_ABORT;
}

// The checks both members share: this instance, a request where one is announced, a
// response length and a buffer for it, and a request network function (an even one).
STATIC EFI_STATUS KcsCheckArguments(MANAGEMENT_TRANSPORT_PROTOCOL *This, UINT16 CommandHeader, VOID *Request,
                                    UINTN RequestLength, VOID *Response, UINT8 *ResponseLength) {
  if (This != &mKcsTransport || (Request == NULL && RequestLength > 0) || ResponseLength == NULL ||
      (Response == NULL && *ResponseLength > 0) || (CommandHeader & (1 << 2)) != 0) {
    return EFI_INVALID_PARAMETER;
  }
  return EFI_SUCCESS;
}

// One plain message: the completion code and response data go to the caller as they fit,
// and the completion code is the status.
STATIC EFI_STATUS KcsSendPlain(UINT16 CommandHeader, CONST UINT8 *Request, UINTN RequestLength, VOID *Response,
                               UINT8 *ResponseLength) {
  UINT8 Reply[KCS_MAX_RESPONSE];
  UINTN ReplyLength;
  EFI_STATUS Status;

  Status = KcsSendRequest(CommandHeader, Request, RequestLength, Reply, sizeof(Reply), &ReplyLength);
  if (EFI_ERROR(Status)) {
    *ResponseLength = 0;
    return Status;
  }
  KcsCopyReply(Reply, ReplyLength, Response, ResponseLength);
  return KcsCompletionCodeStatus(Reply[0]);
}

EFI_STATUS EFIAPI KcsSendCommand(MANAGEMENT_TRANSPORT_PROTOCOL *This, UINT16 CommandHeader, VOID *Request,
                                 UINT8 RequestLength, VOID *Response, UINT8 *ResponseLength, VOID *Reserved) {
  EFI_STATUS Status;

  Status = KcsCheckArguments(This, CommandHeader, Request, RequestLength, Response, ResponseLength);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  if (mKcs.Busy) {
    return EFI_NOT_READY;
  }
  mKcs.Busy = TRUE;
  Status = KcsSendPlain(CommandHeader, (CONST UINT8 *)Request, RequestLength, Response, ResponseLength);
  mKcs.Busy = FALSE;
  return Status;
}

EFI_STATUS EFIAPI KcsSendLargeCommand(MANAGEMENT_TRANSPORT_PROTOCOL *This, UINT16 CommandHeader, VOID *Request,
                                      UINTN RequestLength, VOID *Response, UINT8 *ResponseLength, VOID *Reserved) {
  EFI_STATUS Status;

  Status = KcsCheckArguments(This, CommandHeader, Request, RequestLength, Response, ResponseLength);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  if (mKcs.Busy) {
    return EFI_NOT_READY;
  }
  mKcs.Busy = TRUE;
  if (RequestLength <= KCS_MAX_REQUEST_DATA && !KcsLooksLikeStep((CONST UINT8 *)Request, RequestLength)) {
    Status = KcsSendPlain(CommandHeader, (CONST UINT8 *)Request, RequestLength, Response, ResponseLength);
  } else {
    Status = KcsSendInChunks(CommandHeader, (CONST UINT8 *)Request, RequestLength, Response, ResponseLength);
  }
  mKcs.Busy = FALSE;
  return Status;
}

EFI_STATUS KcsTransportStart(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  EFI_STATUS Status;

  mKcsTransportHandle = NULL;
  Status = gBS->InstallProtocolInterface(&mKcsTransportHandle, &gManagementTransportProtocolGuid, EFI_NATIVE_INTERFACE,
                                         &mKcsTransport);
  DEBUG((DEBUG_INFO, "KCS management transport: %r\n", Status));
  return Status;
}
