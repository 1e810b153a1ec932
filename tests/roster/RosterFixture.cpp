#include "RosterFixture.h"

#include <Guid/DebugMessageConfig.h>

#include <sim/Hob.h>

#include <sstream>

namespace roster_test {

// Firmware always hands a HOB list over; an empty one is enough here.
RosterTest::RosterTest() { P.SetHobList(sim::HobListBuilder().Build()); }

void RosterTest::ShowDebugMessages() {
  std::vector<UINT8> Config(23, 0);
  Config[0] = 4;  // everything but pool and page messages
  P.Variables().Put(kDebugMessageConfigName, gDebugMessageConfigGuid,
                    EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS, Config);
}

EFI_STATUS RosterTest::StartDriver() {
  Loaded.push_back(P.Load(sim::DriverImage::Roster));
  return Loaded.back().Start();
}

sim::ManagementTransport &RosterTest::Transport() {
  if (Transport_ == nullptr) {
    Transport_ = &P.Add<sim::ManagementTransport>(P);
  }
  return *Transport_;
}

void RosterTest::NoteBeforeTrigger() {
  LiveBeforeTrigger = P.LiveAllocations();
  EventsBeforeTrigger = P.OpenEventCount();
  ReportsBeforeTrigger = P.StatusCodes().size();
}

void RosterTest::ExpectCleanAfterInventory() {
  EXPECT_EQ(P.LiveAllocations(), LiveBeforeTrigger) << "pool left behind by the inventory";
  EXPECT_EQ(P.OpenEventCount() + 1, EventsBeforeTrigger) << "the inventory event did not close";
}

void RosterTest::RunInventory() {
  ASSERT_EQ(StartDriver(), EFI_SUCCESS);
  NoteBeforeTrigger();
  sim::InstallInventoryTrigger(P);
  ExpectCleanAfterInventory();
}

std::vector<std::vector<UINT8>> RosterTest::Images() const {
  return Transport_ != nullptr ? InventoryImages(*Transport_) : std::vector<std::vector<UINT8>>{};
}

std::vector<std::vector<UINT8>> RosterTest::Messages() const {
  return Transport_ != nullptr ? SataMessages(*Transport_) : std::vector<std::vector<UINT8>>{};
}

std::vector<UINT8> RosterTest::OnlyImage() const {
  auto All = Images();
  EXPECT_EQ(All.size(), 1u);
  return All.empty() ? std::vector<UINT8>{} : All.front();
}

size_t RosterTest::AssertionCount() const {
  size_t Count = 0;
  const auto &Reports = P.StatusCodes();
  for (size_t Index = ReportsBeforeTrigger; Index < Reports.size(); Index++) {
    Count += Reports[Index].Type == 0x90000002 ? 1 : 0;
  }
  return Count;
}

UINT8 ImageView::CpuCount() const {
  size_t Count = 0;
  for (size_t Offset = 67; Offset + 230 <= Image.size() && Image[Offset + 4] == 1; Offset += 230) {
    Count++;
  }
  return (UINT8)Count;
}

UINT8 ImageView::DimmCount() const {
  size_t Count = 0;
  for (size_t Offset = 67 + 230 * CpuCount(); Offset + 752 <= Image.size() && Image[Offset + 4] == 8; Offset += 752) {
    Count++;
  }
  return (UINT8)Count;
}

UINT8 ImageView::PciCount() const {
  const size_t Start = 67 + 230 * CpuCount() + 752 * DimmCount();
  return (UINT8)((Image.size() - Start) / 563);
}

const UINT8 *ImageView::Cpu(size_t Index) const { return &Image[67 + 230 * Index]; }
const UINT8 *ImageView::Dimm(size_t Index) const { return &Image[67 + 230 * CpuCount() + 752 * Index]; }
const UINT8 *ImageView::Pci(size_t Index) const {
  return &Image[67 + 230 * CpuCount() + 752 * DimmCount() + 563 * Index];
}

std::string FieldText(const UINT8 *Field, size_t Width) {
  size_t Length = 0;
  while (Length < Width && Field[Length] != 0) {
    Length++;
  }
  return std::string(reinterpret_cast<const char *>(Field), Length);
}

std::string FirstDifference(const std::vector<UINT8> &Actual, const std::vector<UINT8> &Expected) {
  std::ostringstream Text;
  if (Actual.size() != Expected.size()) {
    Text << "sizes differ: " << Actual.size() << " vs " << Expected.size() << "; ";
  }
  for (size_t Index = 0; Index < std::min(Actual.size(), Expected.size()); Index++) {
    if (Actual[Index] != Expected[Index]) {
      Text << "first difference at byte " << Index << ": 0x" << std::hex << (unsigned)Actual[Index] << " vs 0x"
           << (unsigned)Expected[Index];
      break;
    }
  }
  return Text.str();
}

}  // namespace roster_test
