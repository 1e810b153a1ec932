// The whole road in the simulator: the hot-key driver's packets, raised through its
// doorbell, answered by the handler image and written into the platform's variable store.
#include "HotlatchBoard.h"

#include <sim/peers/MmPlatform.h>

#include <Guid/SsvsHandlerStatistics.h>

#include <gtest/gtest.h>

#include <cstring>

namespace hotlatch_test {
namespace {

SSVS_HANDLER_STATISTICS Statistics(sim::Platform &P) {
  SSVS_HANDLER_STATISTICS Result{};
  const sim::VariableStore::Variable *Stored =
      P.Variables().Find(SSVS_HANDLER_STATISTICS_NAME, gSsvsHandlerStatisticsGuid);
  if (Stored != nullptr && Stored->Data.size() == sizeof(Result)) {
    std::memcpy(&Result, Stored->Data.data(), sizeof(Result));
  }
  return Result;
}

TEST(SsvsBehindHotlatch, StartAndKeyPressWriteThroughTheHandler) {
  HotlatchBoard Board;
  sim::MmPlatform &Mm = Board.P.Add<sim::MmPlatform>(Board.P);
  sim::LoadedDriver Handler = Board.P.LoadModule(SSVS_HANDLER_MODULE_PATH, 11);
  ASSERT_EQ(Handler.Start(), EFI_SUCCESS);
  Mm.AnswerSoftwareSmis();
  // EDK II's readiness signal in the DXE database, which sends the driver down the SMI path.
  EFI_HANDLE Signal = nullptr;
  ASSERT_EQ(Board.P.InstallProtocol(&Signal, gEfiSmmVariableProtocolGuid, nullptr), EFI_SUCCESS);
  const unsigned DirectWrites = Board.P.Faults().Count("SetVariable");

  ASSERT_EQ(Board.Start(), EFI_SUCCESS);
  EXPECT_EQ(Board.Stored(kSetup), WithByte(Board.Setup, SETUP_BIOS_SETUP_DEBUG_OFFSET, 0));
  EXPECT_EQ(Statistics(Board.P).Served, 3u);

  sim::Keyboard &Keyboard = Board.AddKeyboard();
  Keyboard.Install();
  Keyboard.Press(kDebugKeyStroke);

  EXPECT_EQ(Board.Stored(kSetup),
            WithByte(WithByte(Board.Setup, SETUP_BIOS_SETUP_DEBUG_OFFSET, 1), SETUP_SECOND_DEBUG_OFFSET, 1));
  EXPECT_EQ(Board.Stored(kSocketProc), WithByte(Board.SocketProc, PROC_HIDE_OFFSET, 1));
  EXPECT_EQ(Statistics(Board.P).Served, 6u);
  EXPECT_EQ(Statistics(Board.P).Refused, 0u);
  EXPECT_EQ(Board.P.Faults().Count("SetVariable"), DirectWrites);
  // The driver read each answer from its packet.
  EXPECT_TRUE(Contains(Board.Lines(), "[PchHideOption] Set Variable PchRcConfig.PchHideOption Success....Success"));
  EXPECT_EQ(Board.P.LiveAllocations(), 0u);
}

}  // namespace
}  // namespace hotlatch_test
