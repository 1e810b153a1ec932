// Arming the debug key on the first keyboard reported after the start, and disarming it.
#include "HotlatchBoard.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace hotlatch_test {
namespace {

bool IsDebugKeyRegistration(const sim::Keyboard::Registration &Registration) {
  return Registration.Key.Key.ScanCode == SCAN_NULL && Registration.Key.Key.UnicodeChar == u'd' &&
         Registration.Key.KeyState.KeyShiftState == 0x80000028 && Registration.Key.KeyState.KeyToggleState == 0;
}

bool IsArmed(const sim::Keyboard &Keyboard) {
  return Keyboard.Registrations().size() == 1 && IsDebugKeyRegistration(Keyboard.Registrations()[0]);
}

const char *const kArmCloseLine = "Close event OemSetupHotKey() Success...";

TEST(HotKeyLifecycle, KeyboardsPresentBeforeStartAreNeverArmed) {
  HotlatchBoard Board;
  sim::Keyboard &Early = Board.AddKeyboard();
  Early.Install();
  ASSERT_EQ(Board.Start(), EFI_SUCCESS);

  EXPECT_TRUE(Early.Calls().empty());
  EXPECT_EQ(Early.Press(kDebugKeyStroke), 0u);

  sim::Keyboard &Late = Board.AddKeyboard();
  Late.Install();
  EXPECT_TRUE(IsArmed(Late));
  EXPECT_TRUE(Early.Registrations().empty());
  std::vector<std::string> Lines = Board.Lines();
  EXPECT_EQ(LinesFrom(Lines, "[OemSetupHotKey]SimpleTextInputEx HandleProtocol Status = Success"),
            (std::vector<std::string>{"[OemSetupHotKey]SimpleTextInputEx HandleProtocol Status = Success",
                                      "Register Chang Scu Callback Success...Success", kArmCloseLine}));
}

// EDK II's notify position starts at the oldest instance: the driver then arms the instance
// that was there first (on OVMF the console splitter, which forwards to every keyboard).
TEST(HotKeyLifecycle, EdkIIReadingArmsTheOldestInstanceOnTheFirstInstallation) {
  HotlatchBoard Board;
  Board.P.SetNotifyReading(sim::NotifyReading::EdkII);
  sim::Keyboard &Splitter = Board.AddKeyboard();
  Splitter.Install();
  ASSERT_EQ(Board.Start(), EFI_SUCCESS);
  EXPECT_TRUE(Splitter.Calls().empty());

  sim::Keyboard &Usb = Board.AddKeyboard();
  Usb.Install();
  EXPECT_TRUE(IsArmed(Splitter));
  EXPECT_TRUE(Usb.Calls().empty());

  sim::Keyboard &Later = Board.AddKeyboard();
  Later.Install();
  EXPECT_TRUE(Later.Calls().empty());
}

TEST(HotKeyLifecycle, OnlyTheFirstOfSeveralInstallationsIsArmed) {
  HotlatchBoard Board;
  ASSERT_EQ(Board.Start(), EFI_SUCCESS);
  sim::Keyboard &First = Board.AddKeyboard();
  sim::Keyboard &Second = Board.AddKeyboard();
  // Both arrive before the arm notification gets to run.
  Board.P.RunAt(TPL_NOTIFY, [&] {
    First.Install();
    Second.Install();
  });

  EXPECT_TRUE(IsArmed(First));
  EXPECT_TRUE(Second.Calls().empty());
  sim::Keyboard &Third = Board.AddKeyboard();
  Third.Install();
  EXPECT_TRUE(Third.Calls().empty());
}

struct ArmFailure {
  const char *Service;
  std::vector<std::string> Lines;
};

class HotKeyArmFailure : public testing::TestWithParam<ArmFailure> {};

TEST_P(HotKeyArmFailure, ClosesTheArmEventWithItsMessageAndArmsNothing) {
  HotlatchBoard Board;
  ASSERT_EQ(Board.Start(), EFI_SUCCESS);
  Board.ClearLines();
  size_t OpenEvents = Board.P.OpenEventCount();

  Board.P.Faults().FailAlways(GetParam().Service, EFI_DEVICE_ERROR);
  sim::Keyboard &Keyboard = Board.AddKeyboard();
  Keyboard.Install();
  Board.P.Faults().Clear();

  EXPECT_EQ(Board.Lines(), GetParam().Lines);
  EXPECT_TRUE(Keyboard.Registrations().empty());
  EXPECT_EQ(Board.P.OpenEventCount(), OpenEvents - 1);
  sim::Keyboard &Next = Board.AddKeyboard();
  Next.Install();
  EXPECT_TRUE(Next.Calls().empty());
  EXPECT_EQ(Keyboard.Press(kDebugKeyStroke), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, HotKeyArmFailure,
    testing::Values(ArmFailure{"LocateHandle", {kArmCloseLine}},
                    ArmFailure{
                        "HandleProtocol",
                        {"[OemSetupHotKey]SimpleTextInputEx HandleProtocol Status = Device Error", kArmCloseLine}},
                    ArmFailure{"Keyboard.RegisterKeyNotify",
                               {"[OemSetupHotKey]SimpleTextInputEx HandleProtocol Status = Success",
                                "Register Chang Scu Callback Failed...Device Error", kArmCloseLine}}),
    [](const testing::TestParamInfo<ArmFailure> &Info) {
      std::string Name = Info.param.Service;
      Name.erase(std::remove(Name.begin(), Name.end(), '.'), Name.end());
      return Name;
    });

TEST(HotKeyLifecycle, DisarmWithNoKeyboardLogsEntryAndCloseOnly) {
  HotlatchBoard Board;
  ASSERT_EQ(Board.Start(), EFI_SUCCESS);
  Board.ClearLines();
  size_t OpenEvents = Board.P.OpenEventCount();

  sim::InstallDebugKeyDisarm(Board.P);

  EXPECT_EQ(Board.Lines(), (std::vector<std::string>{"Orv - OemUnregisterKey entry...",
                                                     "Close unregisterKey event status = Success"}));
  EXPECT_EQ(Board.P.OpenEventCount(), OpenEvents - 2) << "the disarm event and the waiting arm event";
  EXPECT_EQ(Board.P.LiveAllocations(), 0u);
}

TEST(HotKeyLifecycle, DisarmRemovesTheKeyFromTheArmedKeyboardAndLeavesNoneElsewhere) {
  HotlatchBoard Board;
  sim::Keyboard &Early = Board.AddKeyboard();
  Early.Install();
  ASSERT_EQ(Board.Start(), EFI_SUCCESS);
  sim::Keyboard &Armed = Board.AddKeyboard();
  Armed.Install();
  sim::Keyboard &Other = Board.AddKeyboard();
  Other.Install();
  ASSERT_TRUE(IsArmed(Armed));
  VOID *ArmedHandle = Armed.Registrations()[0].NotifyHandle;
  Board.ClearLines();

  sim::InstallDebugKeyDisarm(Board.P);

  for (sim::Keyboard *Keyboard : {&Early, &Armed, &Other}) {
    EXPECT_TRUE(Keyboard->Registrations().empty());
    ASSERT_GE(Keyboard->Calls().size(), 2u);
    const sim::Keyboard::Call &Unregister = Keyboard->Calls().back();
    EXPECT_EQ(Unregister.Kind, sim::Keyboard::CallKind::Unregister);
    EXPECT_EQ(Unregister.Status, EFI_SUCCESS);
  }
  // The armed registration itself was removed, not a second one beside it.
  EXPECT_EQ(Armed.Calls().back().NotifyHandle, ArmedHandle);
  EXPECT_EQ(Armed.Press(kDebugKeyStroke), 0u);

  std::vector<std::string> PerKeyboard = {"SimpleTextInputEx HandleProtocol Status = Success",
                                          "RegisterKeyNotify DebugKey...Success", "Unregister DebugKey...Success"};
  std::vector<std::string> Expected = {"Orv - OemUnregisterKey entry...", "HandleCount= 3"};
  for (int Index = 0; Index < 3; Index++) {
    Expected.insert(Expected.end(), PerKeyboard.begin(), PerKeyboard.end());
  }
  Expected.push_back("UnregisterKey FreePool...");
  Expected.push_back("Close unregisterKey event status = Success");
  EXPECT_EQ(Board.Lines(), Expected);
  EXPECT_EQ(Board.P.LiveAllocations(), 0u);
}

TEST(HotKeyLifecycle, DisarmGoesOnPastAKeyboardThatRefuses) {
  HotlatchBoard Board;
  ASSERT_EQ(Board.Start(), EFI_SUCCESS);
  sim::Keyboard &Armed = Board.AddKeyboard();
  Armed.Install();
  sim::Keyboard &Other = Board.AddKeyboard();
  Other.Install();
  Board.ClearLines();

  // The armed keyboard refuses the register step, the other one the unregister step.
  Board.P.Faults().FailNth("Keyboard.RegisterKeyNotify", 1, EFI_DEVICE_ERROR);
  Board.P.Faults().FailNth("Keyboard.UnregisterKeyNotify", 1, EFI_ACCESS_DENIED);
  sim::InstallDebugKeyDisarm(Board.P);

  EXPECT_TRUE(IsArmed(Armed));
  EXPECT_EQ(
      Board.Lines(),
      (std::vector<std::string>{
          "Orv - OemUnregisterKey entry...", "HandleCount= 2", "SimpleTextInputEx HandleProtocol Status = Success",
          "RegisterKeyNotify DebugKey...Device Error", "SimpleTextInputEx HandleProtocol Status = Success",
          "RegisterKeyNotify DebugKey...Success", "Unregister DebugKey...Access Denied", "UnregisterKey FreePool...",
          "Close unregisterKey event status = Success"}));
  EXPECT_EQ(Board.P.LiveAllocations(), 0u);
}

TEST(HotKeyLifecycle, ASecondDisarmInstallationDoesNothing) {
  HotlatchBoard Board;
  ASSERT_EQ(Board.Start(), EFI_SUCCESS);
  sim::Keyboard &Keyboard = Board.AddKeyboard();
  Keyboard.Install();
  sim::InstallDebugKeyDisarm(Board.P);
  size_t KeyboardCalls = Keyboard.Calls().size();
  Board.ClearLines();

  sim::InstallDebugKeyDisarm(Board.P);

  EXPECT_TRUE(Board.Lines().empty());
  EXPECT_EQ(Keyboard.Calls().size(), KeyboardCalls);
}

// A disarm while the driver still waits for its first keyboard must hold under either
// notify reading: no keyboard installed afterwards, or together with the disarm, is armed.
class HotKeyDisarmWhileWaiting : public ::testing::TestWithParam<sim::NotifyReading> {};

TEST_P(HotKeyDisarmWhileWaiting, ClosesTheArmEventSoNoLaterKeyboardIsArmed) {
  HotlatchBoard Board;
  Board.P.SetNotifyReading(GetParam());
  sim::Keyboard &Early = Board.AddKeyboard();
  Early.Install();
  ASSERT_EQ(Board.Start(), EFI_SUCCESS);
  Board.ClearLines();
  const size_t OpenEvents = Board.P.OpenEventCount();

  sim::InstallDebugKeyDisarm(Board.P);
  EXPECT_EQ(Board.P.OpenEventCount(), OpenEvents - 2) << "the disarm event and the arm event";

  sim::Keyboard &Late = Board.AddKeyboard();
  Late.Install();
  EXPECT_TRUE(Late.Calls().empty());
  EXPECT_TRUE(Early.Registrations().empty());
  EXPECT_EQ(Late.Press(kDebugKeyStroke), 0u);
  EXPECT_EQ(Early.Press(kDebugKeyStroke), 0u);
  // The disarm's own messages are those of any disarm.
  EXPECT_EQ(Board.Lines(),
            (std::vector<std::string>{"Orv - OemUnregisterKey entry...", "HandleCount= 1",
                                      "SimpleTextInputEx HandleProtocol Status = Success",
                                      "RegisterKeyNotify DebugKey...Success", "Unregister DebugKey...Success",
                                      "UnregisterKey FreePool...", "Close unregisterKey event status = Success"}));
  EXPECT_EQ(Board.P.LiveAllocations(), 0u);
}

TEST_P(HotKeyDisarmWhileWaiting, KeyboardArrivingTogetherWithTheDisarmIsNotArmed) {
  HotlatchBoard Board;
  Board.P.SetNotifyReading(GetParam());
  sim::Keyboard &Early = Board.AddKeyboard();
  Early.Install();
  ASSERT_EQ(Board.Start(), EFI_SUCCESS);
  sim::Keyboard &Late = Board.AddKeyboard();
  // Both notifications are pending when the level drops; the disarm was reported first.
  Board.P.RunAt(TPL_NOTIFY, [&] {
    sim::InstallDebugKeyDisarm(Board.P);
    Late.Install();
  });

  EXPECT_TRUE(Early.Registrations().empty());
  EXPECT_TRUE(Late.Registrations().empty());
  EXPECT_EQ(Early.Press(kDebugKeyStroke), 0u);
  EXPECT_EQ(Late.Press(kDebugKeyStroke), 0u);
  const std::vector<std::string> Lines = Board.Lines();
  EXPECT_EQ(std::count(Lines.begin(), Lines.end(), std::string(kArmCloseLine)), 0) << "the arm notification never ran";
}

INSTANTIATE_TEST_SUITE_P(BothReadings, HotKeyDisarmWhileWaiting,
                         ::testing::Values(sim::NotifyReading::Uefi, sim::NotifyReading::EdkII),
                         [](const ::testing::TestParamInfo<sim::NotifyReading> &Info) {
                           return Info.param == sim::NotifyReading::Uefi ? std::string("Uefi") : std::string("EdkII");
                         });

TEST(HotKeyLifecycle, EveryPressRunsTheSwitchAgain) {
  HotlatchBoard Board;
  ASSERT_EQ(Board.Start(), EFI_SUCCESS);
  sim::Keyboard &Keyboard = Board.AddKeyboard();
  Keyboard.Install();
  unsigned WritesBefore = Board.P.Variables().WriteCount();

  for (int Press = 0; Press < 3; Press++) {
    EXPECT_EQ(Keyboard.Press(kDebugKeyStroke), 1u);
  }

  EXPECT_EQ(Board.P.Variables().WriteCount(), WritesBefore + 9);
  EXPECT_EQ(Board.P.Console().size(), 3u);
}

TEST(HotKeyLifecycle, OtherKeysAndShiftStatesDoNothing) {
  HotlatchBoard Board;
  ASSERT_EQ(Board.Start(), EFI_SUCCESS);
  sim::Keyboard &Keyboard = Board.AddKeyboard();
  Keyboard.Install();

  EFI_KEY_DATA PlainD = kDebugKeyStroke;
  PlainD.KeyState.KeyShiftState = EFI_SHIFT_STATE_VALID;
  EFI_KEY_DATA RightCtrl = kDebugKeyStroke;
  RightCtrl.KeyState.KeyShiftState = EFI_SHIFT_STATE_VALID | EFI_LEFT_ALT_PRESSED | EFI_RIGHT_CONTROL_PRESSED;
  EFI_KEY_DATA CapitalD = kDebugKeyStroke;
  CapitalD.Key.UnicodeChar = u'D';
  for (const EFI_KEY_DATA &Key : {PlainD, RightCtrl, CapitalD}) {
    EXPECT_EQ(Keyboard.Press(Key), 0u);
  }
  EXPECT_TRUE(Board.P.Console().empty());
}

// --- The start routine's result.

TEST(HotKeyStart, SucceedsWhenTheArmEventCannotBeCreated) {
  unsigned ArmCreate = CallsOfCleanStart("CreateEvent") - 1;
  HotlatchBoard Board;
  Board.P.Faults().FailNth("CreateEvent", ArmCreate, EFI_OUT_OF_RESOURCES);
  ASSERT_EQ(Board.Start(), EFI_SUCCESS);

  EXPECT_TRUE(Contains(Board.Lines(), "Create OemSetupHotKey event...Out of Resources"));
  EXPECT_FALSE(Contains(Board.Lines(), "Register Simple Text Input Success...Success"));
  sim::Keyboard &Keyboard = Board.AddKeyboard();
  Keyboard.Install();
  EXPECT_TRUE(Keyboard.Calls().empty());
  // The disarm still works.
  Board.ClearLines();
  sim::InstallDebugKeyDisarm(Board.P);
  EXPECT_TRUE(Contains(Board.Lines(), "Close unregisterKey event status = Success"));
}

TEST(HotKeyStart, SucceedsWhenTheArmRegistrationFails) {
  unsigned ArmRegister = CallsOfCleanStart("RegisterProtocolNotify") - 1;
  HotlatchBoard Board;
  Board.P.Faults().FailNth("RegisterProtocolNotify", ArmRegister, EFI_OUT_OF_RESOURCES);
  ASSERT_EQ(Board.Start(), EFI_SUCCESS);

  EXPECT_TRUE(Contains(Board.Lines(), "Register Simple Text Input Failed...Out of Resources"));
  sim::Keyboard &Keyboard = Board.AddKeyboard();
  Keyboard.Install();
  EXPECT_TRUE(Keyboard.Calls().empty());
}

TEST(HotKeyStart, CleanStartLogsItsSteps) {
  HotlatchBoard Board;
  ASSERT_EQ(Board.Start(), EFI_SUCCESS);
  std::vector<std::string> Lines = Board.Lines();
  EXPECT_EQ(LinesFrom(Lines, "Register Simple Text Input Success...Success"),
            (std::vector<std::string>{"Register Simple Text Input Success...Success", "Init DebugOption.....",
                                      "[SetupConfig] Get Setup Config Success....Success",
                                      "[BiosSetupDebug] Set Variable Success....Success",
                                      "[PchHideOption] Set Variable PchRcConfig.PchHideOption Success....Success",
                                      "[SocketProcConfig] Set Variable SocketProcConfig.ProcHide Success....Success",
                                      "", "[ORV] OemDebugEntry entry     "}));
}

// A failed start unloads the image: afterwards nothing may still name its code, and the
// library destructors have let go of what the constructors took.
void ExpectNothingOfTheImageLeft(HotlatchBoard &Board, size_t OpenEventsBeforeLoad) {
  EXPECT_EQ(Board.P.OpenEventCount(), OpenEventsBeforeLoad);
  EXPECT_EQ(Board.P.InterfaceOn(Board.Driver().ImageHandle(), gEfiDebugMaskProtocolGuid), nullptr);
  sim::Keyboard &Keyboard = Board.AddKeyboard();
  Keyboard.Install();
  EXPECT_TRUE(Keyboard.Calls().empty());
  Board.ClearLines();
  sim::InstallDebugKeyDisarm(Board.P);
  EXPECT_TRUE(Board.Lines().empty());
  EXPECT_EQ(Board.P.LiveAllocations(), 0u);
}

TEST(HotKeyStart, FailsAndWithdrawsEverythingWhenTheDisarmRegistrationFails) {
  unsigned DisarmRegister =
      CallsOfCleanStart("RegisterProtocolNotify", [](HotlatchBoard &Board) { Board.AddTeskService(); });
  HotlatchBoard Board;
  sim::TeskService &Tesk = Board.AddTeskService();
  size_t OpenEvents = Board.P.OpenEventCount();
  Board.P.Faults().FailNth("RegisterProtocolNotify", DisarmRegister, EFI_OUT_OF_RESOURCES);

  EXPECT_EQ(Board.Start(), EFI_OUT_OF_RESOURCES);

  EXPECT_TRUE(Tesk.Registered().empty());
  ExpectNothingOfTheImageLeft(Board, OpenEvents);
}

TEST(HotKeyStart, FailsWithoutRegisteringWhenTheDisarmEventCannotBeCreated) {
  unsigned DisarmCreate = CallsOfCleanStart("CreateEvent");
  unsigned RegistrationsBefore = CallsOfCleanStart("RegisterProtocolNotify");
  HotlatchBoard Board;
  size_t OpenEvents = Board.P.OpenEventCount();
  Board.P.Faults().FailNth("CreateEvent", DisarmCreate, EFI_OUT_OF_RESOURCES);

  EXPECT_EQ(Board.Start(), EFI_OUT_OF_RESOURCES);

  // The disarm registration was never attempted.
  EXPECT_EQ(Board.P.Faults().Count("RegisterProtocolNotify"), RegistrationsBefore - 1);
  ExpectNothingOfTheImageLeft(Board, OpenEvents);
}

// A keyboard that arrives during the start is armed at once; a failing start must take
// that registration back too.
TEST(HotKeyStart, FailedStartRemovesAKeyArmedDuringTheStart) {
  unsigned DisarmRegister = CallsOfCleanStart("RegisterProtocolNotify");
  HotlatchBoard Board;
  sim::SmmVariableHandler &Smm = Board.AddSmmVariable();
  sim::Keyboard &Keyboard = Board.AddKeyboard();
  Smm.DuringSmi = [&] {
    if (Keyboard.Handle() == nullptr) {
      Keyboard.Install();
    }
  };
  size_t OpenEvents = Board.P.OpenEventCount();
  Board.P.Faults().FailNth("RegisterProtocolNotify", DisarmRegister, EFI_OUT_OF_RESOURCES);

  EXPECT_EQ(Board.Start(), EFI_OUT_OF_RESOURCES);

  ASSERT_FALSE(Keyboard.Calls().empty());
  EXPECT_TRUE(Keyboard.Registrations().empty());
  EXPECT_EQ(Keyboard.Press(kDebugKeyStroke), 0u);
  EXPECT_EQ(Board.P.OpenEventCount(), OpenEvents);
}

}  // namespace
}  // namespace hotlatch_test
