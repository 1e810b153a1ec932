// The inventory driver's pure routines, linked straight into the test: SMBIOS string
// lookup, hex texts, serial decoding, ATA capacity and string handling, the port table,
// a root bridge's bus range.
#include <gtest/gtest.h>

#include <Library/UefiBootServicesTableLib.h>
#include <roster/Roster.h>
#include <sim/Platform.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

// A structure of Length formatted bytes followed by the given string-set bytes.
std::vector<UINT8> Structure(UINT8 Length, const std::string &StringSet) {
  std::vector<UINT8> Bytes(Length, 0);
  Bytes[0] = 17;
  Bytes[1] = Length;
  Bytes.insert(Bytes.end(), StringSet.begin(), StringSet.end());
  Bytes.push_back(0);
  Bytes.push_back(0);
  return Bytes;
}

std::string Lookup(std::vector<UINT8> &Bytes, UINT8 Number) {
  UINT8 Length = 0xAA;
  CHAR8 *Found = GetSmbiosString(reinterpret_cast<SMBIOS_STRUCTURE *>(Bytes.data()), Bytes[1], Number, &Length);
  if (Found == nullptr) {
    EXPECT_EQ(Length, 0);
    return "<none>";
  }
  return std::string(Found, Length);
}

TEST(SmbiosStringTest, FindsNumberedStringsAndNothingOutsideTheSet) {
  auto Bytes = Structure(0x10, std::string("one\0two\0three", 13));
  EXPECT_EQ(Lookup(Bytes, 1), "one");
  EXPECT_EQ(Lookup(Bytes, 3), "three");
  EXPECT_EQ(Lookup(Bytes, 0), "<none>");
  EXPECT_EQ(Lookup(Bytes, 4), "<none>");
  EXPECT_EQ(Lookup(Bytes, 200), "<none>");
  auto Empty = Structure(0x10, "");
  EXPECT_EQ(Lookup(Empty, 1), "<none>");
}

TEST(SmbiosStringTest, LengthsAreCappedAndLongStringsCannotBeSkipped) {
  const std::string Long(300, 'x');
  auto Bytes = Structure(0x08, Long + std::string("\0after", 6));
  EXPECT_EQ(Lookup(Bytes, 1), std::string(255, 'x'));
  EXPECT_EQ(Lookup(Bytes, 2), "<none>") << "a string of 255 or more characters cannot be stepped over";
  auto Exact = Structure(0x08, std::string(254, 'y') + std::string("\0next", 5));
  EXPECT_EQ(Lookup(Exact, 2), "next");
}

TEST(SmbiosStringTest, StringNumbersUpTo254AreReachable) {
  std::string Set;
  for (int Index = 1; Index <= 255; Index++) {
    Set += "s" + std::to_string(Index);
    Set.push_back('\0');
  }
  Set.pop_back();
  auto Bytes = Structure(0x04, Set);
  EXPECT_EQ(Lookup(Bytes, 254), "s254");
  EXPECT_EQ(Lookup(Bytes, 255), "<none>");
}

TEST(SmbiosFieldTest, FieldsBeyondLengthReadZero) {
  auto Bytes = Structure(0x14, "");
  Bytes[0x12] = 0x1A;
  Bytes[0x13] = 0x80;
  Bytes[0x14] = 0x55;  // first string-set byte, outside the formatted area
  auto *Header = reinterpret_cast<SMBIOS_STRUCTURE *>(Bytes.data());
  EXPECT_EQ(SmbiosByte(Header, 0x12), 0x1A);
  EXPECT_EQ(SmbiosByte(Header, 0x14), 0);
  EXPECT_EQ(SmbiosWord(Header, 0x12), 0x801A);
  EXPECT_EQ(SmbiosWord(Header, 0x13), 0) << "a word that straddles the end";
}

TEST(HexTextTest, MostSignificantNibbleFirstUpperCaseNoTerminator) {
  CHAR8 Text[6];
  std::memset(Text, '#', sizeof(Text));
  ByteToHexAscii(0x1A, Text);
  EXPECT_EQ(std::string(Text, 3), "1A#");
  ByteToHexAscii(0xF0, Text);
  EXPECT_EQ(std::string(Text, 2), "F0");
  WordToHexAscii(0x0080, Text);
  EXPECT_EQ(std::string(Text, 5), "0080#");
  WordToHexAscii(0xBEEF, Text);
  EXPECT_EQ(std::string(Text, 4), "BEEF");
}

TEST(SerialDecodeTest, ReadsOnlyTheCharactersItIsGiven) {
  UINT8 Out[4];
  const char Guarded[] = {'1', '2', '3', 'F', 'F', 'F', 'F', 'F'};
  DecodeDimmSerial(Guarded, 3, Out);  // the rest of the array is not the string's
  EXPECT_EQ(std::vector<UINT8>(Out, Out + 4), (std::vector<UINT8>{0x12, 0x30, 0x00, 0x00}));
  DecodeDimmSerial(nullptr, 0, Out);
  EXPECT_EQ(std::vector<UINT8>(Out, Out + 4), (std::vector<UINT8>{0, 0, 0, 0}));
  DecodeDimmSerial("ZZ", 2, Out);  // no test of the characters: (0x23 * 16 + 0x23) mod 256
  EXPECT_EQ(Out[0], 0x53);
}

TEST(AtaStringTest, SwapsWholePairsOnly) {
  UINT8 Odd[5] = {'B', 'A', 'D', 'C', 'E'};
  SwapBytePairs(Odd, 5);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(Odd), 5), "ABCDE");
  UINT8 One[1] = {'X'};
  SwapBytePairs(One, 1);
  EXPECT_EQ(One[0], 'X');
}

// ParseString and GetHddSize need pool and the SATA message buffer.
class AtaWithPlatformTest : public ::testing::Test {
 protected:
  sim::Platform P;
  SATA_INFO Info{};
  void SetUp() override {
    ASSERT_EQ(UefiBootServicesTableLibConstructor(P.CreateImageHandle(EfiBootServicesCode), P.SystemTable()),
              EFI_SUCCESS);
    mSataInfo = &Info;
  }
  void TearDown() override { mSataInfo = nullptr; }
  std::string Parse(std::string Text) {
    ParseString(reinterpret_cast<UINT8 *>(Text.data()), (UINT8)Text.size());
    return Text;
  }
};

TEST_F(AtaWithPlatformTest, ParseStringDropsLeadingBlanksAndNuls) {
  EXPECT_EQ(Parse(std::string("\0 \0AB C ", 8)), std::string("AB C \0\0\0", 8));
  EXPECT_EQ(Parse(std::string(" \0  ", 4)), std::string(" \0  ", 4));
  EXPECT_EQ(Parse("NOBLANK"), "NOBLANK");
  EXPECT_EQ(P.LiveAllocations(), 0u);
}

TEST_F(AtaWithPlatformTest, ParseStringGivesTheSameBytesWithoutItsScratch) {
  P.Faults().FailAlways("AllocatePool", EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Parse(std::string("  ABC  ", 7)), std::string("ABC  \0\0", 7));
}

TEST_F(AtaWithPlatformTest, HddSizeIsDecimalGigabytesBigEndian) {
  UINT8 Identify[512] = {};
  auto Word = [&](int Index, UINT16 Value) {
    Identify[2 * Index] = (UINT8)Value;
    Identify[2 * Index + 1] = (UINT8)(Value >> 8);
  };
  Word(83, 0x0400);
  const UINT64 Sectors = 1953525168ULL;
  for (int Index = 0; Index < 4; Index++) Word(100 + Index, (UINT16)(Sectors >> (16 * Index)));
  GetHddSize(Identify);
  EXPECT_EQ(Info.HddSize[0], 0x03);
  EXPECT_EQ(Info.HddSize[1], 0xE8);

  Info = {};
  Word(0, 0x8000);
  GetHddSize(Identify);
  EXPECT_EQ(Info.HddSize[0] | Info.HddSize[1], 0) << "not an ATA device";
}

TEST(SataPortTableTest, IndexAndStrikeFollowTheTable) {
  SATA_INFO Info{};
  mSataInfo = &Info;
  const std::vector<UINT8> Initial(SataPortTable, SataPortTable + NUMBER_OF_SATA);

  CreateSataIndex(0x13);
  EXPECT_EQ(Info.SataIndex, 11);
  CompareSataEntry(0x13);
  EXPECT_EQ(SataPortTable[11], SATA_PORT_STRUCK);

  Info.SataIndex = 7;
  CreateSataIndex(0x13);
  EXPECT_EQ(Info.SataIndex, 7) << "a struck entry is not found again";
  CreateSataIndex(SATA_PORT_STRUCK);
  EXPECT_EQ(Info.SataIndex, 7) << "the strike mark is no port";
  CompareSataEntry(0x42);
  for (size_t Index = 0; Index < NUMBER_OF_SATA; Index++) {
    EXPECT_EQ(SataPortTable[Index], Index == 11 ? SATA_PORT_STRUCK : Initial[Index]);
  }
  std::copy(Initial.begin(), Initial.end(), SataPortTable);
  mSataInfo = nullptr;
}

// A root bridge whose Configuration() hands out whatever bytes a test gives it.
struct DescriptorBridge {
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL Protocol{};
  std::vector<UINT8> Bytes;
  static inline DescriptorBridge *Current = nullptr;
  static EFI_STATUS EFIAPI Configuration(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *, VOID **Resources) {
    *Resources = Current->Bytes.data();
    return EFI_SUCCESS;
  }
  std::optional<std::pair<UINT8, UINT8>> Range() {
    Protocol.Configuration = Configuration;
    Current = this;
    UINT8 First = 0xAA;
    UINT8 Last = 0xAA;
    if (!GetPciRootBridgeBusRange(&Protocol, &First, &Last)) {
      return std::nullopt;
    }
    return std::make_pair(First, Last);
  }
  void AddressSpace(UINT8 Desc, UINT8 ResType, UINT64 Min, UINT64 Max, UINT16 Len = 43) {
    EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR Descriptor{};
    Descriptor.Desc = Desc;
    Descriptor.Len = Len;
    Descriptor.ResType = ResType;
    Descriptor.AddrRangeMin = Min;
    Descriptor.AddrRangeMax = Max;
    Descriptor.AddrLen = Max - Min + 1;
    const auto *Raw = reinterpret_cast<const UINT8 *>(&Descriptor);
    Bytes.insert(Bytes.end(), Raw, Raw + (Len < 43 ? 3 + Len : sizeof(Descriptor)));
    Bytes.resize(Bytes.size() + (Len > 43 ? Len - 43 : 0), 0x5A);
  }
  void End() { Bytes.insert(Bytes.end(), {ACPI_END_TAG_DESCRIPTOR, 0}); }
};

TEST(RootBridgeBusRangeTest, TheFirstQwordBusDescriptorCountsWhateverComesBefore) {
  DescriptorBridge Bridge;
  Bridge.Bytes = {0x47, 1, 0, 0, 0, 0, 0, 0};  // a small I/O port item
  Bridge.AddressSpace(ACPI_ADDRESS_SPACE_DESCRIPTOR, ACPI_ADDRESS_SPACE_TYPE_MEM, 0x80000000, 0x8FFFFFFF, 50);
  Bridge.AddressSpace(0x88, ACPI_ADDRESS_SPACE_TYPE_BUS, 0x10, 0x1F, 13);  // a WORD descriptor is not ours
  Bridge.AddressSpace(ACPI_ADDRESS_SPACE_DESCRIPTOR, ACPI_ADDRESS_SPACE_TYPE_BUS, 0x80, 0x81);
  Bridge.AddressSpace(ACPI_ADDRESS_SPACE_DESCRIPTOR, ACPI_ADDRESS_SPACE_TYPE_BUS, 0x00, 0x7F);
  Bridge.End();
  EXPECT_EQ(Bridge.Range(), std::make_pair(UINT8{0x80}, UINT8{0x81}));
}

TEST(RootBridgeBusRangeTest, RangesThatDecodeNoBusOrRunPastTheLastAreHandled) {
  DescriptorBridge Wide;
  Wide.AddressSpace(ACPI_ADDRESS_SPACE_DESCRIPTOR, ACPI_ADDRESS_SPACE_TYPE_BUS, 0xF0, 0x1FF);
  Wide.End();
  EXPECT_EQ(Wide.Range(), std::make_pair(UINT8{0xF0}, UINT8{0xFF}));

  DescriptorBridge Inverted;
  Inverted.AddressSpace(ACPI_ADDRESS_SPACE_DESCRIPTOR, ACPI_ADDRESS_SPACE_TYPE_BUS, 0x20, 0x1F);
  Inverted.End();
  EXPECT_EQ(Inverted.Range(), std::nullopt);

  DescriptorBridge Above;
  Above.AddressSpace(ACPI_ADDRESS_SPACE_DESCRIPTOR, ACPI_ADDRESS_SPACE_TYPE_BUS, 0x100, 0x1FF);
  Above.End();
  EXPECT_EQ(Above.Range(), std::nullopt);

  // A descriptor too short to hold the range fields is stepped over, not read.
  DescriptorBridge Short;
  Short.AddressSpace(ACPI_ADDRESS_SPACE_DESCRIPTOR, ACPI_ADDRESS_SPACE_TYPE_BUS, 0x00, 0xFF, 20);
  Short.End();
  EXPECT_EQ(Short.Range(), std::nullopt);

  DescriptorBridge EndOnly;
  EndOnly.End();
  EXPECT_EQ(EndOnly.Range(), std::nullopt);
}

TEST(RootBridgeBusRangeTest, AListWithoutItsEndTagIsNotFollowedForever) {
  DescriptorBridge Bridge;
  for (int Index = 0; Index < 200; Index++) {
    Bridge.AddressSpace(ACPI_ADDRESS_SPACE_DESCRIPTOR, ACPI_ADDRESS_SPACE_TYPE_IO, 0, 0xFFF);
  }
  Bridge.AddressSpace(ACPI_ADDRESS_SPACE_DESCRIPTOR, ACPI_ADDRESS_SPACE_TYPE_BUS, 0x00, 0xFF);
  EXPECT_EQ(Bridge.Range(), std::nullopt);
}

}  // namespace
