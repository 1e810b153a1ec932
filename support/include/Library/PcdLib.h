#pragma once
#include <Uefi.h>

// The build settings are compile-time constants (DebugLib.h); the library keeps its place
// in the constructor and destructor lists.
EFI_STATUS PcdLibConstructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
EFI_STATUS PcdLibDestructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
