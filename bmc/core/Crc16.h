// CRC-16/CCITT-FALSE (polynomial 0x1021, initial 0xFFFF, not reflected, no final XOR): the
// check value of each chunk of a large command.
#pragma once

#include <cstdint>
#include <span>

namespace RosterBmc {

uint16_t Crc16CcittFalse(std::span<const uint8_t> Bytes);

}  // namespace RosterBmc
