#pragma once
#include <Uefi.h>

EFI_STATUS HobLibConstructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
VOID *GetHobList(VOID);
VOID *GetNextGuidHob(CONST EFI_GUID *Guid, CONST VOID *HobStart);
VOID *GetFirstGuidHob(CONST EFI_GUID *Guid);

#define GET_GUID_HOB_DATA(GuidHob) ((VOID *)(((UINT8 *)(GuidHob)) + sizeof(EFI_HOB_GUID_TYPE)))
#define GET_GUID_HOB_DATA_SIZE(GuidHob) \
  ((UINT16)(((EFI_HOB_GENERIC_HEADER *)(GuidHob))->HobLength - sizeof(EFI_HOB_GUID_TYPE)))
