// What the raw values mean to a person: SMBIOS memory sizes, speeds and types, PCI Express
// link speeds, SATA port names and drive capacities as smartctl shows them. Shared by the
// text and JSON printers so both say the same thing.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "DecodeTypes.h"

namespace RosterDecode {

// SMBIOS type 17 Size: 0 no module, 0xFFFF unknown, 0x7FFF size in the extended field
// (not carried by the record), bit 15 set = kilobyte granularity, else megabytes.
enum class MemorySizeKind { Empty, Unknown, Extended, Known };
struct MemorySize {
  MemorySizeKind Kind = MemorySizeKind::Unknown;
  uint64_t Kilobytes = 0;
};
MemorySize DecodeMemorySize(uint16_t Raw);
std::string MemorySizeText(uint16_t Raw);

// SMBIOS type 17 Speed in MT/s: 0 unknown, 0xFFFF in the extended field.
std::string MemorySpeedText(uint16_t Raw);

// The record's two (or four) hexadecimal characters back to their value.
std::optional<uint8_t> ParseHexByteText(std::string_view Text);
std::optional<uint16_t> ParseHexWordText(std::string_view Text);

// SMBIOS type 17 Memory Type name ("DDR4" for 0x1A); "type 0xNN" for codes without one.
std::string MemoryTypeName(uint8_t Type);
// Names of the SMBIOS type 17 Type Detail bits that are set.
std::vector<std::string> MemoryTypeDetailFlags(uint16_t Detail);

// "8GT/s" for speed code 3; nothing for 0 (no link) or codes PCI Express does not define.
std::optional<std::string> LinkSpeedName(uint8_t Code);
// "link 8GT/s x16", "no link", or "link speed code 9 x4".
std::string LinkText(uint8_t SpeedCode, uint8_t Width);
// "3b:00.1": the endpoint is always device 0 of its bus.
std::string PciSlotText(uint8_t Bus, uint8_t Function);

// "SATA 3", "sSATA 2", or "port 0x25" for an ID outside both controllers.
std::string SataPortName(uint8_t PortId);

// A byte count in smartctl's capacity style: three significant digits, decimal units,
// truncated ("2.19 TB" for 2,199,000,000,000 bytes).
std::string SmartctlCapacity(uint64_t Bytes);

// The four identity words as the header stores them, and as two 32-bit values.
std::string IdentityText(const std::array<uint8_t, 8> &Words);

}  // namespace RosterDecode
