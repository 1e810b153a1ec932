// The build settings are compile-time constants (Library/DebugLib.h), so the library has
// nothing to set up; it keeps its place in the constructor and destructor lists.
#include <Uefi.h>
#include <Library/PcdLib.h>

EFI_STATUS PcdLibConstructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) { return EFI_SUCCESS; }

EFI_STATUS PcdLibDestructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) { return EFI_SUCCESS; }
