// Keeps the image handle, the system table and the boot services for the whole image.
#include <Uefi.h>
#include <Library/DebugLib.h>
#include <Library/UefiBootServicesTableLib.h>

EFI_HANDLE gImageHandle = nullptr;
EFI_SYSTEM_TABLE *gST = nullptr;
EFI_BOOT_SERVICES *gBS = nullptr;

EFI_STATUS UefiBootServicesTableLibConstructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  gImageHandle = ImageHandle;
  ASSERT(gImageHandle != ((void *) 0));

  gST = SystemTable;
  ASSERT(gST != ((void *) 0));

  gBS = SystemTable != nullptr ? SystemTable->BootServices : nullptr;
  ASSERT(gBS != ((void *) 0));

  return EFI_SUCCESS;
}
