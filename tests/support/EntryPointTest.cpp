// The image entry: constructors, the start routine, destructors when it fails.
#include "ProbeFixture.h"

namespace supporttest {
namespace {

TEST_F(ProbeTest, SuccessfulStartKeepsTheLibrariesAndInstallsNoUnload) {
  size_t OpenEvents = Platform.OpenEventCount();
  ASSERT_EQ(Start(), EFI_SUCCESS);
  EXPECT_NE(Platform.InterfaceOn(Image->ImageHandle(), gEfiDebugMaskProtocolGuid), nullptr);
  EXPECT_EQ(Platform.OpenEventCount(), OpenEvents + 1) << "the debug-level exit-boot-services event";
  EXPECT_EQ(Image->LoadedImage()->Unload, nullptr);
  EXPECT_TRUE(Asserts().empty());
}

TEST_F(ProbeTest, FailedStartRunsTheDestructorsAndReturnsItsStatus) {
  size_t OpenEvents = Platform.OpenEventCount();
  EXPECT_EQ(Start(EFI_DEVICE_ERROR), EFI_DEVICE_ERROR);
  EXPECT_EQ(Platform.InterfaceOn(Image->ImageHandle(), gEfiDebugMaskProtocolGuid), nullptr);
  EXPECT_EQ(Platform.OpenEventCount(), OpenEvents);
  EXPECT_TRUE(Asserts().empty());
}

TEST_F(ProbeTest, HobAnswersAtStartWhenVariablesAreNotUpYet) {
  std::vector<UINT8> Data = {0x02, 0, 0, 0x80, 0, 0, 0, 0};
  Platform.SetHobList(sim::HobListBuilder().AddGuidHob(gDebugMessageConfigGuid, Data).Build());
  Platform.Variables().SetNotAvailableYet(true);
  ASSERT_EQ(Start(), EFI_SUCCESS);
  unsigned Reads = Platform.Faults().Count("GetVariable");
  EXPECT_EQ(Probe->GetDebugPrintErrorLevel(), 0x80000002u) << "taken unchanged, not decoded";
  EXPECT_EQ(Platform.Faults().Count("GetVariable"), Reads);
}

}  // namespace
}  // namespace supporttest
