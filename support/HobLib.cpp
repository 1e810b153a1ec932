// The HOB list handed over by the PEI phase, found once in the configuration table.
// The walk never trusts a length blindly: a HOB shorter than its header ends the walk (a
// zero length would otherwise loop for ever), and when the list starts with the hand-off
// HOB its recorded end bounds the walk as well.
#include <Uefi.h>
#include <Library/BaseLib.h>
#include <Library/BaseMemoryLib.h>
#include <Library/DebugLib.h>
#include <Library/HobLib.h>
#include <Library/UefiLib.h>

VOID *mHobList = NULL;

// The hand-off HOB's field that records where the list ends.
static constexpr UINTN kHandoffEndOfHobListOffset = 48;
static constexpr UINTN kHandoffMinimumLength = kHandoffEndOfHobListOffset + sizeof(UINT64);

EFI_STATUS HobLibConstructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  EFI_STATUS Status;

  mHobList = NULL;
  Status = EfiGetSystemConfigurationTable(&gEfiHobListGuid, &mHobList);
  ASSERT_EFI_ERROR(Status);
  ASSERT(mHobList != NULL_FOR_ASSERT);
  return EFI_SUCCESS;
}

VOID *GetHobList(VOID) {
  if (mHobList == NULL) {
    EFI_STATUS Status = EfiGetSystemConfigurationTable(&gEfiHobListGuid, &mHobList);
    ASSERT_EFI_ERROR(Status);
    ASSERT(mHobList != NULL_FOR_ASSERT);
  }
  return mHobList;
}

// The end address the hand-off HOB records, or 0 when the list does not start with one.
static UINTN HobListEnd(CONST UINT8 *ListStart) {
  UINT64 End;

  if (ReadUnaligned16(ListStart + OFFSET_OF(EFI_HOB_GENERIC_HEADER, HobType)) != EFI_HOB_TYPE_HANDOFF ||
      ReadUnaligned16(ListStart + OFFSET_OF(EFI_HOB_GENERIC_HEADER, HobLength)) < kHandoffMinimumLength) {
    return 0;
  }
  End = ReadUnaligned64(ListStart + kHandoffEndOfHobListOffset);
  return End > (UINTN)ListStart ? (UINTN)End : 0;
}

VOID *GetNextGuidHob(CONST EFI_GUID *Guid, CONST VOID *HobStart) {
  CONST UINT8 *Hob;
  CONST UINT8 *ListStart;
  UINTN End;

  if (Guid == NULL || HobStart == NULL) {
    return NULL;
  }
  Hob = (CONST UINT8 *)HobStart;
  ListStart = (CONST UINT8 *)GetHobList();
  End = (ListStart != NULL && HobStart >= ListStart) ? HobListEnd(ListStart) : 0;

  for (;;) {
    UINT16 HobType;
    UINT16 HobLength;

    if (End != 0 && (UINTN)Hob + sizeof(EFI_HOB_GENERIC_HEADER) > End) {
      return NULL;
    }
    // A producer that breaks the 8-byte rule leaves the next header unaligned: read fields
    // byte-wise rather than through the structure.
    HobType = ReadUnaligned16(Hob + OFFSET_OF(EFI_HOB_GENERIC_HEADER, HobType));
    HobLength = ReadUnaligned16(Hob + OFFSET_OF(EFI_HOB_GENERIC_HEADER, HobLength));
    if (HobType == EFI_HOB_TYPE_END_OF_HOB_LIST || HobLength < sizeof(EFI_HOB_GENERIC_HEADER)) {
      return NULL;
    }
    if (End != 0 && (UINTN)Hob + HobLength > End) {
      return NULL;
    }
    if (HobType == EFI_HOB_TYPE_GUID_EXTENSION && HobLength >= sizeof(EFI_HOB_GUID_TYPE)) {
      EFI_GUID Name;

      CopyMem(&Name, Hob + OFFSET_OF(EFI_HOB_GUID_TYPE, Name), sizeof(Name));
      if (CompareGuid(&Name, Guid)) {
        return (UINT8 *)Hob;
      }
    }
    Hob += HobLength;
  }
}

VOID *GetFirstGuidHob(CONST EFI_GUID *Guid) {
  VOID *HobList = GetHobList();
  return GetNextGuidHob(Guid, HobList);
}
