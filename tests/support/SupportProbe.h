// A test image built from the support layer alone: the simulator loads it like a driver
// (fresh module state on every load) and the tests reach the layer through this table.
#pragma once
#include <Uefi.h>

struct SUPPORT_PROBE {
  VOID (*DebugPrint)(UINTN ErrorLevel, CONST CHAR8 *Format, ...);
  VOID (*DebugAssert)(CONST CHAR8 *FileName, UINTN LineNumber, CONST CHAR8 *Description);
  // ASSERT_EFI_ERROR (Status) compiled in the image; returns the line it sits on.
  UINT32 (*AssertEfiError)(EFI_STATUS Status);
  // A DEBUG at DEBUG_INFO, for the cost of a message the mask filters out.
  VOID (*FilteredDebug)(VOID);
  // DEBUG ((Level, "macro\n")) written as a driver writes it: the macro's own filter included.
  VOID (*MacroDebug)(UINTN Level);
  UINT32 (*GetDebugPrintErrorLevel)(VOID);
  UINT32 (*DecodeDebugMessageConfig)(CONST UINT8 *Config);
  EFI_STATUS(*ReportStatusCodeEx)
  (EFI_STATUS_CODE_TYPE Type, EFI_STATUS_CODE_VALUE Value, UINT32 Instance, CONST EFI_GUID *CallerId,
   CONST EFI_GUID *ExtendedDataGuid, CONST VOID *ExtendedData, UINTN ExtendedDataSize);
  VOID (*CpuDeadLoop)(VOID);
  VOID (*ReportCallerModule)(UINTN Address);
  EFI_STATUS (*GetModuleNameFromPdb)(VOID *ImageBase, CHAR8 *NameBuffer, UINTN BufferSize);
  VOID *(*PeCoffLoaderGetPdbPointer)(VOID *Pe32Data);
  UINTN (*AsciiSPrint)(CHAR8 *Buffer, UINTN BufferSize, CONST CHAR8 *Format, ...);
  VOID *(*GetFirstGuidHob)(CONST EFI_GUID *Guid);
  VOID (*ProcessLibraryDestructorList)(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
  EFI_STATUS (*RuntimeDestructor)(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);  // null in the DXE image
  EFI_STATUS (*DebugLevelDestructor)(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
  UINT64 (*TscFrequency)(VOID);
  EFI_EVENT(*CreateProtocolNotifyEvent)
  (CONST EFI_GUID *ProtocolGuid, EFI_TPL NotifyTpl, EFI_EVENT_NOTIFY NotifyFunction, VOID *NotifyContext,
   VOID **Registration);
};

// Exported by the probe image: the table, and the status its start routine returns.
using SupportProbeFunction = const SUPPORT_PROBE *(*)();
inline constexpr const char *kSupportProbeSymbol = "SupportProbe";
inline constexpr const char *kSupportProbeStartStatusSymbol = "gSupportProbeStartStatus";
