#include "StatusCodeCapture.h"
#include "BoardOutput.h"
#include <Protocol/ReportStatusCodeHandler.h>

namespace {

CONST CHAR8 *CONST kCallerNames[] = {"Roster", "Hotlatch", "KcsTransport"};

#pragma pack(push, 1)
struct CAPTURED_RECORD_HEADER {
  UINT32 Type;
  UINT32 Value;
  UINT32 Instance;
  UINT8 Caller;
  UINT8 Reserved;
  UINT16 DataLength;
};
#pragma pack(pop)

UINT8 mPool[STATUS_CAPTURE_POOL_SIZE];
UINTN mPoolUsed = 0;
UINTN mRecordCount = 0;
UINTN mDroppedCount = 0;
EFI_RSC_HANDLER_PROTOCOL *mRscHandler = NULL;

BOOLEAN SameGuid(CONST EFI_GUID *Left, CONST EFI_GUID *Right) {
  CONST UINT8 *A = (CONST UINT8 *)Left;
  CONST UINT8 *B = (CONST UINT8 *)Right;
  for (UINTN Index = 0; Index < sizeof(EFI_GUID); Index++) {
    if (A[Index] != B[Index]) {
      return FALSE;
    }
  }
  return TRUE;
}

// Runs at TPL_HIGH_LEVEL inside the reporter's call: no boot services, no allocation,
// and no console output, only copies into the static pool.
EFI_STATUS EFIAPI CaptureStatusCode(EFI_STATUS_CODE_TYPE CodeType, EFI_STATUS_CODE_VALUE Value, UINT32 Instance,
                                    EFI_GUID *CallerId, EFI_STATUS_CODE_DATA *Data) {
  if (CallerId == NULL) {
    return EFI_SUCCESS;
  }
  UINT8 Caller;
  if (SameGuid(CallerId, &gRosterFileGuid)) {
    Caller = 0;
  } else if (SameGuid(CallerId, &gHotlatchFileGuid)) {
    Caller = 1;
  } else if (SameGuid(CallerId, &gKcsTransportFileGuid)) {
    Caller = 2;
  } else {
    return EFI_SUCCESS;
  }
  UINTN DataLength = 0;
  if (Data != NULL) {
    DataLength = (UINTN)Data->HeaderSize + Data->Size;
    if (DataLength > STATUS_CAPTURE_RECORD_DATA_MAX) {
      DataLength = STATUS_CAPTURE_RECORD_DATA_MAX;
    }
  }
  if (sizeof(CAPTURED_RECORD_HEADER) + DataLength > STATUS_CAPTURE_POOL_SIZE - mPoolUsed) {
    mDroppedCount++;
    return EFI_SUCCESS;
  }
  CAPTURED_RECORD_HEADER Header = {CodeType, Value, Instance, Caller, 0, (UINT16)DataLength};
  CONST UINT8 *From = (CONST UINT8 *)&Header;
  for (UINTN Index = 0; Index < sizeof(Header); Index++) {
    mPool[mPoolUsed++] = From[Index];
  }
  From = (CONST UINT8 *)Data;
  for (UINTN Index = 0; Index < DataLength; Index++) {
    mPool[mPoolUsed++] = From[Index];
  }
  mRecordCount++;
  return EFI_SUCCESS;
}

}  // namespace

EFI_STATUS StatusCodeCaptureStart(EFI_BOOT_SERVICES *BootServices) {
  EFI_STATUS Status = BootServices->LocateProtocol(&gEfiRscHandlerProtocolGuid, NULL, (VOID **)&mRscHandler);
  if (EFI_ERROR(Status)) {
    mRscHandler = NULL;
    return Status;
  }
  return mRscHandler->Register(CaptureStatusCode, TPL_HIGH_LEVEL);
}

VOID StatusCodeCaptureStop(VOID) {
  if (mRscHandler != NULL) {
    mRscHandler->Unregister(CaptureStatusCode);
    mRscHandler = NULL;
  }
}

UINTN StatusCodeCaptureCount(VOID) { return mRecordCount; }

VOID StatusCodeCaptureReport(VOID) {
  UINTN Offset = 0;
  for (UINTN Number = 0; Number < mRecordCount; Number++) {
    CAPTURED_RECORD_HEADER Header;
    UINT8 *To = (UINT8 *)&Header;
    for (UINTN Index = 0; Index < sizeof(Header); Index++) {
      To[Index] = mPool[Offset++];
    }
    BoardLineStart("BOARD STATUS");
    BoardAppendField("n", Number);
    BoardAppendText(" caller=");
    BoardAppendText(kCallerNames[Header.Caller]);
    BoardAppendField("type", Header.Type);
    BoardAppendField("value", Header.Value);
    BoardAppendField("instance", Header.Instance);
    BoardAppendText(" data=");
    BoardAppendBytes(&mPool[Offset], Header.DataLength);
    BoardLineEnd();
    Offset += Header.DataLength;
  }
  BoardLineStart("BOARD STATUS-SUMMARY");
  BoardAppendField("records", mRecordCount);
  BoardAppendField("dropped", mDroppedCount);
  BoardLineEnd();
}
