#pragma once
#include <Uefi.h>
#include <Library/BaseLib.h>

EFI_STATUS HobLibConstructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
VOID *GetHobList(VOID);
VOID *GetNextGuidHob(CONST EFI_GUID *Guid, CONST VOID *HobStart);
VOID *GetFirstGuidHob(CONST EFI_GUID *Guid);

#define GET_GUID_HOB_DATA(GuidHob) ((VOID *)(((UINT8 *)(GuidHob)) + sizeof(EFI_HOB_GUID_TYPE)))
// Read byte-wise: a HOB after one of unpadded length need not be aligned.
#define GET_GUID_HOB_DATA_SIZE(GuidHob) \
  ((UINT16)(ReadUnaligned16((UINT8 *)(GuidHob) + OFFSET_OF(EFI_HOB_GENERIC_HEADER, HobLength)) - \
            sizeof(EFI_HOB_GUID_TYPE)))
