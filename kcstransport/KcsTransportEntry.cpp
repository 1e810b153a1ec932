// The management transport protocol over KCS: its two members and the driver's start,
// which installs the protocol. The interface is looked at only when a request comes, so
// a board without a BMC pays nothing at boot.
#include <Library/DebugLib.h>
#include <Library/UefiBootServicesTableLib.h>

#include "KcsTransport.h"

KCS_INTERFACE mKcs;
STATIC MANAGEMENT_TRANSPORT_PROTOCOL mKcsTransport = {KcsSendCommand, KcsSendLargeCommand};
STATIC EFI_HANDLE mKcsTransportHandle;

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

// Both members after their shared checks, one call at a time: a call from a notification
// at a higher TPL must not cut into the bytes of one under way. Large commands always go as
// a transfer, even when one message would hold them: the BMC reads every request under a
// large command's header as a transfer step, so a short image whose first byte happened to
// name no step must not go plain.
STATIC EFI_STATUS KcsSendExclusive(MANAGEMENT_TRANSPORT_PROTOCOL *This, UINT16 CommandHeader, VOID *Request,
                                   UINTN RequestLength, VOID *Response, UINT8 *ResponseLength, BOOLEAN Large) {
  EFI_STATUS Status;

  Status = KcsCheckArguments(This, CommandHeader, Request, RequestLength, Response, ResponseLength);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  if (mKcs.Busy) {
    return EFI_NOT_READY;
  }
  mKcs.Busy = TRUE;
  if (Large) {
    Status = KcsSendInChunks(CommandHeader, (CONST UINT8 *)Request, RequestLength, Response, ResponseLength);
  } else {
    Status = KcsSendPlain(CommandHeader, (CONST UINT8 *)Request, RequestLength, Response, ResponseLength);
  }
  mKcs.Busy = FALSE;
  return Status;
}

EFI_STATUS EFIAPI KcsSendCommand(MANAGEMENT_TRANSPORT_PROTOCOL *This, UINT16 CommandHeader, VOID *Request,
                                 UINT8 RequestLength, VOID *Response, UINT8 *ResponseLength, VOID *Reserved) {
  return KcsSendExclusive(This, CommandHeader, Request, RequestLength, Response, ResponseLength, FALSE);
}

EFI_STATUS EFIAPI KcsSendLargeCommand(MANAGEMENT_TRANSPORT_PROTOCOL *This, UINT16 CommandHeader, VOID *Request,
                                      UINTN RequestLength, VOID *Response, UINT8 *ResponseLength, VOID *Reserved) {
  return KcsSendExclusive(This, CommandHeader, Request, RequestLength, Response, ResponseLength, TRUE);
}

EFI_STATUS KcsTransportStart(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  EFI_STATUS Status;

  mKcsTransportHandle = NULL;
  Status = gBS->InstallProtocolInterface(&mKcsTransportHandle, &gManagementTransportProtocolGuid, EFI_NATIVE_INTERFACE,
                                         &mKcsTransport);
  DEBUG((DEBUG_INFO, "KCS management transport: %r\n", Status));
  return Status;
}
