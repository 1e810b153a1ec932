// What the build would generate for a driver made of the support layer alone: the caller
// identity, the library lists in the drivers' orders, and a start routine that does
// nothing but return the status a test chose.
#include <Uefi.h>
#include <Library/BaseLib.h>
#include <Library/DebugLib.h>
#include <Library/DebugPrintErrorLevelLib.h>
#include <Library/HobLib.h>
#include <Library/ModuleEntryPoint.h>
#include <Library/PcdLib.h>
#include <Library/PeCoffGetEntryPointLib.h>
#include <Library/PrintLib.h>
#include <Library/ReportStatusCodeLib.h>
#include <Library/S3BootScriptLib.h>
#include <Library/TimerLib.h>
#include <Library/UefiBootServicesTableLib.h>
#include <Library/UefiLib.h>
#include <Library/UefiRuntimeLib.h>
#include <Library/UefiRuntimeServicesTableLib.h>
#include <DeadLoopReport.h>
#include <DebugMessageConfig.h>

#include "SupportProbe.h"

const UINT32 _gUefiDriverRevision = 0;
const UINT8 _gDriverUnloadImageCount = 0;
// The test image's own file GUID.
const EFI_GUID gEfiCallerIdGuid = {0x5E2C1A77, 0x3B0D, 0x4F6A, {0x9C, 0x11, 0x7D, 0x20, 0x45, 0xAB, 0xC3, 0x18}};
const CHAR8 *const gEfiCallerBaseName = "SupportProbe";

extern "C" IMAGE_EXPORT EFI_STATUS gSupportProbeStartStatus;
EFI_STATUS gSupportProbeStartStatus = EFI_SUCCESS;

VOID ProcessLibraryConstructorList(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  EFI_STATUS Status = UefiRuntimeServicesTableLibConstructor(ImageHandle, SystemTable);
  ASSERT_EFI_ERROR(Status);
  Status = UefiBootServicesTableLibConstructor(ImageHandle, SystemTable);
  ASSERT_EFI_ERROR(Status);
  Status = PcdLibConstructor(ImageHandle, SystemTable);
  ASSERT_EFI_ERROR(Status);
  Status = HobLibConstructor(ImageHandle, SystemTable);
  ASSERT_EFI_ERROR(Status);
  Status = DebugPrintErrorLevelLibConstructor(ImageHandle, SystemTable);
  ASSERT_EFI_ERROR(Status);
#if SUPPORT_PROBE_RUNTIME
  Status = UefiRuntimeLibConstructor(ImageHandle, SystemTable);
  ASSERT_EFI_ERROR(Status);
  Status = RuntimeReportStatusCodeLibConstructor(ImageHandle, SystemTable);
  ASSERT_EFI_ERROR(Status);
#endif
  Status = DxeTscTimerLibConstructor(ImageHandle, SystemTable);
  ASSERT_EFI_ERROR(Status);
  Status = S3BootScriptLibInitialize(ImageHandle, SystemTable);
  ASSERT_EFI_ERROR(Status);
}

VOID ProcessLibraryDestructorList(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  EFI_STATUS Status = S3BootScriptLibDeinitialize(ImageHandle, SystemTable);
  ASSERT_EFI_ERROR(Status);
#if SUPPORT_PROBE_RUNTIME
  Status = RuntimeReportStatusCodeLibDestructor(ImageHandle, SystemTable);
  ASSERT_EFI_ERROR(Status);
  Status = UefiRuntimeLibDestructor(ImageHandle, SystemTable);
  ASSERT_EFI_ERROR(Status);
#endif
  Status = DebugPrintErrorLevelLibDestructor(ImageHandle, SystemTable);
  ASSERT_EFI_ERROR(Status);
  Status = PcdLibDestructor(ImageHandle, SystemTable);
  ASSERT_EFI_ERROR(Status);
}

EFI_STATUS ProcessModuleEntryPointList(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  return gSupportProbeStartStatus;
}

EFI_STATUS ProcessModuleUnloadList(EFI_HANDLE ImageHandle) { return EFI_SUCCESS; }

static UINT32 AssertEfiError(EFI_STATUS Status) {
  UINT32 Line = __LINE__ + 1;
  ASSERT_EFI_ERROR(Status);
  return Line;
}

static VOID FilteredDebug(VOID) { DEBUG((DEBUG_INFO, "Filtered %d\n", 1)); }

static VOID MacroDebug(UINTN Level) { DEBUG((Level, "macro\n")); }

static UINT64 TscFrequency(VOID) { return GetPerformanceCounterProperties(nullptr, nullptr); }

static const SUPPORT_PROBE mSupportProbe = {
    DebugPrint,
    DebugAssert,
    AssertEfiError,
    FilteredDebug,
    MacroDebug,
    GetDebugPrintErrorLevel,
    DecodeDebugMessageConfig,
    ReportStatusCodeEx,
    CpuDeadLoop,
    ReportCallerModule,
    GetModuleNameFromPdb,
    PeCoffLoaderGetPdbPointer,
    AsciiSPrint,
    GetFirstGuidHob,
    ProcessLibraryDestructorList,
#if SUPPORT_PROBE_RUNTIME
    RuntimeReportStatusCodeLibDestructor,
#else
    nullptr,
#endif
    DebugPrintErrorLevelLibDestructor,
    TscFrequency,
    EfiCreateProtocolNotifyEvent,
};

extern "C" IMAGE_EXPORT const SUPPORT_PROBE *SupportProbe() { return &mSupportProbe; }
