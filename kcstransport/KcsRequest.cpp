// One IPMI request over KCS and what its answer means to the caller.
#include <Library/BaseMemoryLib.h>

#include "KcsTransport.h"

EFI_STATUS KcsSendRequest(UINT16 CommandHeader, CONST UINT8 *Data, UINTN DataLength, UINT8 *Reply, UINTN Capacity,
                          UINTN *ReplyLength) {
  UINT8 Message[KCS_MAX_REQUEST];
  UINT8 Response[KCS_MAX_RESPONSE];
  UINTN ResponseLength;
  EFI_STATUS Status;

  *ReplyLength = 0;
  if (DataLength > KCS_MAX_REQUEST_DATA) {
    return EFI_BAD_BUFFER_SIZE;
  }
  if (!mKcs.Located) {
    KcsLocateInterface(&mKcs);
  }
  Message[0] = (UINT8)CommandHeader;
  Message[1] = (UINT8)(CommandHeader >> 8);
  if (DataLength > 0) {
    CopyMem(Message + 2, Data, DataLength);
  }
  Status = KcsTransact(&mKcs, Message, DataLength + 2, Response, sizeof(Response), &ResponseLength);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  // A response names the request's network function plus one, its LUN and its command;
  // anything else (a late answer to an earlier request, a confused BMC) is no answer here.
  if (ResponseLength < 3 || Response[0] != (UINT8)(Message[0] | (1 << 2)) || Response[1] != Message[1]) {
    return EFI_DEVICE_ERROR;
  }
  *ReplyLength = ResponseLength - 2 < Capacity ? ResponseLength - 2 : Capacity;
  CopyMem(Reply, Response + 2, *ReplyLength);
  return EFI_SUCCESS;
}

EFI_STATUS KcsCompletionCodeStatus(UINT8 CompletionCode) {
  switch (CompletionCode) {
    case IPMI_CC_SUCCESS:
      return EFI_SUCCESS;
    case IPMI_CC_NODE_BUSY:
      return EFI_NOT_READY;
    case IPMI_CC_TIMEOUT:
      return EFI_TIMEOUT;
    case IPMI_CC_INVALID_COMMAND:
      return EFI_UNSUPPORTED;
    case IPMI_CC_OUT_OF_SPACE:
      return EFI_OUT_OF_RESOURCES;
    case IPMI_CC_REQUEST_DATA_LENGTH_INVALID:
    case IPMI_CC_REQUEST_DATA_TOO_LONG:
    case IPMI_CC_CANNOT_RETURN_REQUESTED_LENGTH:
      return EFI_BAD_BUFFER_SIZE;
    default:
      return EFI_DEVICE_ERROR;
  }
}

VOID KcsCopyReply(CONST UINT8 *Reply, UINTN ReplyLength, VOID *Response, UINT8 *ResponseLength) {
  UINTN Length;

  Length = ReplyLength < *ResponseLength ? ReplyLength : *ResponseLength;
  if (Length > 0) {
    CopyMem(Response, Reply, Length);
  }
  *ResponseLength = (UINT8)Length;
}
