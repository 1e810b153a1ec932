#include "SyntheticPe.h"

#include <algorithm>

namespace pe_test {

void Put16(std::vector<uint8_t> &Bytes, size_t Offset, uint16_t Value) {
  Bytes.at(Offset) = static_cast<uint8_t>(Value);
  Bytes.at(Offset + 1) = static_cast<uint8_t>(Value >> 8);
}

void Put32(std::vector<uint8_t> &Bytes, size_t Offset, uint32_t Value) {
  Put16(Bytes, Offset, static_cast<uint16_t>(Value));
  Put16(Bytes, Offset + 2, static_cast<uint16_t>(Value >> 16));
}

static void Put64(std::vector<uint8_t> &Bytes, size_t Offset, uint64_t Value) {
  Put32(Bytes, Offset, static_cast<uint32_t>(Value));
  Put32(Bytes, Offset + 4, static_cast<uint32_t>(Value >> 32));
}

uint32_t RvaCountOffset(bool Pe32Plus) { return kOptionalHeader + (Pe32Plus ? 108 : 92); }

uint32_t DirectoryOffset(bool Pe32Plus, unsigned Index) { return kOptionalHeader + (Pe32Plus ? 112 : 96) + Index * 8; }

uint32_t SectionTableOffset(bool Pe32Plus) { return DirectoryOffset(Pe32Plus, 16); }

static void PutSection(std::vector<uint8_t> &Bytes, size_t Offset, const char *Name, uint32_t Rva, uint32_t Raw,
                       uint32_t Characteristics) {
  std::copy_n(Name, std::char_traits<char>::length(Name), Bytes.begin() + Offset);
  Put32(Bytes, Offset + 8, kRawSize);
  Put32(Bytes, Offset + 12, Rva);
  Put32(Bytes, Offset + 16, kRawSize);
  Put32(Bytes, Offset + 20, Raw);
  Put32(Bytes, Offset + 36, Characteristics);
}

std::vector<uint8_t> BuildSyntheticPe(const SyntheticOptions &Options) {
  const bool Plus = Options.Pe32Plus;
  std::vector<uint8_t> Bytes(kRdataRaw + kRawSize, 0);
  Put16(Bytes, 0, 0x5A4D);
  Put32(Bytes, 0x3C, kPeOffset);
  Put32(Bytes, kPeOffset, 0x00004550);

  Put16(Bytes, kFileHeader + 0, Plus ? 0x8664 : 0x014C);
  Put16(Bytes, kFileHeader + 2, 2);
  Put16(Bytes, kFileHeader + 16, static_cast<uint16_t>((Plus ? 112 : 96) + 16 * 8));
  Put16(Bytes, kFileHeader + 18, 0x0022);

  Put16(Bytes, kOptionalHeader, Plus ? 0x20B : 0x10B);
  Put32(Bytes, kOptionalHeader + 16, kTextRva);
  if (Plus) {
    Put64(Bytes, kOptionalHeader + 24, 0x140000000ULL);
  } else {
    Put32(Bytes, kOptionalHeader + 28, 0x10000000);
  }
  Put32(Bytes, kOptionalHeader + 32, 0x1000);
  Put32(Bytes, kOptionalHeader + 36, 0x200);
  Put32(Bytes, kOptionalHeader + 56, kSizeOfImage);
  Put32(Bytes, kOptionalHeader + 60, 0x200);
  Put16(Bytes, kOptionalHeader + 68, Options.Subsystem);
  Put32(Bytes, RvaCountOffset(Plus), 16);

  // Debug directory: one CodeView entry.
  Put32(Bytes, DirectoryOffset(Plus, 6), kDebugDirectoryRva);
  Put32(Bytes, DirectoryOffset(Plus, 6) + 4, 28);
  size_t PathOffset = Options.CodeViewSignature == 0x3031424E ? 16 : 24;
  uint32_t CodeViewSize = static_cast<uint32_t>(PathOffset + Options.PdbPath.size() + 1);
  size_t Entry = kRdataRaw + (kDebugDirectoryRva - kRdataRva);
  Put32(Bytes, Entry + 12, 2);
  Put32(Bytes, Entry + 16, CodeViewSize);
  Put32(Bytes, Entry + 20, kCodeViewRva);
  Put32(Bytes, Entry + 24, kRdataRaw + (kCodeViewRva - kRdataRva));
  size_t CodeView = kRdataRaw + (kCodeViewRva - kRdataRva);
  Put32(Bytes, CodeView, Options.CodeViewSignature);
  std::copy(Options.PdbPath.begin(), Options.PdbPath.end(), Bytes.begin() + CodeView + PathOffset);

  // One relocation block: a 64-bit fixup at .text+8 and the padding entry.
  Put32(Bytes, DirectoryOffset(Plus, 5), kRelocationRva);
  Put32(Bytes, DirectoryOffset(Plus, 5) + 4, 12);
  size_t Relocation = kRdataRaw + (kRelocationRva - kRdataRva);
  Put32(Bytes, Relocation, kTextRva);
  Put32(Bytes, Relocation + 4, 12);
  Put16(Bytes, Relocation + 8, 0xA008);

  size_t Sections = SectionTableOffset(Plus);
  PutSection(Bytes, Sections, ".text", kTextRva, kTextRaw, 0x60000020);
  PutSection(Bytes, Sections + 40, ".rdata", kRdataRva, kRdataRaw, 0x40000040);
  std::fill_n(Bytes.begin() + kTextRaw, kRawSize, uint8_t{0xCC});
  return Bytes;
}

}  // namespace pe_test
