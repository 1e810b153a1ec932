#include "ImageRuns.h"

#include <Guid/DebugMessageConfig.h>

#include <debug_render/DebugRender.h>
#include <sim/DebugTranscript.h>
#include <sim/Hob.h>
#include <sim/peers/DebugKeyDisarm.h>
#include <sim/peers/PlatformIdentity.h>
#include <tests/hotlatch/HotlatchBoard.h>
#include <tests/roster/RosterBoard.h>

#include <gtest/gtest.h>

#include <algorithm>

namespace peimage_test {

sim::LoadedDriver HostRoster(sim::Platform &P) { return P.Load(sim::DriverImage::Roster); }
sim::LoadedDriver ImageRoster(sim::Platform &P) { return P.LoadPeImage(ROSTER_EFI_PATH); }
sim::LoadedDriver HostHotlatch(sim::Platform &P) { return P.Load(sim::DriverImage::Hotlatch); }
sim::LoadedDriver ImageHotlatch(sim::Platform &P) { return P.LoadPeImage(HOTLATCH_EFI_PATH); }

void ShowInfoAndErrorMessages(sim::Platform &P) {
  std::vector<UINT8> Config(23, 0);
  Config[4] = 1;  // the switches below decide, not the preset
  Config[9] = 1;  // DEBUG_INFO
  Config[21] = 1;  // DEBUG_ERROR
  P.Variables().Put(kDebugMessageConfigName, gDebugMessageConfigGuid,
                    EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS, Config);
}

std::vector<std::string> AssertionsIn(const std::vector<sim::StatusCodeReport> &Reports,
                                      const std::vector<std::string> &Lines) {
  std::vector<std::string> Found;
  for (const sim::StatusCodeReport &Report : Reports) {
    if (auto Assert = debug_render::DecodeAssertMessage(Report)) {
      Found.push_back("assert record: " + Assert->FileName + " (" + std::to_string(Assert->LineNumber) +
                      "): " + Assert->Description);
    }
  }
  for (const std::string &Line : Lines) {
    if (Line.find("ASSERT") != std::string::npos) {
      Found.push_back("listener line: " + Line);
    }
  }
  return Found;
}

void ExpectNoAssertion(const std::vector<sim::StatusCodeReport> &Reports, const std::vector<std::string> &Lines,
                       const std::string &Run) {
  const std::vector<std::string> Found = AssertionsIn(Reports, Lines);
  if (!Found.empty()) {
    std::string Listed;
    for (const std::string &Assertion : Found) {
      Listed += "\n  " + Assertion;
    }
    ADD_FAILURE() << "assertion in the " << Run << " run:" << Listed;
  }
}

std::string FirstLineDifference(const std::vector<std::string> &Host, const std::vector<std::string> &Image) {
  const size_t Common = std::min(Host.size(), Image.size());
  for (size_t Index = 0; Index < Common; Index++) {
    if (Host[Index] != Image[Index]) {
      return "line " + std::to_string(Index) + ": host \"" + Host[Index] + "\", image \"" + Image[Index] + "\"";
    }
  }
  if (Host.size() != Image.size()) {
    return "host has " + std::to_string(Host.size()) + " lines, image " + std::to_string(Image.size());
  }
  return "identical";
}

std::string FirstByteDifference(const std::vector<UINT8> &Actual, const std::vector<UINT8> &Expected) {
  const size_t Common = std::min(Actual.size(), Expected.size());
  for (size_t Index = 0; Index < Common; Index++) {
    if (Actual[Index] != Expected[Index]) {
      return "byte " + std::to_string(Index) + ": " + std::to_string(Actual[Index]) + " instead of " +
             std::to_string(Expected[Index]);
    }
  }
  if (Actual.size() != Expected.size()) {
    return std::to_string(Actual.size()) + " bytes instead of " + std::to_string(Expected.size());
  }
  return "identical";
}

RosterRun RunInventory(const DriverLoader &Load, const std::function<void(sim::Platform &)> &Prepare) {
  RosterRun Run;
  sim::Platform P;
  P.SetHobList(sim::HobListBuilder().Build());
  ShowInfoAndErrorMessages(P);
  sim::DebugTranscript Transcript(P);
  roster_test::FullBoard Board = roster_test::BuildFullBoard(P);
  Run.ExpectedImage = roster_test::BuildExpectedImage(Board.Expected);

  sim::LoadedDriver Driver = Load(P);
  Run.StartStatus = Driver.Start();
  Run.PoolBeforeTrigger = P.LiveAllocations();
  Run.EventsBeforeTrigger = P.OpenEventCount();
  if (Prepare) {
    Prepare(P);
  }
  sim::InstallInventoryTrigger(P);
  P.Faults().Clear();
  Run.PoolAfterTrigger = P.LiveAllocations();
  Run.EventsAfterTrigger = P.OpenEventCount();

  Run.Images = roster_test::InventoryImages(*Board.Transport);
  Run.SataMessages = roster_test::SataMessages(*Board.Transport);
  Run.Lines = Transcript.Lines();
  Run.Reports = P.StatusCodes();
  return Run;
}

namespace {

VariableBytes Snapshot(hotlatch_test::HotlatchBoard &Board) {
  return {Board.Stored(hotlatch_test::kSetup), Board.Stored(hotlatch_test::kPchRc),
          Board.Stored(hotlatch_test::kSocketProc)};
}

}  // namespace

HotlatchRun RunHotKey(const DriverLoader &Load) {
  HotlatchRun Run;
  hotlatch_test::HotlatchBoard Board;
  ShowInfoAndErrorMessages(Board.P);
  Run.Initial = Snapshot(Board);

  sim::LoadedDriver Driver = Load(Board.P);
  Run.StartStatus = Driver.Start();
  sim::Keyboard &Keyboard = Board.AddKeyboard();
  Keyboard.Install();
  sim::VariableStore &Variables = Board.P.Variables();
  unsigned Writes = Variables.WriteCount();
  Run.PressNotifications = Keyboard.Press(hotlatch_test::kDebugKeyStroke);
  Run.PressWrites = Variables.WriteCount() - Writes;
  Run.AfterPress = Snapshot(Board);

  sim::InstallDebugKeyDisarm(Board.P);
  Writes = Variables.WriteCount();
  Run.DisarmedPressNotifications = Keyboard.Press(hotlatch_test::kDebugKeyStroke);
  Run.DisarmedPressWrites = Variables.WriteCount() - Writes;
  Run.AfterDisarmedPress = Snapshot(Board);

  Board.P.ExitBootServices();
  Board.P.SetVirtualAddressMap(0);
  Run.ConvertedPointers = Board.P.ConvertedPointers().size();

  Run.Lines = Board.Lines();
  Run.Reports = Board.P.StatusCodes();
  return Run;
}

}  // namespace peimage_test
