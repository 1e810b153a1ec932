// Keeps the runtime services for the whole image.
#include <Uefi.h>
#include <Library/DebugLib.h>
#include <Library/UefiRuntimeServicesTableLib.h>

EFI_RUNTIME_SERVICES *gRT = NULL;

EFI_STATUS UefiRuntimeServicesTableLibConstructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  ASSERT(SystemTable != NULL_FOR_ASSERT);
  gRT = SystemTable != NULL ? SystemTable->RuntimeServices : NULL;
  ASSERT(gRT != NULL_FOR_ASSERT);
  return EFI_SUCCESS;
}
