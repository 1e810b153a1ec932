#pragma once
#include <Uefi.h>

EFI_STATUS DxeTscTimerLibConstructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
UINT64 GetPerformanceCounterProperties(UINT64 *StartValue, UINT64 *EndValue);
