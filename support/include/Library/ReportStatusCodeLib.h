#pragma once
#include <Uefi.h>

EFI_STATUS ReportStatusCodeEx(EFI_STATUS_CODE_TYPE Type, EFI_STATUS_CODE_VALUE Value, UINT32 Instance,
                              CONST EFI_GUID *CallerId, CONST EFI_GUID *ExtendedDataGuid, CONST VOID *ExtendedData,
                              UINTN ExtendedDataSize);
BOOLEAN ReportProgressCodeEnabled(VOID);
BOOLEAN ReportErrorCodeEnabled(VOID);
BOOLEAN ReportDebugCodeEnabled(VOID);

#define REPORT_STATUS_CODE_EX(Type, Value, Instance, CallerId, ExtendedDataGuid, ExtendedData, ExtendedDataSize) \
  (((ReportProgressCodeEnabled() && (((Type)&EFI_STATUS_CODE_TYPE_MASK) == EFI_PROGRESS_CODE)) || \
    (ReportErrorCodeEnabled() && (((Type)&EFI_STATUS_CODE_TYPE_MASK) == EFI_ERROR_CODE)) || \
    (ReportDebugCodeEnabled() && (((Type)&EFI_STATUS_CODE_TYPE_MASK) == EFI_DEBUG_CODE))) \
       ? ReportStatusCodeEx(Type, Value, Instance, CallerId, ExtendedDataGuid, ExtendedData, ExtendedDataSize) \
       : EFI_UNSUPPORTED)

// The runtime instance has a constructor and a destructor; the boot-service instance has none.
EFI_STATUS RuntimeReportStatusCodeLibConstructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
EFI_STATUS RuntimeReportStatusCodeLibDestructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
