// Builds small PE32/PE32+ files byte by byte, so the reader's tests can start from a known
// good image and break exactly one thing at a time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pe_test {

// Fixed layout of every synthetic image; tests patch these offsets.
inline constexpr uint32_t kPeOffset = 0x80;
inline constexpr uint32_t kFileHeader = kPeOffset + 4;
inline constexpr uint32_t kOptionalHeader = kFileHeader + 20;
inline constexpr uint32_t kTextRva = 0x1000;
inline constexpr uint32_t kRdataRva = 0x2000;
inline constexpr uint32_t kTextRaw = 0x200;
inline constexpr uint32_t kRdataRaw = 0x400;
inline constexpr uint32_t kRawSize = 0x200;
inline constexpr uint32_t kDebugDirectoryRva = kRdataRva;
inline constexpr uint32_t kCodeViewRva = kRdataRva + 0x20;
inline constexpr uint32_t kRelocationRva = kRdataRva + 0x100;
inline constexpr uint32_t kSizeOfImage = 0x3000;

struct SyntheticOptions {
  bool Pe32Plus = true;
  uint32_t CodeViewSignature = 0x53445352;  // "RSDS"; "NB10" is 0x3031424E
  std::string PdbPath = "C:\\Build\\X64\\Driver.pdb";
  uint16_t Subsystem = 11;
};

std::vector<uint8_t> BuildSyntheticPe(const SyntheticOptions &Options = {});

void Put16(std::vector<uint8_t> &Bytes, size_t Offset, uint16_t Value);
void Put32(std::vector<uint8_t> &Bytes, size_t Offset, uint32_t Value);

// Offsets inside the optional header that differ between PE32 and PE32+.
uint32_t RvaCountOffset(bool Pe32Plus);
uint32_t DirectoryOffset(bool Pe32Plus, unsigned Index);
uint32_t SectionTableOffset(bool Pe32Plus);

}  // namespace pe_test
