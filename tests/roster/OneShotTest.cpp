// The inventory runs once per boot, only for a trigger installed after the driver started,
// and leaves no pool and no event behind.
#include "RosterFixture.h"

namespace roster_test {
namespace {

class OneShotTest : public RosterTest {
 protected:
  void SetUp() override {
    auto &Smbios = P.Add<sim::SmbiosTable>(P);
    AddBios(Smbios, BiosInfo{});
    AddProcessor(Smbios, Processor{});
    AddOther(Smbios, 127);
    Transport();
  }
};

TEST_F(OneShotTest, SecondTriggerGivesNoSecondInventory) {
  RunInventory();
  sim::InstallInventoryTrigger(P);

  EXPECT_EQ(Images().size(), 1u);
  EXPECT_EQ(Messages().size(), 14u);
}

TEST_F(OneShotTest, TriggerInstalledBeforeStartIsNotTaken) {
  sim::InstallInventoryTrigger(P);
  ASSERT_EQ(StartDriver(), EFI_SUCCESS);
  EXPECT_TRUE(Images().empty());

  // Still armed: the next installation takes the inventory.
  NoteBeforeTrigger();
  sim::InstallInventoryTrigger(P);
  ExpectCleanAfterInventory();
  EXPECT_EQ(Images().size(), 1u);
}

TEST_F(OneShotTest, FailedDeliveriesStillFreeEverythingAndCloseTheEvent) {
  Transport().Script(sim::ManagementTransport::Member::SendLargeCommand, {EFI_NO_RESPONSE});
  std::vector<EFI_STATUS> AlwaysFailing(3 * 14, EFI_TIMEOUT);
  Transport().Script(sim::ManagementTransport::Member::SendCommand, AlwaysFailing);
  P.Add<sim::DiskInfoDisk>(P, AhciDisk(false, 4, sim::IdentifyData().Model("M").Serial("S").Sectors28(1000000)));
  RunInventory();

  EXPECT_EQ(Messages().size(), 3u * 14u);
}

TEST_F(OneShotTest, RefusedNotifyRegistrationFailsTheStartAndLeavesNothingBehind) {
  const size_t EventsBefore = P.OpenEventCount();
  P.Faults().FailNth("RegisterProtocolNotify", 1, EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(StartDriver(), EFI_OUT_OF_RESOURCES);

  EXPECT_EQ(P.OpenEventCount(), EventsBefore) << "an event of an unloaded driver stays open";
  EXPECT_TRUE(P.HandlesWith(gEfiDebugMaskProtocolGuid).empty()) << "the destructors did not run";
  sim::InstallInventoryTrigger(P);
  EXPECT_TRUE(Images().empty());
}

TEST_F(OneShotTest, RefusedEventFailsTheStartWithoutRegistering) {
  const size_t EventsBefore = P.OpenEventCount();
  P.Faults().FailNth("CreateEvent", 1, EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(StartDriver(), EFI_OUT_OF_RESOURCES);

  EXPECT_EQ(P.Faults().Count("RegisterProtocolNotify"), 0u) << "registered an event that does not exist";
  EXPECT_EQ(P.OpenEventCount(), EventsBefore);
  EXPECT_TRUE(P.HandlesWith(gEfiDebugMaskProtocolGuid).empty()) << "the destructors did not run";
}

TEST_F(OneShotTest, RefusedRecordAreaEndsTheInventoryWithoutDelivery) {
  for (unsigned Area = 1; Area <= 3; Area++) {
    SCOPED_TRACE(Area);
    ASSERT_EQ(StartDriver(), EFI_SUCCESS);
    NoteBeforeTrigger();
    P.Faults().FailNth("AllocatePool", Area, EFI_OUT_OF_RESOURCES);
    sim::InstallInventoryTrigger(P);
    ExpectCleanAfterInventory();
    EXPECT_EQ(AssertionCount(), 1u);
  }
  EXPECT_TRUE(Images().empty());
}

}  // namespace
}  // namespace roster_test
