// Every platform call of a whole day of the driver fails in turn: start, arm, key press,
// disarm, another press. Whatever fails, nothing crashes, nothing leaks, and a failed start
// leaves nothing behind that names the image's code.
#include "HotlatchBoard.h"

#include <gtest/gtest.h>

namespace hotlatch_test {
namespace {

struct Day {
  bool Smm;
  bool Tesk;
  // EDK II's notify position with a keyboard already there: that one is armed instead.
  bool EdkIIWithEarlyKeyboard;
};

struct Outcome {
  EFI_STATUS Started = EFI_SUCCESS;
  unsigned Calls = 0;
  std::vector<std::string> CallLog;
};

// One day on a fresh board; FailAt = 0 runs it clean.
Outcome RunDay(Day Setting, unsigned FailAt, EFI_STATUS FailWith) {
  HotlatchBoard Board;
  if (Setting.Smm) {
    Board.AddSmmVariable();
  }
  if (Setting.Tesk) {
    Board.AddTeskService();
  }
  sim::Keyboard *Early = nullptr;
  if (Setting.EdkIIWithEarlyKeyboard) {
    Board.P.SetNotifyReading(sim::NotifyReading::EdkII);
    Early = &Board.AddKeyboard();
    Early->Install();
  }
  sim::Keyboard &Keyboard = Board.AddKeyboard();
  sim::Keyboard &Armed = Early != nullptr ? *Early : Keyboard;
  size_t EventsBeforeLoad = Board.P.OpenEventCount();
  size_t CallsBefore = Board.P.Faults().CallLog().size();
  if (FailAt != 0) {
    Board.P.Faults().FailOverallNth(FailAt, FailWith);
  }

  EFI_STATUS Started = Board.Start();
  bool FailedCloseEvent = false;
  if (EFI_ERROR(Started)) {
    // A close that itself was made to fail cannot be expected to have closed.
    const auto &Log = Board.P.Faults().CallLog();
    FailedCloseEvent =
        FailAt != 0 && CallsBefore + FailAt <= Log.size() && Log[CallsBefore + FailAt - 1] == "CloseEvent";
    if (!FailedCloseEvent) {
      EXPECT_EQ(Board.P.OpenEventCount(), EventsBeforeLoad) << "a failed start left an event open";
    }
  }
  Keyboard.Install();
  Armed.Press(kDebugKeyStroke);
  sim::InstallDebugKeyDisarm(Board.P);
  Armed.Press(kDebugKeyStroke);

  if (EFI_ERROR(Started)) {
    EXPECT_TRUE(Armed.Calls().empty()) << "the key was armed by an image that failed to start";
  } else if (FailAt == 0) {
    EXPECT_TRUE(Armed.Registrations().empty());
    EXPECT_TRUE(Keyboard.Registrations().empty());
    EXPECT_EQ(Board.Stored(kSetup),
              WithByte(WithByte(Board.Setup, SETUP_BIOS_SETUP_DEBUG_OFFSET, 1), SETUP_SECOND_DEBUG_OFFSET, 1));
  }
  EXPECT_EQ(Board.P.LiveAllocations(), 0u);

  Outcome Result;
  Result.Started = Started;
  const auto &Log = Board.P.Faults().CallLog();
  Result.CallLog.assign(Log.begin() + static_cast<std::ptrdiff_t>(CallsBefore), Log.end());
  Result.Calls = static_cast<unsigned>(Result.CallLog.size());
  return Result;
}

class HotlatchFaultInjection : public testing::TestWithParam<Day> {};

TEST_P(HotlatchFaultInjection, EachCallFailingInTurn) {
  Outcome Clean = RunDay(GetParam(), 0, EFI_SUCCESS);
  ASSERT_GT(Clean.Calls, 20u);
  unsigned FailedStarts = 0;
  for (unsigned FailAt = 1; FailAt <= Clean.Calls; FailAt++) {
    // A refused FreePool keeps its block by definition; the caller can do nothing about it.
    if (Clean.CallLog[FailAt - 1] == "FreePool") {
      continue;
    }
    SCOPED_TRACE("failing call " + std::to_string(FailAt) + ": " + Clean.CallLog[FailAt - 1]);
    Outcome Failed = RunDay(GetParam(), FailAt, FailAt % 2 == 0 ? EFI_DEVICE_ERROR : EFI_OUT_OF_RESOURCES);
    FailedStarts += EFI_ERROR(Failed.Started) ? 1 : 0;
    if (HasFatalFailure()) {
      return;
    }
  }
  // The sweep reached the start's own failure paths (the disarm event and its registration).
  EXPECT_GE(FailedStarts, 2u);
  RecordProperty("calls", static_cast<int>(Clean.Calls));
}

INSTANTIATE_TEST_SUITE_P(Boards, HotlatchFaultInjection,
                         testing::Values(Day{false, false, false}, Day{true, true, false}, Day{false, true, true}),
                         [](const testing::TestParamInfo<Day> &Info) {
                           return std::string(Info.param.Smm ? "SmmPath" : "DirectPath") +
                                  (Info.param.Tesk ? "WithTesk" : "WithoutTesk") +
                                  (Info.param.EdkIIWithEarlyKeyboard ? "EdkIIReading" : "UefiReading");
                         });

}  // namespace
}  // namespace hotlatch_test
