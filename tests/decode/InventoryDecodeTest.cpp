// A well-formed image reads back to the facts it was built from.
#include <gtest/gtest.h>

#include <cstring>

#include "DecodeInventory.h"
#include "DecodeTestImages.h"

using namespace RosterDecode;
using namespace DecodeTest;

namespace {

TEST(InventoryDecode, FullImageGivesEveryFact) {
  Bytes Image = BuildImage(FullBoard());
  ASSERT_EQ(Image.size(), 23063u);
  InventoryFacts Facts = DecodeInventory(Image);

  EXPECT_TRUE(Facts.Problems.empty()) << Facts.Problems.front();
  ASSERT_TRUE(Facts.HeaderDecoded);
  EXPECT_EQ(Facts.Header.HeaderVersion, 1u);
  EXPECT_EQ(Facts.Header.HeaderSize, 23060u);
  EXPECT_TRUE(Facts.Header.CrcMatches);
  Bytes Zeroed = Image;
  std::memset(Zeroed.data() + 15, 0, 4);
  EXPECT_EQ(Facts.Header.StoredCrc, crc32::Crc32(Zeroed.data() + 3, 23060));
  EXPECT_EQ(Facts.Header.BiosVersion, "R01.02.0003");
  EXPECT_EQ(Facts.Header.RecordCount, 38);
  EXPECT_EQ(Facts.Header.IdentityWords, Facts.Header.IdentityWordsCopy);
  EXPECT_EQ(Facts.Header.IdentityWords[0], 0x34);

  ASSERT_EQ(Facts.Processors.size(), 2u);
  EXPECT_EQ(Facts.Processors[1].Name, "(CPU_1)");
  EXPECT_EQ(Facts.Processors[1].CoreCount, 24);
  EXPECT_EQ(Facts.Processors[1].ThreadCount, 48);
  EXPECT_EQ(Facts.Processors[1].MaxSpeedMhz, 3800u);
  EXPECT_EQ(Facts.Processors[0].Vendor, "Intel");
  EXPECT_EQ(Facts.Processors[0].FamilyName, "Intel Xeon processor");
  EXPECT_EQ(Facts.Processors[0].Version, "Xeon Test CPU @ 2.70GHz");

  ASSERT_EQ(Facts.MemoryDevices.size(), 12u);
  const auto &First = Facts.MemoryDevices[0];
  EXPECT_EQ(First.Locator, "DIMM_A1");
  EXPECT_EQ(First.SizeRaw, 16384);
  EXPECT_EQ(First.SpeedRaw, 2933);
  EXPECT_EQ(First.TypeText, "1A");
  EXPECT_EQ(First.TypeDetailText, "0080");
  EXPECT_EQ(First.Manufacturer, "Acme Memory");
  EXPECT_EQ(First.Serial, (std::array<uint8_t, 4>{0x1A, 0x2B, 0x3C, 0x4D}));
  EXPECT_EQ(First.PartNumber, "ACM16G-2933R");
  EXPECT_EQ(First.Voltage, "1.2V");
  EXPECT_EQ(Facts.MemoryDevices[1].Status, 0);
  // The full-width locator stops at its field: the Ordinal byte after it is not text.
  EXPECT_EQ(Facts.MemoryDevices[2].Locator, std::string(64, 'L'));
  EXPECT_EQ(Facts.MemoryDevices[11].Instance, 11);

  ASSERT_EQ(Facts.PciFunctions.size(), 24u);
  const auto &Nic = Facts.PciFunctions[0];
  EXPECT_EQ(Nic.Name, "Bus=3B Dev= 0 Fun= 1");
  EXPECT_EQ(Nic.Bus, 0x3B);
  EXPECT_EQ(Nic.Function, 1);
  EXPECT_EQ(Nic.VendorId, 0x8086);
  EXPECT_EQ(Nic.DeviceId, 0x10D3);
  EXPECT_EQ(Nic.SubsystemVendorId, 0x8086);
  EXPECT_EQ(Nic.SubsystemId, 0x0000);
  EXPECT_EQ(Nic.BaseClass, 0x02);
  EXPECT_EQ(Nic.SubClass, 0x00);
  EXPECT_EQ(Nic.LinkSpeed, 3);
  EXPECT_EQ(Nic.LinkWidth, 16);
  EXPECT_EQ(Facts.PciFunctions[23].Bus, 0x40 + 23);
  EXPECT_EQ(Facts.PciFunctions[23].Instance, 23);
}

TEST(InventoryDecode, PciRecordsStartAfterProcessorAndMemoryAreas) {
  Bytes Image = BuildImage(FullBoard());
  // The first PCI record lies at 67 + 2 * 230 + 12 * 752; its bus byte is 78 bytes in.
  ASSERT_EQ(Image[9551 + 78], 0x3B);
  Image[9551 + 78] = 0x5E;
  Seal(Image);
  InventoryFacts Facts = DecodeInventory(Image);
  EXPECT_TRUE(Facts.Problems.empty());
  EXPECT_EQ(Facts.PciFunctions[0].Bus, 0x5E);
}

TEST(InventoryDecode, HeaderOnlyImageIsComplete) {
  ImageParts Parts;
  Parts.Identity = false;
  Bytes Image = BuildImage(Parts);
  ASSERT_EQ(Image.size(), 67u);
  InventoryFacts Facts = DecodeInventory(Image);
  EXPECT_TRUE(Facts.Problems.empty());
  EXPECT_TRUE(Facts.HeaderDecoded);
  EXPECT_EQ(Facts.Header.HeaderSize, 64u);
  EXPECT_TRUE(Facts.Header.CrcMatches);
  EXPECT_EQ(Facts.Header.IdentityPresent, 0);
  EXPECT_TRUE(Facts.Processors.empty() && Facts.MemoryDevices.empty() && Facts.PciFunctions.empty());
}

TEST(InventoryDecode, ReservedPrefixLiesOutsideSizeAndCrc) {
  Bytes Image = BuildImage(FullBoard());
  Image[0] = 0xAA;
  Image[1] = 0xBB;
  Image[2] = 0xCC;
  InventoryFacts Facts = DecodeInventory(Image);
  EXPECT_TRUE(Facts.Problems.empty());
  EXPECT_TRUE(Facts.Header.CrcMatches);
}

TEST(InventoryDecode, CrcMismatchIsReportedAndTheImageStillDecoded) {
  Bytes Image = BuildImage(FullBoard());
  Image[67 + offsetof(CPU_RECORD, CoreCount)] = 99;  // one changed byte, CRC left as sealed
  InventoryFacts Facts = DecodeInventory(Image);
  EXPECT_FALSE(Facts.Header.CrcMatches);
  ASSERT_EQ(Facts.Problems.size(), 1u);
  EXPECT_NE(Facts.Problems[0].find("CRC MISMATCH"), std::string::npos);
  ASSERT_EQ(Facts.Processors.size(), 2u);
  EXPECT_EQ(Facts.Processors[0].CoreCount, 99);
  EXPECT_EQ(Facts.PciFunctions.size(), 24u);
}

TEST(InventoryDecode, StoredZeroCrcReadsAsTheSenderHavingNone) {
  Bytes Image = BuildImage(FullBoard());
  std::memset(Image.data() + 15, 0, 4);
  InventoryFacts Facts = DecodeInventory(Image);
  EXPECT_FALSE(Facts.Header.CrcMatches);
  ASSERT_EQ(Facts.Problems.size(), 1u);
  EXPECT_NE(Facts.Problems[0].find("stored 0"), std::string::npos);
}

TEST(InventoryDecode, DifferingIdentityCopiesAreShownNotRejected) {
  Bytes Image = BuildImage(FullBoard());
  Image[51] ^= 0xFF;
  Seal(Image);
  InventoryFacts Facts = DecodeInventory(Image);
  EXPECT_TRUE(Facts.Problems.empty());
  EXPECT_NE(Facts.Header.IdentityWords, Facts.Header.IdentityWordsCopy);
}

TEST(InventoryDecode, FullWidthTextFieldsCarryNoTerminator) {
  ImageParts Parts;
  Parts.BiosVersion = std::string(16, 'B');
  Parts.Cpus.push_back(MakeCpu(0, 4, 8, 2000, std::string(66, 'V')));
  Parts.Dimms.push_back(
      MakeDimm(0, "D", 1024, 1600, std::string(30, 'M'), "18", "0080", {1, 2, 3, 4}, std::string(610, 'P')));
  InventoryFacts Facts = DecodeInventory(BuildImage(Parts));
  EXPECT_TRUE(Facts.Problems.empty());
  EXPECT_EQ(Facts.Header.BiosVersion, std::string(16, 'B'));
  EXPECT_EQ(Facts.Processors[0].Version, std::string(66, 'V'));
  EXPECT_EQ(Facts.MemoryDevices[0].Manufacturer, std::string(30, 'M'));
  EXPECT_EQ(Facts.MemoryDevices[0].PartNumber, std::string(610, 'P'));
}

}  // namespace
