// Status codes of a boot-service driver: pool when the TPL allows it, a local buffer above
// TPL_NOTIFY or when pool is short.
#include <Uefi.h>
#include <Library/DebugLib.h>
#include <Library/ReportStatusCodeLib.h>
#include <Library/UefiBootServicesTableLib.h>
#include "ReportStatusCodeCommon.h"

EFI_STATUS ReportStatusCodeEx(EFI_STATUS_CODE_TYPE Type, EFI_STATUS_CODE_VALUE Value, UINT32 Instance,
                              CONST EFI_GUID *CallerId, CONST EFI_GUID *ExtendedDataGuid, CONST VOID *ExtendedData,
                              UINTN ExtendedDataSize) {
  EFI_TPL Tpl;
  EFI_STATUS_CODE_DATA *StatusCodeData;
  UINT64 LocalBuffer[kStatusCodeLocalBufferSize / sizeof(UINT64)];
  BOOLEAN FromPool;
  EFI_STATUS Status;

  if (!ReportStatusCodeDataArgumentsValid(ExtendedData, ExtendedDataSize)) {
    return EFI_INVALID_PARAMETER;
  }
  if (gBS == NULL || gBS->AllocatePool == NULL || gBS->FreePool == NULL) {
    return EFI_UNSUPPORTED;
  }
  // The header's Size field cannot describe more.
  if (ExtendedDataSize > MAX_UINT16) {
    return EFI_INVALID_PARAMETER;
  }

  Tpl = gBS->RaiseTPL(TPL_HIGH_LEVEL);
  gBS->RestoreTPL(Tpl);

  StatusCodeData = NULL;
  if (Tpl <= TPL_NOTIFY) {
    VOID *Pool = NULL;
    if (!EFI_ERROR(gBS->AllocatePool(EfiBootServicesData, sizeof(EFI_STATUS_CODE_DATA) + ExtendedDataSize, &Pool))) {
      StatusCodeData = (EFI_STATUS_CODE_DATA *)Pool;
    }
  }

  FromPool = StatusCodeData != NULL;
  if (!FromPool) {
    if (ExtendedDataSize > kStatusCodeLocalDataMaxSize) {
      DEBUG((DEBUG_ERROR, "Status code extended data is too large to be reported!\n"));
      return EFI_OUT_OF_RESOURCES;
    }
    StatusCodeData = (EFI_STATUS_CODE_DATA *)LocalBuffer;
  }

  ReportStatusCodeFillData(StatusCodeData, ExtendedDataGuid, ExtendedData, ExtendedDataSize);
  Status = ReportStatusCodeDeliver(Type, Value, Instance, CallerId, StatusCodeData, TRUE);

  if (FromPool) {
    gBS->FreePool(StatusCodeData);
  }
  return Status;
}
