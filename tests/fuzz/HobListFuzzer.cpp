// The GUID-HOB lookup over a list of any shape: HOB types, lengths (zero, shorter than a
// header, longer than what is left) and names come from the input. The list starts with
// the hand-off HOB, whose recorded end is where the bytes end, as the DXE core hands every
// list over; nothing after it is trusted. A HOB found must lie wholly inside the list.
#include <Library/HobLib.h>
#include <Uefi.h>

#include <cstring>
#include <vector>

#include "FuzzInput.h"

extern VOID *mHobList;

namespace {

constexpr EFI_GUID kWanted = {0x091AAE73, 0x6D75, 0x479E, {0x8D, 0x16, 0x8E, 0x38, 0xD8, 0xC8, 0x58, 0xC6}};
constexpr size_t kHandoffLength = 56;

}  // namespace

// HOBs after an unpadded one are unaligned: read their length byte-wise.
static UINT16 HobLengthOf(const VOID *Hob) {
  UINT16 Length;
  std::memcpy(&Length, static_cast<const UINT8 *>(Hob) + OFFSET_OF(EFI_HOB_GENERIC_HEADER, HobLength), sizeof(Length));
  return Length;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  if (Size > 0x40000) {
    return 0;
  }
  // Exactly as long as the hand-off HOB and the input (the allocator aligns it to 16), so
  // a read one byte past the end is caught.
  const size_t ListSize = kHandoffLength + Size;
  std::vector<UINT8> Storage(ListSize, 0);
  UINT8 *List = Storage.data();
  auto *Handoff = reinterpret_cast<EFI_HOB_GENERIC_HEADER *>(List);
  Handoff->HobType = EFI_HOB_TYPE_HANDOFF;
  Handoff->HobLength = kHandoffLength;
  const UINT64 End = reinterpret_cast<UINT64>(List) + ListSize;
  std::memcpy(List + 48, &End, sizeof(End));
  if (Size != 0) {
    std::memcpy(List + kHandoffLength, Data, Size);
  }

  mHobList = List;
  unsigned Found = 0;
  for (VOID *Hob = GetFirstGuidHob(&kWanted); Hob != nullptr && Found < ListSize;
       Hob = GetNextGuidHob(&kWanted, static_cast<UINT8 *>(Hob) + HobLengthOf(Hob))) {
    auto *At = static_cast<UINT8 *>(Hob);
    const UINT16 Length = HobLengthOf(Hob);
    FUZZ_CHECK(At >= List + kHandoffLength && At + Length <= List + ListSize);
    FUZZ_CHECK(Length >= sizeof(EFI_HOB_GUID_TYPE));
    FUZZ_CHECK(std::memcmp(At + OFFSET_OF(EFI_HOB_GUID_TYPE, Name), &kWanted, sizeof(kWanted)) == 0);
    // The data a consumer reads through the usual macros stays inside the HOB.
    volatile UINT8 Sink = 0;
    for (UINT16 Index = 0; Index < GET_GUID_HOB_DATA_SIZE(Hob); Index++) {
      Sink = Sink + static_cast<UINT8 *>(GET_GUID_HOB_DATA(Hob))[Index];
    }
    Found++;
  }
  // Each step moves forward by at least a header, so the walk cannot outnumber the bytes.
  FUZZ_CHECK(Found <= ListSize / sizeof(EFI_HOB_GUID_TYPE));
  mHobList = nullptr;
  return 0;
}
