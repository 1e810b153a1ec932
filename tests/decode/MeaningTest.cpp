// What raw values mean to a person: SMBIOS sizes and types, links, ports, capacities, CRC.
#include <gtest/gtest.h>

#include "DecodeBytes.h"
#include "DecodeMeaning.h"

using namespace RosterDecode;

namespace {

TEST(Meaning, MemorySizeFollowsSmbiosRules) {
  EXPECT_EQ(MemorySizeText(0), "empty");
  EXPECT_EQ(MemorySizeText(0xFFFF), "size unknown");
  EXPECT_EQ(MemorySizeText(0x7FFF), "32 GB or more (extended size not recorded)");
  EXPECT_EQ(MemorySizeText(0x8200), "512 KB");  // bit 15: kilobyte granularity
  EXPECT_EQ(MemorySizeText(16384), "16384 MB (16 GB)");
  EXPECT_EQ(MemorySizeText(768), "768 MB");
  EXPECT_EQ(DecodeMemorySize(0x8200).Kilobytes, 512u);
  EXPECT_EQ(DecodeMemorySize(16384).Kilobytes, 16384u * 1024);
  EXPECT_EQ(DecodeMemorySize(0x7FFF).Kind, MemorySizeKind::Extended);
}

TEST(Meaning, MemorySpeedHasTwoSpecialValues) {
  EXPECT_EQ(MemorySpeedText(2933), "2933 MT/s");
  EXPECT_EQ(MemorySpeedText(0), "speed unknown");
  EXPECT_EQ(MemorySpeedText(0xFFFF), "speed in the extended field (not recorded)");
}

TEST(Meaning, MemoryTypeFromItsTwoHexCharacters) {
  EXPECT_EQ(MemoryTypeName(*ParseHexByteText("1A")), "DDR4");
  EXPECT_EQ(MemoryTypeName(*ParseHexByteText("22")), "DDR5");
  EXPECT_EQ(MemoryTypeName(*ParseHexByteText("18")), "DDR3");
  EXPECT_EQ(MemoryTypeName(*ParseHexByteText("02")), "Unknown");
  EXPECT_EQ(MemoryTypeName(*ParseHexByteText("1e")), "LPDDR4");
  EXPECT_EQ(MemoryTypeName(0x15), "type 0x15");  // reserved code
  EXPECT_EQ(MemoryTypeName(0x00), "type 0x00");
  EXPECT_EQ(MemoryTypeName(0xFF), "type 0xFF");
  EXPECT_FALSE(ParseHexByteText("G1"));
  EXPECT_FALSE(ParseHexByteText("1"));
  EXPECT_FALSE(ParseHexByteText(""));
  EXPECT_EQ(*ParseHexWordText("2080"), 0x2080);
  EXPECT_FALSE(ParseHexWordText("208"));
  EXPECT_FALSE(ParseHexWordText("20 0"));
}

TEST(Meaning, TypeDetailNamesEachSetBit) {
  EXPECT_EQ(MemoryTypeDetailFlags(0x0080), (std::vector<std::string>{"Synchronous"}));
  EXPECT_EQ(MemoryTypeDetailFlags(0x2080), (std::vector<std::string>{"Synchronous", "Registered"}));
  EXPECT_EQ(MemoryTypeDetailFlags(0x0001), (std::vector<std::string>{"Reserved bit 0"}));
  EXPECT_TRUE(MemoryTypeDetailFlags(0).empty());
  EXPECT_EQ(MemoryTypeDetailFlags(0xFFFF).size(), 16u);
}

TEST(Meaning, LinkInLspciWords) {
  EXPECT_EQ(LinkText(3, 16), "link 8GT/s x16");
  EXPECT_EQ(LinkText(1, 1), "link 2.5GT/s x1");
  EXPECT_EQ(LinkText(2, 4), "link 5GT/s x4");
  EXPECT_EQ(LinkText(4, 8), "link 16GT/s x8");
  EXPECT_EQ(LinkText(5, 16), "link 32GT/s x16");
  EXPECT_EQ(LinkText(6, 2), "link 64GT/s x2");
  EXPECT_EQ(LinkText(0, 16), "no link");
  EXPECT_EQ(LinkText(9, 4), "link speed code 9 x4");
  EXPECT_FALSE(LinkSpeedName(0));
  EXPECT_FALSE(LinkSpeedName(7));
  EXPECT_EQ(PciSlotText(0x3B, 1), "3b:00.1");
  EXPECT_EQ(PciSlotText(0, 7), "00:00.7");
}

TEST(Meaning, SataPortsOfBothControllers) {
  EXPECT_EQ(SataPortName(0x00), "SATA 0");
  EXPECT_EQ(SataPortName(0x07), "SATA 7");
  EXPECT_EQ(SataPortName(0x09), "SATA 9");
  EXPECT_EQ(SataPortName(0x10), "sSATA 0");
  EXPECT_EQ(SataPortName(0x15), "sSATA 5");
  EXPECT_EQ(SataPortName(0x25), "port 0x25");
}

TEST(Meaning, CapacityTruncatesToThreeDigitsAsSmartctl) {
  const uint64_t Gb = 1000000000ull;
  EXPECT_EQ(SmartctlCapacity(2199 * Gb), "2.19 TB");  // a 2 TiB drive, never rounded up
  EXPECT_EQ(SmartctlCapacity(1000 * Gb), "1.00 TB");
  EXPECT_EQ(SmartctlCapacity(500 * Gb), "500 GB");
  EXPECT_EQ(SmartctlCapacity(80 * Gb), "80.0 GB");
  EXPECT_EQ(SmartctlCapacity(1 * Gb), "1.00 GB");
  EXPECT_EQ(SmartctlCapacity(65535 * Gb), "65.5 TB");
  EXPECT_EQ(SmartctlCapacity(0), "0 B");
  EXPECT_EQ(SmartctlCapacity(999), "999 B");
  EXPECT_EQ(SmartctlCapacity(UINT64_MAX), "18.4 EB");
}

TEST(Meaning, IdentityWordsAsStoredAndAsTwoDwords) {
  std::array<uint8_t, 8> Words = {0x34, 0x12, 0x78, 0x56, 0xBC, 0x9A, 0xF0, 0xDE};
  EXPECT_EQ(IdentityText(Words), "1234 5678 9ABC DEF0 (0x56781234 0xDEF09ABC)");
}

TEST(Meaning, Crc32IsTheIeeeOne) {
  const char Check[] = "123456789";
  EXPECT_EQ(Crc32(ByteView(reinterpret_cast<const uint8_t *>(Check), 9)), 0xCBF43926u);
  EXPECT_EQ(Crc32(ByteView()), 0u);
  auto Whole = ByteView(reinterpret_cast<const uint8_t *>(Check), 9);
  EXPECT_EQ(Crc32(Whole.subspan(4), Crc32(Whole.first(4))), 0xCBF43926u);  // continued in two pieces
}

TEST(Meaning, FieldTextNeverReadsPastTheField) {
  const char Field[4] = {'a', 'b', 'c', 'd'};
  EXPECT_EQ(FieldText(Field, 4), "abcd");
  EXPECT_EQ(FieldText(Field, 2), "ab");
  const char Short[4] = {'a', 0, 'c', 0};
  EXPECT_EQ(FieldText(Short, 4), "a");
  EXPECT_EQ(TrimBlanks("  ABC   "), "ABC");
  EXPECT_EQ(TrimBlanks("    "), "");
}

}  // namespace
