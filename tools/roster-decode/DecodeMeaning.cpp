#include "DecodeMeaning.h"

#include "DecodeBytes.h"

namespace RosterDecode {

MemorySize DecodeMemorySize(uint16_t Raw) {
  if (Raw == 0) return {MemorySizeKind::Empty, 0};
  if (Raw == 0xFFFF) return {MemorySizeKind::Unknown, 0};
  if (Raw == 0x7FFF) return {MemorySizeKind::Extended, 0};
  if (Raw & 0x8000) return {MemorySizeKind::Known, Raw & 0x7FFFu};
  return {MemorySizeKind::Known, static_cast<uint64_t>(Raw) * 1024};
}

std::string MemorySizeText(uint16_t Raw) {
  MemorySize Size = DecodeMemorySize(Raw);
  switch (Size.Kind) {
    case MemorySizeKind::Empty:
      return "empty";
    case MemorySizeKind::Unknown:
      return "size unknown";
    case MemorySizeKind::Extended:
      return "32 GB or more (extended size not recorded)";
    case MemorySizeKind::Known:
      break;
  }
  if (Raw & 0x8000) {
    return Format("%llu KB", static_cast<unsigned long long>(Size.Kilobytes));
  }
  uint64_t Megabytes = Size.Kilobytes / 1024;
  if (Megabytes % 1024 == 0) {
    return Format("%llu MB (%llu GB)", static_cast<unsigned long long>(Megabytes),
                  static_cast<unsigned long long>(Megabytes / 1024));
  }
  return Format("%llu MB", static_cast<unsigned long long>(Megabytes));
}

std::string MemorySpeedText(uint16_t Raw) {
  if (Raw == 0) return "speed unknown";
  if (Raw == 0xFFFF) return "speed in the extended field (not recorded)";
  return Format("%u MT/s", Raw);
}

namespace {

int HexValue(char C) {
  if (C >= '0' && C <= '9') return C - '0';
  if (C >= 'A' && C <= 'F') return C - 'A' + 10;
  if (C >= 'a' && C <= 'f') return C - 'a' + 10;
  return -1;
}

std::optional<uint32_t> ParseHexText(std::string_view Text, size_t Digits) {
  if (Text.size() != Digits) return std::nullopt;
  uint32_t Value = 0;
  for (char C : Text) {
    int Digit = HexValue(C);
    if (Digit < 0) return std::nullopt;
    Value = Value * 16 + static_cast<uint32_t>(Digit);
  }
  return Value;
}

}  // namespace

std::optional<uint8_t> ParseHexByteText(std::string_view Text) {
  auto Value = ParseHexText(Text, 2);
  if (!Value) return std::nullopt;
  return static_cast<uint8_t>(*Value);
}

std::optional<uint16_t> ParseHexWordText(std::string_view Text) {
  auto Value = ParseHexText(Text, 4);
  if (!Value) return std::nullopt;
  return static_cast<uint16_t>(*Value);
}

std::string MemoryTypeName(uint8_t Type) {
  static const char *const kNames[] = {
      nullptr, "Other", "Unknown", "DRAM",   "EDRAM",        "VRAM",   "SRAM",   "RAM",
      "ROM",   "Flash", "EEPROM",  "FEPROM", "EPROM",        "CDRAM",  "3DRAM",  "SDRAM",
      "SGRAM", "RDRAM", "DDR",     "DDR2",   "DDR2 FB-DIMM", nullptr,  nullptr,  nullptr,
      "DDR3",  "FBD2",  "DDR4",    "LPDDR",  "LPDDR2",       "LPDDR3", "LPDDR4", "Logical non-volatile device",
      "HBM",   "HBM2",  "DDR5",    "LPDDR5", "HBM3",
  };
  if (Type < sizeof(kNames) / sizeof(kNames[0]) && kNames[Type] != nullptr) {
    return kNames[Type];
  }
  return Format("type 0x%02X", Type);
}

std::vector<std::string> MemoryTypeDetailFlags(uint16_t Detail) {
  static const char *const kBits[16] = {
      nullptr, "Other", "Unknown",     "Fast-paged", "Static column", "Pseudo-static", "RAMBUS",     "Synchronous",
      "CMOS",  "EDO",   "Window DRAM", "Cache DRAM", "Non-volatile",  "Registered",    "Unbuffered", "LRDIMM",
  };
  std::vector<std::string> Flags;
  for (unsigned Bit = 0; Bit < 16; ++Bit) {
    if (Detail & (1u << Bit)) {
      Flags.push_back(kBits[Bit] != nullptr ? kBits[Bit] : "Reserved bit 0");
    }
  }
  return Flags;
}

std::optional<std::string> LinkSpeedName(uint8_t Code) {
  static const char *const kSpeeds[] = {"2.5GT/s", "5GT/s", "8GT/s", "16GT/s", "32GT/s", "64GT/s"};
  if (Code >= 1 && Code <= 6) {
    return std::string(kSpeeds[Code - 1]);
  }
  return std::nullopt;
}

std::string LinkText(uint8_t SpeedCode, uint8_t Width) {
  if (SpeedCode == 0) {
    return "no link";
  }
  auto Speed = LinkSpeedName(SpeedCode);
  if (Speed) {
    return Format("link %s x%u", Speed->c_str(), Width);
  }
  return Format("link speed code %u x%u", SpeedCode, Width);
}

std::string PciSlotText(uint8_t Bus, uint8_t Function) { return Format("%02x:00.%x", Bus, Function); }

std::string SataPortName(uint8_t PortId) {
  if (PortId < 0x10) return Format("SATA %u", PortId);
  if (PortId < 0x20) return Format("sSATA %u", PortId - 0x10u);
  return Format("port 0x%02X", PortId);
}

std::string SmartctlCapacity(uint64_t Bytes) {
  static const char kPrefixes[] = " KMGTPE";
  unsigned Prefix = 0;
  uint64_t Unit = 1;
  while (Prefix + 1 < sizeof(kPrefixes) - 1 && Bytes / Unit >= 1000) {
    Unit *= 1000;
    ++Prefix;
  }
  uint64_t Whole = Bytes / Unit;
  uint64_t Rest = Bytes % Unit;
  auto W = static_cast<unsigned long long>(Whole);
  if (Prefix == 0) return Format("%llu B", W);
  char P = kPrefixes[Prefix];
  if (Whole >= 100) return Format("%llu %cB", W, P);
  if (Whole >= 10) return Format("%llu.%u %cB", W, static_cast<unsigned>(Rest * 10 / Unit), P);
  // Unit is a multiple of 100 here; dividing it first keeps Rest * 100 from overflowing.
  return Format("%llu.%02u %cB", W, static_cast<unsigned>(Rest / (Unit / 100)), P);
}

std::string IdentityText(const std::array<uint8_t, 8> &Words) {
  auto Word = [&](size_t Index) { return static_cast<unsigned>(Words[Index * 2] | (Words[Index * 2 + 1] << 8)); };
  auto Dword = [&](size_t Index) { return Word(Index * 2) | (Word(Index * 2 + 1) << 16); };
  return Format("%04X %04X %04X %04X (0x%08X 0x%08X)", Word(0), Word(1), Word(2), Word(3), Dword(0), Dword(1));
}

}  // namespace RosterDecode
