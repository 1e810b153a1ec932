// Keeps the image handle, the system table and the boot services for the whole image.
#include <Uefi.h>
#include <Library/DebugLib.h>
#include <Library/UefiBootServicesTableLib.h>

EFI_HANDLE gImageHandle = nullptr;
EFI_SYSTEM_TABLE *gST = nullptr;
EFI_BOOT_SERVICES *gBS = nullptr;

EFI_STATUS UefiBootServicesTableLibConstructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  gImageHandle = ImageHandle;
  ASSERT(gImageHandle != NULL_FOR_ASSERT);

  gST = SystemTable;
  ASSERT(gST != NULL_FOR_ASSERT);

  gBS = SystemTable != nullptr ? SystemTable->BootServices : nullptr;
  ASSERT(gBS != NULL_FOR_ASSERT);

  return EFI_SUCCESS;
}
