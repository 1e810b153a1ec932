// The GUID-HOB lookup walks a list it cannot fully trust: it must stop on a broken HOB
// instead of looping or reading beyond the list.
#include "ProbeFixture.h"

namespace supporttest {
namespace {

constexpr EFI_GUID kWanted = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};
constexpr EFI_GUID kOther = {0x99999999, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};
constexpr EFI_GUID kTscFrequency = {0xDBA6A7E3, 0xBB57, 0x4BE7, {0x8A, 0xF8, 0xD5, 0x78, 0xDB, 0x7E, 0x56, 0x87}};

std::vector<UINT8> Header(UINT16 Type, UINT16 Length) {
  std::vector<UINT8> Bytes(8, 0);
  std::memcpy(Bytes.data(), &Type, 2);
  std::memcpy(Bytes.data() + 2, &Length, 2);
  return Bytes;
}

std::vector<UINT8> GuidHob(const EFI_GUID &Name, UINT16 Length) {
  std::vector<UINT8> Bytes = Header(EFI_HOB_TYPE_GUID_EXTENSION, Length);
  Bytes.resize(Length < 24 ? 24 : Length, 0);
  std::memcpy(Bytes.data() + 8, &Name, sizeof Name);
  return Bytes;
}

std::vector<UINT8> Join(std::initializer_list<std::vector<UINT8>> Parts) {
  std::vector<UINT8> All;
  for (const auto &Part : Parts) {
    All.insert(All.end(), Part.begin(), Part.end());
  }
  return All;
}

UINT8 *InstalledHobList(sim::Platform &Platform) {
  EFI_SYSTEM_TABLE *St = Platform.SystemTable();
  for (UINTN Index = 0; Index < St->NumberOfTableEntries; Index++) {
    if (GuidEquals(St->ConfigurationTable[Index].VendorGuid, gEfiHobListGuid)) {
      return static_cast<UINT8 *>(St->ConfigurationTable[Index].VendorTable);
    }
  }
  return nullptr;
}

TEST_F(ProbeTest, FirstMatchingGuidHobIsFoundPastOtherHobs) {
  std::vector<UINT8> Data = {1, 2, 3, 4, 5, 6, 7, 8};
  Platform.SetHobList(sim::HobListBuilder()
                          .AddHob(EFI_HOB_TYPE_RESOURCE_DESCRIPTOR, std::vector<UINT8>(40, 0xEE))
                          .AddGuidHob(kOther, Data)
                          .AddGuidHob(kWanted, Data)
                          .AddGuidHob(kWanted, {})
                          .Build());
  ASSERT_EQ(Start(), EFI_SUCCESS);
  auto *Hob = static_cast<UINT8 *>(Probe->GetFirstGuidHob(&kWanted));
  ASSERT_NE(Hob, nullptr);
  EXPECT_EQ(std::vector<UINT8>(Hob + 24, Hob + 32), Data);
  EXPECT_EQ(Probe->GetFirstGuidHob(&kTscFrequency), nullptr);
}

TEST_F(ProbeTest, HobAfterAnUnpaddedOneIsFoundWithoutMisalignedReads) {
  // A 30-byte HOB breaks the 8-byte rule; the next header is unaligned, which the walk
  // must read byte-wise (UBSan's alignment check guards this build).
  Platform.SetHobList(Join({GuidHob(kOther, 30), GuidHob(kWanted, 32), Header(0xFFFF, 8)}));
  ASSERT_EQ(Start(), EFI_SUCCESS);
  auto *Hob = static_cast<UINT8 *>(Probe->GetFirstGuidHob(&kWanted));
  EXPECT_EQ(Hob, InstalledHobList(Platform) + 30);
}

TEST_F(ProbeTest, ZeroLengthHobEndsTheWalk) {
  Platform.SetHobList(Join({Header(EFI_HOB_TYPE_MEMORY_ALLOCATION, 0), GuidHob(kWanted, 32), Header(0xFFFF, 8)}));
  ASSERT_EQ(Start(), EFI_SUCCESS);
  EXPECT_EQ(Probe->GetFirstGuidHob(&kWanted), nullptr);
}

TEST_F(ProbeTest, GuidHobTooShortForItsNameIsSkipped) {
  std::vector<UINT8> Short = GuidHob(kWanted, 16);
  Short.resize(16);
  Platform.SetHobList(Join({Short, GuidHob(kWanted, 32), Header(0xFFFF, 8)}));
  ASSERT_EQ(Start(), EFI_SUCCESS);
  auto *Hob = static_cast<UINT8 *>(Probe->GetFirstGuidHob(&kWanted));
  ASSERT_NE(Hob, nullptr);
  EXPECT_EQ(Hob, InstalledHobList(Platform) + 16);
}

TEST_F(ProbeTest, HandOffHobBoundsAListWithoutEndMarker) {
  // The hand-off HOB says the list ends after the first GUID HOB; what follows is not read.
  std::vector<UINT8> Handoff = Header(EFI_HOB_TYPE_HANDOFF, 56);
  Handoff.resize(56, 0);
  Platform.SetHobList(Join({Handoff, GuidHob(kOther, 32), GuidHob(kWanted, 32), Header(0xFFFF, 8)}));
  UINT8 *List = InstalledHobList(Platform);
  ASSERT_NE(List, nullptr);
  UINT64 End = reinterpret_cast<UINT64>(List) + 56 + 32;
  std::memcpy(List + 48, &End, sizeof End);
  ASSERT_EQ(Start(), EFI_SUCCESS);
  EXPECT_EQ(Probe->GetFirstGuidHob(&kOther), List + 56);
  EXPECT_EQ(Probe->GetFirstGuidHob(&kWanted), nullptr);
}

TEST_F(ProbeTest, TscFrequencyComesFromItsHob) {
  UINT64 Frequency = 2400000000ULL;
  std::vector<UINT8> Data(8);
  std::memcpy(Data.data(), &Frequency, 8);
  Platform.SetHobList(sim::HobListBuilder().AddGuidHob(kTscFrequency, Data).Build());
  ASSERT_EQ(Start(), EFI_SUCCESS);
  EXPECT_EQ(Probe->TscFrequency(), Frequency);
}

TEST_F(ProbeTest, NoHobListIsAnAssertionAndLookupsFindNothing) {
  Platform.SetHobList({});
  ASSERT_EQ(Start(), EFI_SUCCESS);
  EXPECT_FALSE(Asserts().empty());
  EXPECT_EQ(Probe->TscFrequency(), 0u);
  EXPECT_EQ(Probe->GetFirstGuidHob(&kWanted), nullptr);
}

}  // namespace
}  // namespace supporttest
