// Status codes of a runtime driver: they keep working after ExitBootServices from a local
// buffer, and the cached protocol pointer follows the switch to virtual addresses.
#include <Uefi.h>
#include <Library/DebugLib.h>
#include <Library/ReportStatusCodeLib.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Library/UefiRuntimeLib.h>
#include "ReportStatusCodeCommon.h"

EFI_EVENT mReportStatusCodeLibVirtualAddressChangeEvent = NULL;
EFI_EVENT mReportStatusCodeLibExitBootServicesEvent = NULL;
BOOLEAN mHaveExitedBootServices = FALSE;

static VOID EFIAPI ReportStatusCodeLibVirtualAddressChange(EFI_EVENT Event, VOID *Context) {
  if (mReportStatusCodeLibStatusCodeProtocol != NULL) {
    EfiConvertPointer(0, (VOID **)(&mReportStatusCodeLibStatusCodeProtocol));
  }
}

// The last chance to find the protocol: after this no boot service may be called.
static VOID EFIAPI ReportStatusCodeLibExitBootServices(EFI_EVENT Event, VOID *Context) {
  ReportStatusCodeLocateProtocol();
  mHaveExitedBootServices = TRUE;
}

EFI_STATUS ReportStatusCodeEx(EFI_STATUS_CODE_TYPE Type, EFI_STATUS_CODE_VALUE Value, UINT32 Instance,
                              CONST EFI_GUID *CallerId, CONST EFI_GUID *ExtendedDataGuid, CONST VOID *ExtendedData,
                              UINTN ExtendedDataSize) {
  UINT64 LocalBuffer[kStatusCodeLocalBufferSize / sizeof(UINT64)];
  EFI_STATUS_CODE_DATA *StatusCodeData;
  BOOLEAN FromPool;
  EFI_STATUS Status;

  if (!ReportStatusCodeDataArgumentsValid(ExtendedData, ExtendedDataSize)) {
    return EFI_INVALID_PARAMETER;
  }

  StatusCodeData = NULL;
  FromPool = FALSE;
  if (mHaveExitedBootServices) {
    if (ExtendedDataSize > kStatusCodeLocalDataMaxSize) {
      return EFI_OUT_OF_RESOURCES;
    }
    StatusCodeData = (EFI_STATUS_CODE_DATA *)LocalBuffer;
  } else {
    if (gBS == NULL || gBS->AllocatePool == NULL || gBS->FreePool == NULL) {
      return EFI_UNSUPPORTED;
    }
    if (ExtendedDataSize > MAX_UINT16) {
      return EFI_INVALID_PARAMETER;
    }
    // Pool may be allocated only at TPL_NOTIFY or below; data that fits the local buffer
    // needs none, so a report at any TPL stays within the firmware's rules.
    if (ExtendedDataSize <= kStatusCodeLocalDataMaxSize) {
      StatusCodeData = (EFI_STATUS_CODE_DATA *)LocalBuffer;
    } else {
      EFI_TPL Tpl = gBS->RaiseTPL(TPL_HIGH_LEVEL);
      VOID *Pool;

      gBS->RestoreTPL(Tpl);
      Pool = NULL;
      if (Tpl > TPL_NOTIFY ||
          EFI_ERROR(gBS->AllocatePool(EfiBootServicesData, sizeof(EFI_STATUS_CODE_DATA) + ExtendedDataSize, &Pool))) {
        return EFI_OUT_OF_RESOURCES;
      }
      StatusCodeData = (EFI_STATUS_CODE_DATA *)Pool;
      FromPool = TRUE;
    }
  }

  ReportStatusCodeFillData(StatusCodeData, ExtendedDataGuid, ExtendedData, ExtendedDataSize);
  Status = ReportStatusCodeDeliver(Type, Value, Instance, CallerId, StatusCodeData, !mHaveExitedBootServices);

  if (FromPool && !mHaveExitedBootServices) {
    gBS->FreePool(StatusCodeData);
  }
  return Status;
}

EFI_STATUS RuntimeReportStatusCodeLibConstructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  EFI_STATUS Status;

  ReportStatusCodeLocateProtocol();
  if (gBS == NULL) {
    return EFI_UNSUPPORTED;
  }

  Status = gBS->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_NOTIFY, ReportStatusCodeLibVirtualAddressChange, NULL,
                              &gEfiEventVirtualAddressChangeGuid, &mReportStatusCodeLibVirtualAddressChangeEvent);
  ASSERT_EFI_ERROR(Status);
  if (EFI_ERROR(Status)) {
    mReportStatusCodeLibVirtualAddressChangeEvent = NULL;
  }

  Status = gBS->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_NOTIFY, ReportStatusCodeLibExitBootServices, NULL,
                              &gEfiEventExitBootServicesGuid, &mReportStatusCodeLibExitBootServicesEvent);
  ASSERT_EFI_ERROR(Status);
  if (EFI_ERROR(Status)) {
    mReportStatusCodeLibExitBootServicesEvent = NULL;
  }
  return EFI_SUCCESS;
}

// Each event is closed once at most: one that was never made, or is already closed, is skipped.
EFI_STATUS RuntimeReportStatusCodeLibDestructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  ASSERT(gBS != NULL_FOR_ASSERT);
  if (gBS == NULL) {
    return EFI_UNSUPPORTED;
  }
  if (mReportStatusCodeLibVirtualAddressChangeEvent != NULL) {
    EFI_STATUS Status = gBS->CloseEvent(mReportStatusCodeLibVirtualAddressChangeEvent);
    ASSERT_EFI_ERROR(Status);
    mReportStatusCodeLibVirtualAddressChangeEvent = NULL;
  }
  if (mReportStatusCodeLibExitBootServicesEvent != NULL) {
    EFI_STATUS Status = gBS->CloseEvent(mReportStatusCodeLibExitBootServicesEvent);
    ASSERT_EFI_ERROR(Status);
    mReportStatusCodeLibExitBootServicesEvent = NULL;
  }
  return EFI_SUCCESS;
}
