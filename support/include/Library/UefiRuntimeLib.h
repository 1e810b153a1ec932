#pragma once
#include <Uefi.h>

EFI_STATUS EfiConvertPointer(UINTN DebugDisposition, VOID **Address);
BOOLEAN EfiAtRuntime(VOID);
BOOLEAN EfiGoneVirtual(VOID);
EFI_STATUS UefiRuntimeLibConstructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
EFI_STATUS UefiRuntimeLibDestructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
