// The inventory driver and the KCS transport loaded together: the BMC behind the KCS
// interface reassembles the board's inventory image byte for byte, the SATA step's retries
// meet a BMC that is busy at first, and a board without a BMC or with a silent one gets
// through its inventory in bounded time.
#include "KcsFixture.h"
#include "RosterBoard.h"

#include <sim/DebugRender.h>
#include <sim/peers/PlatformIdentity.h>

#include <Guid/DebugMessageConfig.h>

#include <algorithm>
#include <cstring>

namespace kcs_test {
namespace {

class RosterOverKcsTest : public KcsTest {
 protected:
  roster_test::FullBoard Board;
  LargeCommandBmc Inventory{kInventoryHeader};
  std::vector<std::vector<UINT8>> SataRequests;
  unsigned BusyAnswers = 0;  // the first SATA_INFO requests answered "node busy"
  std::list<sim::LoadedDriver> Roster;

  void SetUp() override {
    Board = roster_test::BuildFullBoard(P);
    // The recorder the board comes with makes way for the KCS transport.
    for (EFI_HANDLE Handle : P.HandlesWith(gManagementTransportProtocolGuid)) {
      ASSERT_EQ(P.UninstallProtocol(Handle, gManagementTransportProtocolGuid, Board.Transport->Interface()),
                EFI_SUCCESS);
    }
    // The interface where the board's SMBIOS says it is, away from the default ports.
    std::vector<UINT8> Type38(0x12, 0);
    Type38[0] = 38;
    Type38[4] = 1;  // KCS
    Type38[5] = 0x20;
    Type38[8] = 0xA9;  // 0xCA8 with the I/O-space bit
    Type38[9] = 0x0C;
    Type38[0x10] = 0x40;  // 32-bit spacing
    Board.Smbios->Add(Type38, {});

    std::vector<UINT8> Config(23, 0);
    Config[0] = 4;  // DEBUG_INFO and DEBUG_ERROR shown
    P.Variables().Put(kDebugMessageConfigName, gDebugMessageConfigGuid,
                      EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS,
                      Config);
  }

  void AddBmc() {
    Device(0xCA8, 0xCAC).Answer([this](const std::vector<UINT8> &Request) {
      if (Request.size() >= 2 && (UINT16)(Request[0] | (Request[1] << 8)) == kSataInfoHeader) {
        SataRequests.emplace_back(Request.begin() + 2, Request.end());
        return sim::KcsDevice::Reply(Request, SataRequests.size() <= BusyAnswers ? IPMI_CC_NODE_BUSY : 0x00);
      }
      return Inventory(Request);
    });
  }

  // Starts the transport and the inventory driver and runs one inventory.
  void RunInventory() {
    StartTransport();
    Roster.push_back(P.Load(sim::DriverImage::Roster));
    ASSERT_EQ(Roster.back().Start(), EFI_SUCCESS);
    sim::InstallInventoryTrigger(P);
  }

  std::vector<std::string> Lines() const {
    std::vector<std::string> Result;
    for (const auto &Report : P.StatusCodes()) {
      if (auto Message = sim::DecodeDebugMessage(Report)) {
        Result.push_back(sim::RenderStatusCode(Report));
      }
    }
    return Result;
  }
  size_t CountLines(const std::string &Text) const {
    auto All = Lines();
    return (size_t)std::count_if(All.begin(), All.end(),
                                 [&](const std::string &Line) { return Line.find(Text) != std::string::npos; });
  }
};

TEST_F(RosterOverKcsTest, BmcReceivesTheBoardsImageAndEverySataMessageThroughTheRetries) {
  BusyAnswers = 2;
  AddBmc();
  RunInventory();

  EXPECT_TRUE(Inventory.Breaches.empty()) << Inventory.Breaches.front();
  ASSERT_EQ(Inventory.Commands.size(), 1u);
  const auto Expected = roster_test::BuildExpectedImage(Board.Expected);
  ASSERT_EQ(Expected.size(), 23063u);
  EXPECT_TRUE(Inventory.Commands[0] == Expected);
  EXPECT_EQ(Inventory.WriteOffsets.size(), 103u);
  EXPECT_EQ(CountLines("Inventory Status = Success"), 1u);

  // The first message is answered "busy" twice and taken at its third attempt.
  ASSERT_EQ(SataRequests.size(), 14u + 2u);
  EXPECT_EQ(SataRequests[0], SataRequests[1]);
  EXPECT_EQ(SataRequests[1], SataRequests[2]);
  EXPECT_NE(SataRequests[2], SataRequests[3]);
  for (const auto &Message : SataRequests) {
    EXPECT_EQ(Message.size(), sizeof(SATA_INFO));
  }
  EXPECT_EQ(CountLines("Send Sata hdd information status = Not Ready"), 2u);
  EXPECT_EQ(CountLines("Send Sata hdd information status = Success"), 14u);
  EXPECT_TRUE(Device_->Violations().empty());
  EXPECT_EQ(P.Microseconds(), 0u) << "a BMC that keeps up costs no stall";
}

TEST_F(RosterOverKcsTest, BoardWithoutBmcFinishesItsInventoryAtOnce) {
  RunInventory();
  EXPECT_EQ(CountLines("Inventory Status = Device Error"), 1u);
  EXPECT_EQ(CountLines("Send Sata hdd information status = Device Error"), 14u * 3u);
  EXPECT_EQ(P.Microseconds(), 0u);
}

TEST_F(RosterOverKcsTest, SilentBmcCostsTheInventoryAtMostAboutTwoSeconds) {
  for (bool Hold : {true, false}) {
    SCOPED_TRACE(Hold ? "input held while processing" : "read state at once");
    AddBmc();
    Device_->HoldInputWhileProcessing = Hold;
    Device_->ResponseDelay = sim::KcsDevice::kNever;
    const UINT64 Start = P.Microseconds();
    RunInventory();
    const UINT64 Spent = P.Microseconds() - Start;
    std::cout << "[ metrics  ] inventory against a silent BMC (" << (Hold ? "IBF held" : "no OBF") << "): " << Spent
              << " us\n";
    EXPECT_LE(Spent, 1000000u + 20000u + 42u * 20000u);
    EXPECT_TRUE(Device_->Violations().empty());
    P.ClearStatusCodes();
  }
}

}  // namespace
}  // namespace kcs_test
