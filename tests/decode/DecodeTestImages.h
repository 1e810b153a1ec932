// Builds inventory images and SATA_INFO messages from the shared wire layouts, sealed with a
// CRC computed here independently of the decoder's own.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include <InventoryLayout.h>
#include <crc32/Crc32.h>

namespace DecodeTest {

using Bytes = std::vector<uint8_t>;

CPU_RECORD MakeCpu(uint8_t Instance, uint8_t Cores, uint8_t Threads, uint32_t MaxSpeed, const std::string &Version);
DIMM_RECORD MakeDimm(uint8_t Instance, const std::string &Locator, uint16_t Size, uint16_t Speed,
                     const std::string &Manufacturer, const std::string &TypeText, const std::string &DetailText,
                     const std::array<uint8_t, 4> &Serial, const std::string &PartNumber);
PCI_RECORD MakePci(uint8_t Instance, uint8_t Bus, uint8_t Fun, uint16_t Vid, uint16_t Did, uint16_t Svid, uint16_t Sid,
                   uint8_t BaseClass, uint8_t SubClass, uint8_t LinkSpeed, uint8_t LinkWidth);

struct ImageParts {
  std::vector<CPU_RECORD> Cpus;
  std::vector<DIMM_RECORD> Dimms;
  std::vector<PCI_RECORD> Pcis;
  std::string BiosVersion = "R01.02.0003";
  bool Identity = true;
  uint8_t IdentityWords[8] = {0x34, 0x12, 0x78, 0x56, 0xBC, 0x9A, 0xF0, 0xDE};
};

// Header with the flags and counts the parts imply, then the records; sealed.
Bytes BuildImage(const ImageParts &Parts);
// Sets HeaderSize from the vector's size and recomputes the CRC, as the sender would.
void Seal(Bytes &Image);

// The board every full-image test reads: 2 processors, 12 memory devices (one empty slot,
// one locator that fills its field), 24 PCI functions, the first 3b:00.1 at 8GT/s x16.
ImageParts FullBoard();

Bytes SataMessage(uint8_t Index, uint8_t Port, uint8_t Present, const std::string &Model, const std::string &Serial,
                  uint16_t Gigabytes);

template <typename T>
void PutText(T &Field, const std::string &Text) {
  static_assert(sizeof(Field[0]) == 1);
  for (size_t Index = 0; Index < sizeof(Field) && Index < Text.size(); ++Index) {
    Field[Index] = static_cast<char>(Text[Index]);
  }
}

}  // namespace DecodeTest
