// Boot-services pool (EfiBootServicesData) and runtime-services pool (EfiRuntimeServicesData), as
// the EDK II library hands them out.
#pragma once
#include <Uefi.h>

VOID *AllocatePool(UINTN AllocationSize);
VOID *AllocateZeroPool(UINTN AllocationSize);
VOID *AllocateRuntimePool(UINTN AllocationSize);
VOID FreePool(VOID *Buffer);
