// Boot-services pool (EfiBootServicesData), as the EDK II library hands it out.
#pragma once
#include <Uefi.h>

VOID *AllocatePool(UINTN AllocationSize);
VOID *AllocateZeroPool(UINTN AllocationSize);
VOID FreePool(VOID *Buffer);
