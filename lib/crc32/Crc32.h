// The CRC-32 UEFI's CalculateCrc32 computes (IEEE 802.3: reflected, polynomial 0xEDB88320,
// 0xFFFFFFFF in and out), for every host program that seals or checks one.
#pragma once

#include <cstddef>
#include <cstdint>

namespace crc32 {

// Pass the CRC of the bytes before to continue it: Crc32(B, Crc32(A)) is the CRC of A
// followed by B.
uint32_t Crc32(const void *Data, size_t Size, uint32_t Before = 0);

}  // namespace crc32
