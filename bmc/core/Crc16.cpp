#include "Crc16.h"

namespace RosterBmc {

uint16_t Crc16CcittFalse(std::span<const uint8_t> Bytes) {
  uint16_t Crc = 0xFFFF;
  for (uint8_t Byte : Bytes) {
    Crc = static_cast<uint16_t>(Crc ^ (Byte << 8));
    for (int Bit = 0; Bit < 8; ++Bit) {
      Crc = (Crc & 0x8000) != 0 ? static_cast<uint16_t>((Crc << 1) ^ 0x1021) : static_cast<uint16_t>(Crc << 1);
    }
  }
  return Crc;
}

}  // namespace RosterBmc
