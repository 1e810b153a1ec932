// Keeps the runtime services for the whole image.
#include <Uefi.h>
#include <Library/DebugLib.h>
#include <Library/UefiRuntimeServicesTableLib.h>

EFI_RUNTIME_SERVICES *gRT = nullptr;

EFI_STATUS UefiRuntimeServicesTableLibConstructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  ASSERT(SystemTable != ((void *) 0));
  gRT = SystemTable != nullptr ? SystemTable->RuntimeServices : nullptr;
  ASSERT(gRT != ((void *) 0));
  return EFI_SUCCESS;
}
