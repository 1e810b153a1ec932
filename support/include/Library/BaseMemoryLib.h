// Memory primitives that need no firmware service (usable at any TPL and at runtime).
#pragma once
#include <Uefi.h>

VOID *CopyMem(VOID *Destination, CONST VOID *Source, UINTN Length);
VOID *SetMem(VOID *Buffer, UINTN Length, UINT8 Value);
VOID *ZeroMem(VOID *Buffer, UINTN Length);
INTN CompareMem(CONST VOID *First, CONST VOID *Second, UINTN Length);
BOOLEAN CompareGuid(CONST EFI_GUID *First, CONST EFI_GUID *Second);
EFI_GUID *CopyGuid(EFI_GUID *Destination, CONST EFI_GUID *Source);
