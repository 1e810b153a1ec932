// The level filter end to end: "DebugMessageConfig" (or the early-boot HOB) decides which
// messages reach the platform's listener.
#include "ProbeFixture.h"

namespace supporttest {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// One message of each level the drivers use; the transcript shows which ones passed.
std::vector<std::string> EmitOneOfEachLevel(const SUPPORT_PROBE *Probe, sim::DebugTranscript &Transcript) {
  Transcript.Clear();
  Probe->DebugPrint(DEBUG_INFO, "info\n");
  Probe->DebugPrint(DEBUG_ERROR, "error\n");
  Probe->DebugPrint(DEBUG_DEAD_LOOP_REPORT, "dead loop\n");
  return Transcript.Lines();
}

struct LevelCase {
  const char *Name;
  std::optional<std::vector<UINT8>> Record;
  UINT32 Mask;
  std::vector<std::string> Passing;
};

class LevelFilterTest : public ProbeTest, public ::testing::WithParamInterface<LevelCase> {};

TEST_P(LevelFilterTest, VariableSettlesTheMaskOnceAndFiltersMessages) {
  const LevelCase &Case = GetParam();
  if (Case.Record) {
    SetConfig(*Case.Record);
  }
  ASSERT_EQ(Start(), EFI_SUCCESS);

  EXPECT_EQ(Probe->GetDebugPrintErrorLevel(), Case.Mask);
  EXPECT_EQ(EmitOneOfEachLevel(Probe, *Transcript), Case.Passing);
  // Settled by the constructor: the messages read no variable.
  EXPECT_EQ(Platform.Faults().Count("GetVariable"), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Presets, LevelFilterTest,
    ::testing::Values(LevelCase{"NoVariable", std::nullopt, 0x08000000, {"dead loop"}},
                      LevelCase{"Preset0", Config({}), 0x08000000, {"dead loop"}},
                      LevelCase{"Preset1", Config({{0, 1}}), 0x00000040, {"info"}},
                      LevelCase{"Preset2", Config({{0, 2}}), 0x80000000, {"error", "dead loop"}},
                      LevelCase{"Preset3", Config({{0, 3}}), 0x00000002, {}},
                      LevelCase{"Preset4", Config({{0, 4}}), 0xFFFFFFCF, {"info", "error", "dead loop"}},
                      LevelCase{"Preset7", Config({{0, 7}}), 0x00000000, {}},
                      LevelCase{"SwitchesAllOff", Config({{0, 2}, {4, 1}}), 0x00000000, {}},
                      LevelCase{"SwitchesInfoAndError",
                                Config({{4, 1}, {9, 1}, {21, 0xFF}}),
                                0x80000040,
                                {"info", "error", "dead loop"}},
                      LevelCase{"UnusedByte22", Config({{4, 1}, {22, 1}}), 0x00000000, {}},
                      // A shorter record reads its missing bytes as 0.
                      LevelCase{"OneByteRecord", Config({{0, 2}}, 1), 0x80000000, {"error", "dead loop"}},
                      LevelCase{"ShortSwitchRecord", Config({{4, 1}, {9, 1}}, 10), 0x00000040, {"info"}},
                      // A record larger than 23 bytes cannot be read: the default stays, settled.
                      LevelCase{"TooLarge", Config({{0, 2}}, 24), 0x08000000, {"dead loop"}}),
    [](const ::testing::TestParamInfo<LevelCase> &Info) { return std::string(Info.param.Name); });

TEST_F(ProbeTest, EverySwitchByteSelectsItsOwnLevel) {
  ASSERT_EQ(Start(), EFI_SUCCESS);
  const UINT32 Expected[] = {0x1,    0x2,     0x4,     0x8,     0x40,     0x80,     0x100,    0x400,     0x1000,
                             0x4000, 0x10000, 0x20000, 0x80000, 0x100000, 0x200000, 0x400000, 0x80000000};
  for (size_t Byte = 5; Byte <= 21; Byte++) {
    std::vector<UINT8> Record = Config({{4, 1}, {Byte, 1}});
    EXPECT_EQ(Probe->DecodeDebugMessageConfig(Record.data()), Expected[Byte - 5]) << "byte " << Byte;
  }
  // The preset byte is ignored once the switches are on.
  std::vector<UINT8> Record = Config({{0, 4}, {4, 1}, {6, 1}});
  EXPECT_EQ(Probe->DecodeDebugMessageConfig(Record.data()), 0x2u);
  for (UINT8 Preset = 5; Preset != 0; Preset++) {
    Record = Config({{0, Preset}});
    ASSERT_EQ(Probe->DecodeDebugMessageConfig(Record.data()), 0u) << "preset " << unsigned(Preset);
  }
}

class HobTestCase : public ProbeTest {
 protected:
  void UseHob(std::vector<UINT8> Data, bool Padded = true) {
    sim::HobListBuilder Builder;
    if (Padded) {
      Builder.AddGuidHob(gDebugMessageConfigGuid, Data);
    } else {
      Builder.AddUnpaddedGuidHob(gDebugMessageConfigGuid, Data);
    }
    Platform.SetHobList(Builder.Build());
    Platform.Variables().SetNotAvailableYet(true);
  }
};

TEST_F(HobTestCase, EightByteHobSettlesTheMaskWhileVariablesAreNotAvailable) {
  UseHob({0x40, 0, 0, 0, 0, 0, 0, 0});
  ASSERT_EQ(Start(), EFI_SUCCESS);
  EXPECT_EQ(Probe->GetDebugPrintErrorLevel(), 0x40u);
  EXPECT_THAT(EmitOneOfEachLevel(Probe, *Transcript), ElementsAre("info"));
  EXPECT_EQ(Platform.Faults().Count("GetVariable"), 1u) << "settled: the variable is not read again";
}

TEST_F(HobTestCase, FourByteHobLeavesTheLookupPending) {
  UseHob({0x40, 0, 0, 0}, /*Padded=*/false);
  ASSERT_EQ(Start(), EFI_SUCCESS);
  EXPECT_EQ(Probe->GetDebugPrintErrorLevel(), 0x08000000u);
  unsigned Reads = Platform.Faults().Count("GetVariable");
  EXPECT_THAT(EmitOneOfEachLevel(Probe, *Transcript), ElementsAre("dead loop"));
  EXPECT_GT(Platform.Faults().Count("GetVariable"), Reads) << "pending: every message tries again";

  // Once variable services answer, the next lookup settles on the variable.
  Platform.Variables().SetNotAvailableYet(false);
  SetConfig(Config({{0, 2}}));
  EXPECT_EQ(Probe->GetDebugPrintErrorLevel(), 0x80000000u);
  Reads = Platform.Faults().Count("GetVariable");
  Probe->DebugPrint(DEBUG_ERROR, "x\n");
  EXPECT_EQ(Platform.Faults().Count("GetVariable"), Reads);
}

// Without a HOB list the HOB lookup asserts, and the assertion's own DEBUG asks for the level
// again: that inner question must be answered from what is known, not by another lookup.
TEST_F(HobTestCase, NoHobListWhileVariablesAreNotAvailableAssertsWithoutRecursing) {
  Platform.SetHobList({});
  Platform.Variables().SetNotAvailableYet(true);
  ASSERT_EQ(Start(), EFI_SUCCESS);
  const size_t AssertsAtStart = Asserts().size();
  const unsigned ReadsAtStart = Platform.Faults().Count("GetVariable");

  EXPECT_EQ(Probe->GetDebugPrintErrorLevel(), 0x08000000u);
  EXPECT_EQ(Platform.Faults().Count("GetVariable"), ReadsAtStart + 1) << "one read: none from inside the lookup";
  std::vector<debug_render::AssertMessage> All = Asserts();
  ASSERT_EQ(All.size(), AssertsAtStart + 2) << "the HOB list's status and its pointer, once each";
  EXPECT_EQ(All[AssertsAtStart].Description, "!EFI_ERROR (Status)");
  EXPECT_EQ(All[AssertsAtStart + 1].Description, "mHobList != ((void *) 0)");
}

TEST_F(HobTestCase, SetDebugMaskWhilePendingIsReplacedByTheVariable) {
  Platform.Variables().SetNotAvailableYet(true);
  ASSERT_EQ(Start(), EFI_SUCCESS);
  auto *Mask =
      static_cast<EFI_DEBUG_MASK_PROTOCOL *>(Platform.InterfaceOn(Image->ImageHandle(), gEfiDebugMaskProtocolGuid));
  ASSERT_NE(Mask, nullptr);
  EXPECT_EQ(Mask->Revision, 0x00010000);

  EXPECT_EQ(Mask->SetDebugMask(Mask, 0xFFFFFFFF00000040ULL), EFI_SUCCESS);
  UINTN Current = 0;
  EXPECT_EQ(Mask->GetDebugMask(Mask, &Current), EFI_SUCCESS);
  EXPECT_EQ(Current, 0x40u) << "stored as 32 bits, read back zero-extended";
  EXPECT_EQ(Mask->GetDebugMask(Mask, nullptr), EFI_INVALID_PARAMETER);

  Platform.Variables().SetNotAvailableYet(false);
  SetConfig(Config({{0, 2}}));
  ASSERT_EQ(Platform.CurrentTpl(), static_cast<EFI_TPL>(TPL_APPLICATION));
  EXPECT_THAT(EmitOneOfEachLevel(Probe, *Transcript), ElementsAre("error", "dead loop"));
  EXPECT_EQ(Mask->GetDebugMask(Mask, &Current), EFI_SUCCESS);
  EXPECT_EQ(Current, 0x80000000u);
}

TEST_F(HobTestCase, LookupAboveCallbackStaysPendingWithoutReadingTheVariable) {
  Platform.Variables().SetNotAvailableYet(true);
  ASSERT_EQ(Start(), EFI_SUCCESS);
  Platform.Variables().SetNotAvailableYet(false);
  SetConfig(Config({{0, 2}}));

  unsigned Reads = Platform.Faults().Count("GetVariable");
  UINT32 AtNotify = 0;
  Platform.RunAt(TPL_NOTIFY, [&] { AtNotify = Probe->GetDebugPrintErrorLevel(); });
  EXPECT_EQ(AtNotify, 0x08000000u);
  EXPECT_EQ(Platform.Faults().Count("GetVariable"), Reads);

  // TPL_CALLBACK is still low enough to read it.
  UINT32 AtCallback = 0;
  Platform.RunAt(TPL_CALLBACK, [&] { AtCallback = Probe->GetDebugPrintErrorLevel(); });
  EXPECT_EQ(AtCallback, 0x80000000u);
  EXPECT_EQ(Platform.Faults().Count("GetVariable"), Reads + 1);
}

TEST_F(HobTestCase, AfterExitBootServicesTheLookupCallsNothing) {
  Platform.Variables().SetNotAvailableYet(true);
  ASSERT_EQ(Start(), EFI_SUCCESS);
  Platform.ExitBootServices();
  size_t Calls = Platform.Faults().CallLog().size();

  // Any boot-service call from here on fails the test inside the simulator.
  EXPECT_EQ(Probe->GetDebugPrintErrorLevel(), 0x08000000u);
  Probe->DebugPrint(DEBUG_INFO, "filtered\n");
  EXPECT_EQ(Platform.Faults().CallLog().size(), Calls);
}

// DEBUG filters at the call site once the mask is settled; these follow every way the mask
// can change and check the call site agrees with the library.
TEST_F(HobTestCase, DebugMacroFollowsTheMaskThroughEveryChange) {
  Platform.Variables().SetNotAvailableYet(true);
  ASSERT_EQ(Start(), EFI_SUCCESS);
  auto *Mask =
      static_cast<EFI_DEBUG_MASK_PROTOCOL *>(Platform.InterfaceOn(Image->ImageHandle(), gEfiDebugMaskProtocolGuid));
  ASSERT_NE(Mask, nullptr);

  // Pending: every DEBUG still reaches the library, which tries the variable again.
  unsigned Reads = Platform.Faults().Count("GetVariable");
  Probe->MacroDebug(DEBUG_INFO);
  EXPECT_EQ(Platform.Faults().Count("GetVariable"), Reads + 1);

  // Settled on preset 2.
  Platform.Variables().SetNotAvailableYet(false);
  SetConfig(Config({{0, 2}}));
  Transcript->Clear();
  Probe->MacroDebug(DEBUG_INFO);
  Probe->MacroDebug(DEBUG_ERROR);
  EXPECT_THAT(Transcript->Lines(), ElementsAre("macro"));

  // Changed through the protocol after settling.
  Mask->SetDebugMask(Mask, DEBUG_INFO);
  Transcript->Clear();
  Probe->MacroDebug(DEBUG_ERROR);
  Probe->MacroDebug(DEBUG_INFO);
  EXPECT_THAT(Transcript->Lines(), ElementsAre("macro"));
  EXPECT_EQ(debug_render::DecodeDebugMessage(Platform.StatusCodes().back())->ErrorLevel, DEBUG_INFO);
}

TEST_F(HobTestCase, DebugMacroAfterExitBootServicesUsesTheCachedMask) {
  Platform.Variables().SetNotAvailableYet(true);
  ASSERT_EQ(Start(), EFI_SUCCESS);
  Platform.ExitBootServices();
  size_t Calls = Platform.Faults().CallLog().size();
  Probe->MacroDebug(DEBUG_INFO);
  EXPECT_EQ(Platform.Faults().CallLog().size(), Calls);
}

TEST_F(ProbeTest, FailedProtocolInstallationCreatesNoEventAndTheLookupStillWorks) {
  SetConfig(Config({{0, 2}}));
  Platform.Faults().FailAlways("InstallMultipleProtocolInterfaces", EFI_OUT_OF_RESOURCES);
  ASSERT_EQ(Start(), EFI_SUCCESS);
  EXPECT_EQ(Platform.Faults().Count("CreateEventEx"), 0u);
  EXPECT_EQ(Probe->GetDebugPrintErrorLevel(), 0x80000000u);
  // The constructor list asserted on the installation's status.
  auto Failed = Asserts();
  ASSERT_EQ(Failed.size(), 1u);
  EXPECT_EQ(Failed[0].Description, "!EFI_ERROR (Status)");
  EXPECT_EQ(Platform.InterfaceOn(Image->ImageHandle(), gEfiDebugMaskProtocolGuid), nullptr);
}

TEST_F(ProbeTest, DestructorClosesTheEventOnceAndUninstallsTheProtocol) {
  ASSERT_EQ(Start(), EFI_SUCCESS);
  EFI_HANDLE Handle = Image->ImageHandle();
  ASSERT_NE(Platform.InterfaceOn(Handle, gEfiDebugMaskProtocolGuid), nullptr);
  size_t OpenEvents = Platform.OpenEventCount();

  EXPECT_EQ(Probe->DebugLevelDestructor(Handle, Platform.SystemTable()), EFI_SUCCESS);
  EXPECT_EQ(Platform.OpenEventCount(), OpenEvents - 1);
  EXPECT_EQ(Platform.InterfaceOn(Handle, gEfiDebugMaskProtocolGuid), nullptr);

  // A second run closes nothing (the simulator fails a double close) and reports the
  // uninstall's refusal.
  unsigned Closes = Platform.Faults().Count("CloseEvent");
  EXPECT_TRUE(EFI_ERROR(Probe->DebugLevelDestructor(Handle, Platform.SystemTable())));
  EXPECT_EQ(Platform.Faults().Count("CloseEvent"), Closes);
}

}  // namespace
}  // namespace supporttest
