// Status codes of a Traditional MM driver: through the MM status-code protocol, from a
// buffer on the stack. Nothing outside MMRAM is called, so a report made while an MMI is
// handled is as safe as one made at the entry point.
#include <Uefi.h>
#include <Library/MmServicesTableLib.h>
#include <Library/ModuleEntryPoint.h>
#include <Library/ReportStatusCodeLib.h>
#include <Protocol/MmStatusCode.h>
#include "ReportStatusCodeCommon.h"

// Null until a report finds the protocol; a platform without one loses the reports.
static EFI_MM_STATUS_CODE_PROTOCOL *mMmStatusCode = NULL;

EFI_STATUS ReportStatusCodeEx(EFI_STATUS_CODE_TYPE Type, EFI_STATUS_CODE_VALUE Value, UINT32 Instance,
                              CONST EFI_GUID *CallerId, CONST EFI_GUID *ExtendedDataGuid, CONST VOID *ExtendedData,
                              UINTN ExtendedDataSize) {
  UINT64 LocalBuffer[kStatusCodeLocalBufferSize / sizeof(UINT64)];
  EFI_STATUS_CODE_DATA *StatusCodeData;

  if (!ReportStatusCodeDataArgumentsValid(ExtendedData, ExtendedDataSize)) {
    return EFI_INVALID_PARAMETER;
  }
  // No pool here: a larger record is refused rather than reported in part.
  if (ExtendedDataSize > kStatusCodeLocalDataMaxSize) {
    return EFI_OUT_OF_RESOURCES;
  }
  if (gMmst == NULL || gMmst->MmLocateProtocol == NULL) {
    return EFI_UNSUPPORTED;
  }
  if (mMmStatusCode == NULL) {
    EFI_MM_STATUS_CODE_PROTOCOL *Protocol;

    Protocol = NULL;
    if (EFI_ERROR(MmLocateProtocolOf(&Protocol)) || Protocol == NULL) {
      return EFI_UNSUPPORTED;
    }
    mMmStatusCode = Protocol;
  }

  StatusCodeData = (EFI_STATUS_CODE_DATA *)LocalBuffer;
  ReportStatusCodeFillData(StatusCodeData, ExtendedDataGuid, ExtendedData, ExtendedDataSize);
  return mMmStatusCode->ReportStatusCode(mMmStatusCode, Type, Value, Instance,
                                         CallerId != NULL ? CallerId : &gEfiCallerIdGuid, StatusCodeData);
}
