#pragma once
#include <Uefi.h>

UINT32 GetDebugPrintErrorLevel(VOID);
EFI_STATUS DebugPrintErrorLevelLibConstructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
EFI_STATUS DebugPrintErrorLevelLibDestructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
