// The transport's pure routines: where a type 38 structure puts the registers, and the
// chunk checksum.
#include <gtest/gtest.h>

#include <kcstransport/KcsTransport.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

namespace {

// A type 38 structure: interface type, base address field and, when given, the modifier.
std::vector<UINT8> Type38(UINT8 InterfaceType, UINT64 BaseField, std::optional<UINT8> Modifier, int Length = -1) {
  std::vector<UINT8> Bytes(Modifier ? 0x12 : 0x10, 0);
  Bytes[0] = 38;
  Bytes[1] = Length >= 0 ? (UINT8)Length : (UINT8)Bytes.size();
  Bytes[4] = InterfaceType;
  Bytes[5] = 0x20;
  std::memcpy(&Bytes[8], &BaseField, sizeof BaseField);
  if (Modifier) {
    Bytes[0x10] = *Modifier;
  }
  return Bytes;
}

std::optional<std::pair<UINT16, UINT16>> Ports(const std::vector<UINT8> &Record) {
  // Whatever the Length claims, the parser may read only Length bytes (the 4-byte header
  // at least): the copy holds exactly those, so a read beyond is caught by the sanitizer.
  const size_t Length = std::min<size_t>(Record.size(), std::max<size_t>(4, Record[1]));
  std::vector<UINT8> Exact(Record.begin(), Record.begin() + Length);
  UINT16 Data = 0, Status = 0;
  if (!KcsPortsFromSmbios(reinterpret_cast<const SMBIOS_STRUCTURE *>(Exact.data()), &Data, &Status)) {
    return std::nullopt;
  }
  return std::pair{Data, Status};
}

TEST(KcsPortsFromSmbios, UsableStructuresGiveDataAndStatusPorts) {
  using P = std::pair<UINT16, UINT16>;
  // As QEMU's isa-ipmi-kcs describes itself: I/O flag in bit 0, byte spacing.
  EXPECT_EQ(Ports(Type38(1, 0xCA3, 0x00)), (P{0xCA2, 0xCA3}));
  // Without the modifier byte the spacing is one byte and address bit 0 is clear.
  EXPECT_EQ(Ports(Type38(1, 0xCA3, std::nullopt)), (P{0xCA2, 0xCA3}));
  // Address bit 0 from the modifier, 32-bit and 16-byte spacing.
  EXPECT_EQ(Ports(Type38(1, 0xCA3, 0x10 | 0x40)), (P{0xCA3, 0xCA7}));
  EXPECT_EQ(Ports(Type38(1, 0x0CA9, 0x80)), (P{0xCA8, 0xCB8}));
}

TEST(KcsPortsFromSmbios, OtherInterfacesAndDamagedStructuresAreRefused) {
  EXPECT_FALSE(Ports(Type38(4, 0xCA3, 0x00))) << "SSIF";
  EXPECT_FALSE(Ports(Type38(3, 0xE4 | 1, 0x00))) << "BT";
  EXPECT_FALSE(Ports(Type38(1, 0xFED40000, 0x00))) << "memory-mapped registers";
  EXPECT_FALSE(Ports(Type38(1, 0xCA3, 0xC0))) << "reserved spacing";
  EXPECT_FALSE(Ports(Type38(1, 0x10001, 0x00))) << "beyond the I/O space";
  EXPECT_FALSE(Ports(Type38(1, 0xFFFF, 0x10))) << "status register beyond the I/O space";
  EXPECT_TRUE(Ports(Type38(1, 0xFFFF, 0x00))) << "the last two ports";
  EXPECT_FALSE(Ports(Type38(1, 0x1, 0x00))) << "address 0";
  for (int Length = 0; Length < 0x10; Length++) {
    EXPECT_FALSE(Ports(Type38(1, 0xCA3, std::nullopt, Length))) << "Length " << Length;
  }
  auto OtherType = Type38(1, 0xCA3, 0x00);
  OtherType[0] = 39;
  EXPECT_FALSE(Ports(OtherType));
  EXPECT_FALSE(KcsPortsFromSmbios(nullptr, nullptr, nullptr));
}

TEST(KcsCrc16, IsCcittFalse) {
  const char *Check = "123456789";
  EXPECT_EQ(KcsCrc16(reinterpret_cast<const UINT8 *>(Check), 9), 0x29B1);
  EXPECT_EQ(KcsCrc16(nullptr, 0), 0xFFFF);
  const UINT8 Zero = 0;
  EXPECT_EQ(KcsCrc16(&Zero, 1), 0xE1F0);
}

}  // namespace
