// The inventory's SMBIOS field readers over one structure of any content: string numbers
// 0..255, formatted-area lengths from 4 to what the bytes hold, string sets with strings
// of any length. The structure ends with the two NULs the SMBIOS protocol guarantees; the
// readers must never read past them, and whatever they return lies inside the string set.
//
// Input: byte 0 the formatted length, byte 1 the string number, the rest the structure.
#include <roster/Roster.h>

#include <cstring>
#include <vector>

#include "FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  if (Size < 2 + sizeof(SMBIOS_STRUCTURE)) {
    return 0;
  }
  const UINT8 Number = Data[1];
  std::vector<UINT8> Bytes(Data + 2, Data + Size);
  // The producer's promise: Length covers at least the header and lies within the bytes,
  // and the string set ends with two NULs.
  const size_t Formatted = Bytes.size() < 0xFF ? Bytes.size() : 0xFF;
  UINT8 Length = (UINT8)(sizeof(SMBIOS_STRUCTURE) + Data[0] % (Formatted - sizeof(SMBIOS_STRUCTURE) + 1));
  Bytes[1] = Length;
  Bytes.push_back(0);
  Bytes.push_back(0);
  auto *Structure = reinterpret_cast<SMBIOS_STRUCTURE *>(Bytes.data());
  const UINT8 *SetStart = Bytes.data() + Length;
  const UINT8 *End = Bytes.data() + Bytes.size();

  UINT8 StringLength = 0xAA;
  CHAR8 *Found = GetSmbiosString(Structure, Length, Number, &StringLength);
  if (Found == nullptr) {
    FUZZ_CHECK(StringLength == 0);
  } else {
    auto *At = reinterpret_cast<const UINT8 *>(Found);
    FUZZ_CHECK(At >= SetStart && At + StringLength < End);
    FUZZ_CHECK(StringLength != 0 && std::memchr(At, 0, StringLength) == nullptr);
  }

  // A field copied into a record never spills past the field.
  std::vector<CHAR8> Field(16, '\x5A');
  CopySmbiosString(Structure, Number, Field.data(), Field.size());
  if (Found != nullptr) {
    const size_t Copied = StringLength < Field.size() ? StringLength : Field.size();
    FUZZ_CHECK(std::memcmp(Field.data(), Found, Copied) == 0);
  }

  // Fields past the formatted area read as zero.
  for (UINT8 Offset : {(UINT8)0, (UINT8)(Length - 1), Length, (UINT8)(Length + 1), (UINT8)0xFE, (UINT8)0xFF}) {
    if (Offset >= Length) {
      FUZZ_CHECK(SmbiosByte(Structure, Offset) == 0);
    }
    if ((UINT32)Offset + 2 > Length) {
      FUZZ_CHECK(SmbiosWord(Structure, Offset) == 0);
    }
  }
  return 0;
}
