// The probe's own part beside the AutoGen.cpp generated from SupportProbe*.module: its
// start routine, which returns the status a test chose, and the table the tests call through.
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

extern "C" IMAGE_EXPORT EFI_STATUS gSupportProbeStartStatus;
EFI_STATUS gSupportProbeStartStatus = EFI_SUCCESS;

// The start routine SupportProbe*.module name.
EFI_STATUS SupportProbeStart(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) { return gSupportProbeStartStatus; }

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
