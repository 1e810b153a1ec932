#include "BmcRecorder.h"
#include "BoardOutput.h"
#include "RecordSlots.h"

namespace {

struct BMC_REQUEST {
  BOOLEAN Large;
  UINT16 Header;
  UINT64 Length;
  UINTN DataOffset;
  // The bytes kept: fewer than Length only when the pool ran out.
  UINTN KeptLength;
};

BMC_REQUEST mRequests[BMC_RECORD_MAX];
RECORD_SLOTS mRequestSlots = {BMC_RECORD_MAX, 0, 0};
UINT8 mDataPool[BMC_DATA_POOL_SIZE];
UINTN mDataUsed = 0;

EFI_STATUS Record(BOOLEAN Large, UINT16 Header, CONST VOID *Request, UINT64 Length, UINT8 *ResponseLength) {
  UINTN Slot;
  if (RecordSlotTake(&mRequestSlots, (Length == 0 || Request != NULL) && Length <= BMC_DATA_POOL_SIZE - mDataUsed,
                     &Slot)) {
    BMC_REQUEST *Entry = &mRequests[Slot];
    Entry->Large = Large;
    Entry->Header = Header;
    Entry->Length = Length;
    Entry->DataOffset = mDataUsed;
    Entry->KeptLength = (UINTN)Length;
    CONST UINT8 *From = (CONST UINT8 *)Request;
    for (UINTN Index = 0; Index < (UINTN)Length; Index++) {
      mDataPool[mDataUsed++] = From[Index];
    }
  }
  if (ResponseLength != NULL) {
    *ResponseLength = 1;
  }
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SendCommand(MANAGEMENT_TRANSPORT_PROTOCOL *This, UINT16 CommandHeader, VOID *Request,
                              UINT8 RequestLength, VOID *Response, UINT8 *ResponseLength, VOID *Reserved) {
  if (Response != NULL) {
    *(UINT8 *)Response = 0;
  }
  return Record(FALSE, CommandHeader, Request, RequestLength, ResponseLength);
}

EFI_STATUS EFIAPI SendLargeCommand(MANAGEMENT_TRANSPORT_PROTOCOL *This, UINT16 CommandHeader, VOID *Request,
                                   UINTN RequestLength, VOID *Response, UINT8 *ResponseLength, VOID *Reserved) {
  if (Response != NULL) {
    *(UINT8 *)Response = 0;
  }
  return Record(TRUE, CommandHeader, Request, RequestLength, ResponseLength);
}

MANAGEMENT_TRANSPORT_PROTOCOL mTransport = {SendCommand, SendLargeCommand};

}  // namespace

MANAGEMENT_TRANSPORT_PROTOCOL *BmcRecorderProtocol(VOID) { return &mTransport; }

VOID BmcRecorderReport(VOID) {
  for (UINTN Index = 0; Index < mRequestSlots.Used; Index++) {
    CONST BMC_REQUEST *Entry = &mRequests[Index];
    BoardLineStart(Entry->Large ? "BMC SendLargeCommand header=" : "BMC SendCommand header=");
    BoardAppendHex(Entry->Header);
    BoardAppendText(" length=");
    BoardAppendDecimal(Entry->Length);
    BoardAppendText(" data=");
    BoardAppendBytes(&mDataPool[Entry->DataOffset], Entry->KeptLength);
    BoardLineEnd();
  }
  RecordSlotsSummary(&mRequestSlots, "BOARD BMC-SUMMARY", "requests");
}
