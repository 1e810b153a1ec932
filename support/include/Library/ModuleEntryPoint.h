// The image entry and the lists each driver supplies, as EDK II's build generates them.
#pragma once
#include <Uefi.h>

extern "C" IMAGE_EXPORT EFI_STATUS EFIAPI _ModuleEntryPoint(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

// Per driver (its AutoGen file): required firmware revision (0: none), unload count,
// the constructor and destructor lists and the start routine.
extern const UINT32 _gUefiDriverRevision;
extern const UINT8 _gDriverUnloadImageCount;
VOID ProcessLibraryConstructorList(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
VOID ProcessLibraryDestructorList(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
EFI_STATUS ProcessModuleEntryPointList(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
EFI_STATUS ProcessModuleUnloadList(EFI_HANDLE ImageHandle);

// The driver's own file GUID and base name, the caller identity of its status codes.
extern const EFI_GUID gEfiCallerIdGuid;
extern const CHAR8 *const gEfiCallerBaseName;
