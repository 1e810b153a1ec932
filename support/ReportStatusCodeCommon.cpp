#include <Uefi.h>
#include <Library/BaseMemoryLib.h>
#include <Library/DebugLib.h>
#include <Library/ModuleEntryPoint.h>
#include <Library/ReportStatusCodeLib.h>
#include <Library/UefiBootServicesTableLib.h>
#include "ReportStatusCodeCommon.h"

EFI_STATUS_CODE_PROTOCOL *mReportStatusCodeLibStatusCodeProtocol = NULL;

BOOLEAN ReportProgressCodeEnabled(VOID) { return (PcdReportStatusCodePropertyMask & 0x01) != 0; }
BOOLEAN ReportErrorCodeEnabled(VOID) { return (PcdReportStatusCodePropertyMask & 0x02) != 0; }
BOOLEAN ReportDebugCodeEnabled(VOID) { return (PcdReportStatusCodePropertyMask & 0x04) != 0; }

VOID ReportStatusCodeLocateProtocol(VOID) {
  EFI_TPL Tpl;
  EFI_STATUS_CODE_PROTOCOL *Protocol;

  if (mReportStatusCodeLibStatusCodeProtocol != NULL || gBS == NULL || gBS->LocateProtocol == NULL) {
    return;
  }
  // The protocol services may not be called above TPL_NOTIFY: a report made there before
  // the protocol was ever found is lost, and a later one at a lower level looks again.
  Tpl = gBS->RaiseTPL(TPL_HIGH_LEVEL);
  gBS->RestoreTPL(Tpl);
  if (Tpl > TPL_NOTIFY) {
    return;
  }
  Protocol = NULL;
  if (!EFI_ERROR(LocateProtocolOf(&Protocol))) {
    mReportStatusCodeLibStatusCodeProtocol = Protocol;
  }
}

BOOLEAN ReportStatusCodeDataArgumentsValid(CONST VOID *ExtendedData, UINTN ExtendedDataSize) {
  ASSERT(!((ExtendedData == NULL_FOR_ASSERT) && (ExtendedDataSize != 0)));
  ASSERT(!((ExtendedData != NULL_FOR_ASSERT) && (ExtendedDataSize == 0)));
  return (ExtendedData == NULL) == (ExtendedDataSize == 0) ? TRUE : FALSE;
}

VOID ReportStatusCodeFillData(EFI_STATUS_CODE_DATA *StatusCodeData, CONST EFI_GUID *ExtendedDataGuid,
                              CONST VOID *ExtendedData, UINTN ExtendedDataSize) {
  StatusCodeData->HeaderSize = (UINT16)sizeof(EFI_STATUS_CODE_DATA);
  StatusCodeData->Size = (UINT16)ExtendedDataSize;
  CopyGuid(&StatusCodeData->Type, ExtendedDataGuid != NULL ? ExtendedDataGuid : &gEfiStatusCodeSpecificDataGuid);
  if (ExtendedDataSize != 0) {
    CopyMem(StatusCodeData + 1, ExtendedData, ExtendedDataSize);
  }
}

static BOOLEAN StatusCodeTypeEnabled(EFI_STATUS_CODE_TYPE Type) {
  switch (Type & EFI_STATUS_CODE_TYPE_MASK) {
    case EFI_PROGRESS_CODE:
      return ReportProgressCodeEnabled();
    case EFI_ERROR_CODE:
      return ReportErrorCodeEnabled();
    case EFI_DEBUG_CODE:
      return ReportDebugCodeEnabled();
    default:
      return FALSE;
  }
}

EFI_STATUS ReportStatusCodeDeliver(EFI_STATUS_CODE_TYPE Type, EFI_STATUS_CODE_VALUE Value, UINT32 Instance,
                                   CONST EFI_GUID *CallerId, EFI_STATUS_CODE_DATA *Data, BOOLEAN MayLocate) {
  if (!StatusCodeTypeEnabled(Type)) {
    return EFI_UNSUPPORTED;
  }
  if (MayLocate) {
    ReportStatusCodeLocateProtocol();
  }
  if (mReportStatusCodeLibStatusCodeProtocol == NULL) {
    return EFI_UNSUPPORTED;
  }
  return mReportStatusCodeLibStatusCodeProtocol->ReportStatusCode(
      Type, Value, Instance, CallerId != NULL ? CallerId : &gEfiCallerIdGuid, Data);
}
