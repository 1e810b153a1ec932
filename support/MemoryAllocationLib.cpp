// Boot-services pool of type EfiBootServicesData, or EfiRuntimeServicesData for the runtime
// variant; a failed allocation is a null pointer.
#include <Uefi.h>
#include <Library/BaseMemoryLib.h>
#include <Library/DebugLib.h>
#include <Library/MemoryAllocationLib.h>
#include <Library/UefiBootServicesTableLib.h>

VOID *AllocatePool(UINTN AllocationSize) {
  VOID *Buffer = NULL;
  EFI_STATUS Status = gBS->AllocatePool(EfiBootServicesData, AllocationSize, &Buffer);
  if (EFI_ERROR(Status)) {
    return NULL;
  }
  return Buffer;
}

VOID *AllocateRuntimePool(UINTN AllocationSize) {
  VOID *Buffer = NULL;
  EFI_STATUS Status = gBS->AllocatePool(EfiRuntimeServicesData, AllocationSize, &Buffer);
  if (EFI_ERROR(Status)) {
    return NULL;
  }
  return Buffer;
}

VOID *AllocateZeroPool(UINTN AllocationSize) {
  VOID *Buffer = AllocatePool(AllocationSize);
  if (Buffer != NULL) {
    ZeroMem(Buffer, AllocationSize);
  }
  return Buffer;
}

VOID FreePool(VOID *Buffer) {
  EFI_STATUS Status = gBS->FreePool(Buffer);
  ASSERT_EFI_ERROR(Status);
}
