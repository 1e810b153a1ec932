// PCI records: which bridges lead to recorded endpoints, the link each record carries, the
// capability search's limits, the 24-record cap and the name text.
#include "RosterFixture.h"

#include <sim/Hob.h>

#include <iostream>
#include <optional>

namespace roster_test {
namespace {

class PciRecordsTest : public RosterTest {
 protected:
  sim::PciRootBridge *Pci = nullptr;
  std::vector<PciExpectation> Expected;
  void SetUp() override {
    auto &Smbios = P.Add<sim::SmbiosTable>(P);
    AddBios(Smbios, {});
    AddOther(Smbios, 127);
    Pci = &P.Add<sim::PciRootBridge>(P);
    Pci->AddEndpoint(0, 0, 0, {0x8086, 0x09A2, 0x06, 0x00, 0, 0});  // host bridge
    Transport();
  }
  // Runs the inventory and compares the image with the expected PCI records.
  void RunAndCompare() {
    RunInventory();
    ExpectedInventory Board;
    Board.Bios = BiosInfo{};
    Board.Pci = Expected;
    const auto Image = OnlyImage();
    const auto Built = BuildExpectedImage(Board);
    EXPECT_TRUE(Image == Built) << FirstDifference(Image, Built);
  }
  static sim::PciEndpointIds Nic(UINT16 DeviceId) { return {0x8086, DeviceId, 0x02, 0x00, 0x8086, 0x0001}; }
};

TEST_F(PciRecordsTest, BoardWithoutBridgesHasNoRecords) {
  Pci->AddEndpoint(0, 0x17, 0, {0x8086, 0xA182, 0x01, 0x06, 0x8086, 0x7270});
  RunAndCompare();
  const auto Image = OnlyImage();
  EXPECT_EQ(Image[63], 0) << "PciPresent";
  EXPECT_EQ(Image[64], 0) << "RecordCount";
}

TEST_F(PciRecordsTest, BridgeBehindBridgeIsNotAnEndpoint) {
  Pci->AddBridge(0, 1, 0, 1, sim::PciRootBridge::LinkStatus(4, 16));
  Pci->AddBridge(1, 0, 0, 2, sim::PciRootBridge::LinkStatus(3, 8));  // header type 0x01
  Pci->AddEndpoint(2, 0, 0, Nic(0x1521));
  Pci->AddBridge(0, 2, 0, 3, sim::PciRootBridge::LinkStatus(4, 4), 0x40, true);
  Pci->AddBridge(3, 0, 0, 4, sim::PciRootBridge::LinkStatus(2, 1), 0x40, true);  // header type 0x81
  Expected.push_back({2, 0, Nic(0x1521), 3, 8});
  RunAndCompare();
}

TEST_F(PciRecordsTest, BridgeAndSystemPeripheralClassesAreNotRecordedButOnlyFunctionZeroIsTested) {
  Pci->AddBridge(0, 1, 0, 1, sim::PciRootBridge::LinkStatus(3, 4));
  Pci->AddEndpoint(1, 0, 0, {0x8086, 0x1111, 0x06, 0x80, 0, 0});
  Pci->AddBridge(0, 2, 0, 2, sim::PciRootBridge::LinkStatus(3, 4));
  Pci->AddEndpoint(2, 0, 0, {0x8086, 0x2222, 0x08, 0x80, 0, 0});
  Pci->AddBridge(0, 3, 0, 3, sim::PciRootBridge::LinkStatus(3, 4));
  Pci->AddEndpoint(3, 0, 0, Nic(0x3333), true);
  const sim::PciEndpointIds Peripheral{0x8086, 0x3334, 0x08, 0x80, 0x8086, 0x0002};
  Pci->AddEndpoint(3, 0, 1, Peripheral, true);
  Expected.push_back({3, 0, Nic(0x3333), 3, 4});
  Expected.push_back({3, 1, Peripheral, 3, 4});
  RunAndCompare();
}

TEST_F(PciRecordsTest, MultiFunctionEndpointGivesOneRecordPerPresentFunction) {
  Pci->AddBridge(0, 1, 0, 0x3B, 0x3183);  // speed 3, width 24, higher status bits set
  for (UINT8 Function : {0, 2, 5, 7}) {
    Pci->AddEndpoint(0x3B, 0, Function, Nic((UINT16)(0x1570 + Function)), true);
    Expected.push_back({0x3B, Function, Nic((UINT16)(0x1570 + Function)), 3, 24});
  }
  RunAndCompare();
  ImageView View{OnlyImage()};
  for (size_t Index = 0; Index < 4; Index++) {
    EXPECT_EQ(View.Pci(Index)[5], Index) << "consecutive Instance values";
  }
}

TEST_F(PciRecordsTest, TypeZeroHeadersAreNeverCandidateBridges) {
  // Offset 0x19 of a type 0 header is a BAR byte; here it names a bus with an endpoint.
  Pci->AddEndpoint(0, 0x1F, 0, {0x8086, 0xA1CB, 0x06, 0x01, 0, 0}, true);
  Pci->Set8(0, 0x1F, 0, 0x19, 0x50);
  Pci->AddEndpoint(0, 0x16, 0, {0x8086, 0xA1BA, 0x07, 0x80, 0, 0});
  Pci->Set8(0, 0x16, 0, 0x19, 0x50);
  Pci->AddEndpoint(0x50, 0, 0, Nic(0x5050));
  RunAndCompare();
}

TEST_F(PciRecordsTest, BridgeWithoutPciExpressCapabilityReportsNoLink) {
  Pci->AddBridge(0, 1, 0, 1, sim::PciRootBridge::LinkStatus(4, 32));  // x32: bit 9, the width field's top bit
  Pci->AddEndpoint(1, 0, 0, Nic(0x0001));
  Pci->AddBridge(0, 2, 0, 2, std::nullopt);  // no capability list at all
  Pci->AddEndpoint(2, 0, 0, Nic(0x0002));
  Pci->AddBridge(0, 3, 0, 3, std::nullopt);
  Pci->AddCapability(0, 3, 0, 0x40, 0x01, 0x48, true);  // power management
  Pci->AddCapability(0, 3, 0, 0x48, 0x05, 0x00, false);  // MSI, end of list
  Pci->AddEndpoint(3, 0, 0, Nic(0x0003));
  Expected.push_back({1, 0, Nic(0x0001), 4, 32});
  Expected.push_back({2, 0, Nic(0x0002), 0, 0});
  Expected.push_back({3, 0, Nic(0x0003), 0, 0});
  RunAndCompare();
}

TEST_F(PciRecordsTest, CapabilityCycleAndHighPointersEndTheSearchWithoutACapability) {
  Pci->AddBridge(0, 1, 0, 1, std::nullopt);  // 0x40 -> 0x50 -> 0x40 -> ...
  Pci->AddCapability(0, 1, 0, 0x40, 0x01, 0x50, true);
  Pci->AddCapability(0, 1, 0, 0x50, 0x05, 0x40, false);
  Pci->AddEndpoint(1, 0, 0, Nic(0x0001));
  Pci->AddBridge(0, 2, 0, 2, std::nullopt);  // first pointer 0xF0
  Pci->AddCapability(0, 2, 0, 0xF0, 0x10, 0x00, true);
  Pci->AddEndpoint(2, 0, 0, Nic(0x0002));
  Pci->AddBridge(0, 3, 0, 3, std::nullopt);  // 0x40 -> 0xF4, where a PCI Express ID sits
  Pci->AddCapability(0, 3, 0, 0x40, 0x01, 0xF4, true);
  Pci->AddCapability(0, 3, 0, 0xF4, 0x10, 0x00, false);
  Pci->AddEndpoint(3, 0, 0, Nic(0x0003));
  Pci->AddBridge(0, 4, 0, 4, std::nullopt);  // a self-loop just below the limit
  Pci->AddCapability(0, 4, 0, 0xEC, 0x09, 0xEC, true);
  Pci->AddEndpoint(4, 0, 0, Nic(0x0004));
  for (UINT8 Bus = 1; Bus <= 4; Bus++) {
    Expected.push_back({Bus, 0, Nic(Bus), 0, 0});
  }
  RunAndCompare();

  size_t CycleReads = 0;
  for (const auto &Read : Pci->Reads()) {
    CycleReads += (Read.Address & 0xFFFFFF00) == EfiPciAddress(0, 1, 0, 0) ? 1 : 0;
  }
  EXPECT_LE(CycleReads, 4u + 1u + 2u * 48u) << "the cycle was followed past 48 steps";
}

TEST_F(PciRecordsTest, CapabilityNearTheEndReadsItsLinkStatusFromTheExtendedField) {
  Pci->AddBridge(0, 1, 0, 1, sim::PciRootBridge::LinkStatus(2, 4), 0xEE);  // Link Status at 0x100
  Pci->AddEndpoint(1, 0, 0, Nic(0x0001));
  Expected.push_back({1, 0, Nic(0x0001), 2, 4});
  RunAndCompare();
}

TEST_F(PciRecordsTest, AreaHoldsTwentyFourRecordsAndTheWalkStopsThere) {
  for (UINT8 Device = 1; Device <= 7; Device++) {
    AddEndpointBehindBridge(
        *Pci,
        {0, Device, 0, (UINT8)(Device * 0x10), sim::PciRootBridge::LinkStatus(3, Device), 4, (UINT16)(Device * 0x100)},
        Device <= 6 ? &Expected : nullptr);
  }
  RunAndCompare();
  ImageView View{OnlyImage()};
  EXPECT_EQ(View.PciCount(), 24);
  for (const auto &Read : Pci->Reads()) {
    EXPECT_LT((UINT8)(Read.Address >> 24), 0x70) << "the walk went on after the area was full";
  }
}

TEST_F(PciRecordsTest, NameTextsArePaddedUpperCaseHex) {
  Pci->AddBridge(0, 1, 0, 0x05, sim::PciRootBridge::LinkStatus(1, 1));
  Pci->AddEndpoint(0x05, 0, 0, Nic(0x0005));
  Pci->AddBridge(0, 2, 0, 0x3B, sim::PciRootBridge::LinkStatus(1, 1));
  Pci->AddEndpoint(0x3B, 0, 0, Nic(0x003B), true);
  Pci->AddEndpoint(0x3B, 0, 1, Nic(0x013B), true);
  RunInventory();
  ImageView View{OnlyImage()};

  ASSERT_EQ(View.PciCount(), 3);
  const std::string Names[] = {"Bus= 5 Dev= 0 Fun= 0", "Bus=3B Dev= 0 Fun= 0", "Bus=3B Dev= 0 Fun= 1"};
  for (size_t Index = 0; Index < 3; Index++) {
    std::string Field(reinterpret_cast<const char *>(View.Pci(Index) + 9), 64);
    EXPECT_EQ(Field, Names[Index] + std::string(64 - Names[Index].size(), '\0'));
  }
}

TEST_F(PciRecordsTest, RefusedReadsReadAsAbsent) {
  Pci->DecodeBuses(0, 0x3F);
  Pci->AddBridge(0, 1, 0, 0x80, sim::PciRootBridge::LinkStatus(3, 4));  // leads past the decoded range
  Pci->AddBridge(0, 2, 0, 0x20, sim::PciRootBridge::LinkStatus(3, 4));
  Pci->AddEndpoint(0x20, 0, 0, Nic(0x0020));
  Expected.push_back({0x20, 0, Nic(0x0020), 3, 4});
  RunAndCompare();
}

TEST_F(PciRecordsTest, EveryReadRefusedGivesNoRecordsAndEndsTheScan) {
  Pci->AddBridge(0, 1, 0, 1, sim::PciRootBridge::LinkStatus(3, 4));
  Pci->AddEndpoint(1, 0, 0, Nic(0x0001));
  P.Faults().FailAlways("PciRootBridgeIo.Pci.Read", EFI_DEVICE_ERROR);
  RunAndCompare();
  EXPECT_EQ(Pci->ReadCount(), 65536u);
}

TEST_F(PciRecordsTest, ScanCostsOneProbePerAddressAndAFewReadsPerPresentFunction) {
  Pci->AddBridge(0, 1, 0, 0x10, sim::PciRootBridge::LinkStatus(3, 16));
  for (UINT8 Function = 0; Function < 4; Function++) {
    Pci->AddEndpoint(0x10, 0, Function, Nic(Function), true);
  }
  RunInventory();
  const size_t Reads = Pci->ReadCount();
  std::cout << "[ metrics  ] configuration reads for one bridge with four functions: " << Reads << "\n";
  EXPECT_GE(Reads, 65536u);
  EXPECT_LT(Reads, 65536u + 64u) << "a present bridge costs a few reads, not a rescan";
}

class PciWithoutRootBridgeTest : public RosterTest {};

TEST_F(PciWithoutRootBridgeTest, MissingRootBridgeGivesNoRecordsAndNoAssertion) {
  auto &Smbios = P.Add<sim::SmbiosTable>(P);
  AddBios(Smbios, {});
  AddOther(Smbios, 127);
  Transport();
  RunInventory();
  EXPECT_EQ(OnlyImage().size(), 67u);
  EXPECT_EQ(AssertionCount(), 0u);
}

}  // namespace
}  // namespace roster_test

namespace roster_test {
namespace {

// One bridge leading to one endpoint; returns the transport's images after one inventory,
// with the endpoint's header-type read refused when RefuseRead is set (1-based, counted
// over the inventory's configuration reads).
struct RefusalRun {
  std::vector<std::vector<UINT8>> Images;
  std::vector<sim::PciRootBridge::Read> Reads;
};

RefusalRun RunWithRefusal(std::optional<unsigned> RefuseRead) {
  sim::Platform P;
  P.SetHobList(sim::HobListBuilder().Build());
  auto &Pci = P.Add<sim::PciRootBridge>(P);
  AddEndpointBehindBridge(Pci, {0, 1, 0, 1, sim::PciRootBridge::LinkStatus(3, 4), 1, 0x1000}, nullptr);
  auto &Transport = P.Add<sim::ManagementTransport>(P);
  sim::LoadedDriver Driver = P.Load(sim::DriverImage::Roster);
  EXPECT_EQ(Driver.Start(), EFI_SUCCESS);
  if (RefuseRead) {
    P.Faults().FailNth("PciRootBridgeIo.Pci.Read", *RefuseRead, EFI_INVALID_PARAMETER);
  }
  sim::InstallInventoryTrigger(P);
  return {InventoryImages(Transport), Pci.Reads()};
}

TEST(PciRefusedReadTest, RefusedEndpointHeaderReadLeavesTheBridgeUnrecorded) {
  const RefusalRun Clean = RunWithRefusal(std::nullopt);
  ASSERT_EQ(Clean.Images.size(), 1u);
  ASSERT_EQ(Clean.Images[0][63], 1) << "the clean run records the endpoint";
  unsigned Nth = 0;
  for (size_t Index = 0; Index < Clean.Reads.size() && Nth == 0; Index++) {
    if (Clean.Reads[Index].Address == EfiPciAddress(1, 0, 0, 0x0E)) {
      Nth = (unsigned)Index + 1;
    }
  }
  ASSERT_NE(Nth, 0u);

  const RefusalRun Refused = RunWithRefusal(Nth);
  ASSERT_EQ(Refused.Images.size(), 1u);
  EXPECT_EQ(Refused.Images[0].size(), 67u) << "a refused read was taken for a type 0 header";
}

}  // namespace
}  // namespace roster_test
