// Keeps the image handle, the system table and the boot services for the whole image.
#include <Uefi.h>
#include <Library/DebugLib.h>
#include <Library/UefiBootServicesTableLib.h>

EFI_HANDLE gImageHandle = NULL;
EFI_SYSTEM_TABLE *gST = NULL;
EFI_BOOT_SERVICES *gBS = NULL;

EFI_STATUS UefiBootServicesTableLibConstructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  gImageHandle = ImageHandle;
  ASSERT(gImageHandle != NULL_FOR_ASSERT);

  gST = SystemTable;
  ASSERT(gST != NULL_FOR_ASSERT);

  gBS = SystemTable != NULL ? SystemTable->BootServices : NULL;
  ASSERT(gBS != NULL_FOR_ASSERT);

  return EFI_SUCCESS;
}
