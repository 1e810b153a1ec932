#include "crc32/Crc32.h"

#include <array>

namespace crc32 {

namespace {

constexpr std::array<uint32_t, 256> MakeTable() {
  std::array<uint32_t, 256> Table{};
  for (uint32_t Index = 0; Index < 256; ++Index) {
    uint32_t Value = Index;
    for (int Bit = 0; Bit < 8; ++Bit) {
      Value = (Value & 1) != 0 ? (Value >> 1) ^ 0xEDB88320u : Value >> 1;
    }
    Table[Index] = Value;
  }
  return Table;
}

constexpr auto kTable = MakeTable();

}  // namespace

uint32_t Crc32(const void *Data, size_t Size, uint32_t Before) {
  const auto *Bytes = static_cast<const uint8_t *>(Data);
  uint32_t Crc = Before ^ 0xFFFFFFFFu;
  for (size_t Index = 0; Index < Size; ++Index) {
    Crc = kTable[(Crc ^ Bytes[Index]) & 0xFF] ^ (Crc >> 8);
  }
  return Crc ^ 0xFFFFFFFFu;
}

}  // namespace crc32
