// The runtime status-code instance: reports keep flowing after ExitBootServices from the
// local buffer, the protocol is searched for the last time at ExitBootServices, and its
// pointer follows the switch to virtual addresses.
#include "StatusCodeCases.h"

namespace supporttest {
namespace {

class RuntimeStatusCodeTest : public StatusCodeTest {
 protected:
  void SetUp() override {
    StatusCodeTest::SetUp();
    SetConfig(Config({{0, 2}}));
    ASSERT_EQ(Start(), EFI_SUCCESS);
    Platform.ClearStatusCodes();
    Transcript->Clear();
  }
};

TEST_F(RuntimeStatusCodeTest, AfterExitBootServices492BytesAreReportedAnd493Refused) {
  Platform.ExitBootServices();
  size_t Calls = Platform.Faults().CallLog().size();
  EXPECT_EQ(Report(492), EFI_SUCCESS);
  EXPECT_EQ(Last().Data, ExpectedRecord(492));
  EXPECT_EQ(Report(493), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Platform.StatusCodes().size(), 1u) << "refused without a message";
  // Only the protocol was called: no boot service (the simulator fails those).
  EXPECT_EQ(Platform.Faults().CallLog().size(), Calls + 1);
}

TEST_F(RuntimeStatusCodeTest, MessagesAndAssertionsStillLeaveAfterExitBootServices) {
  Platform.ExitBootServices();
  Probe->DebugPrint(DEBUG_ERROR, "late %r\n", EFI_DEVICE_ERROR);
  Probe->DebugPrint(DEBUG_INFO, "filtered\n");
  Probe->DebugAssert("late.c", 9, "Late");
  EXPECT_EQ(Transcript->Text(), "late Device Error\n\nDXE_ASSERT!: late.c (9): Late\n");
}

TEST_F(RuntimeStatusCodeTest, SmallReportsNeedNoPoolAtAnyLevel) {
  unsigned Allocations = Platform.Faults().Count("AllocatePool");
  EXPECT_EQ(ReportAt(TPL_HIGH_LEVEL, 492), EFI_SUCCESS);
  EXPECT_EQ(Last().Data, ExpectedRecord(492));
  EXPECT_EQ(ReportAt(TPL_APPLICATION, 100), EFI_SUCCESS);
  EXPECT_EQ(Platform.Faults().Count("AllocatePool"), Allocations);
}

TEST_F(RuntimeStatusCodeTest, LargeReportsUsePoolOnlyWhereTheLevelAllowsIt) {
  EXPECT_EQ(ReportAt(TPL_NOTIFY, 493), EFI_SUCCESS);
  EXPECT_EQ(Last().Data, ExpectedRecord(493));
  EXPECT_EQ(Platform.LiveAllocations(), 0u);

  size_t Reports = Platform.StatusCodes().size();
  EXPECT_EQ(ReportAt(TPL_HIGH_LEVEL, 493), EFI_OUT_OF_RESOURCES);
  Platform.Faults().FailAlways("AllocatePool", EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(ReportAt(TPL_APPLICATION, 493), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Platform.StatusCodes().size(), Reports) << "the runtime instance prints no message";
}

TEST_F(RuntimeStatusCodeTest, DisabledTypeIsUnsupported) {
  EXPECT_EQ(Report(8, 0x00000004), EFI_UNSUPPORTED);
  Platform.ExitBootServices();
  EXPECT_EQ(Report(8, 0x00000004), EFI_UNSUPPORTED);
  EXPECT_TRUE(Platform.StatusCodes().empty());
}

TEST_F(RuntimeStatusCodeTest, VirtualAddressChangeConvertsTheCachedProtocol) {
  auto Handles = Platform.HandlesWith(gEfiStatusCodeRuntimeProtocolGuid);
  ASSERT_EQ(Handles.size(), 1u);
  UINTN Interface = reinterpret_cast<UINTN>(Platform.InterfaceOn(Handles[0], gEfiStatusCodeRuntimeProtocolGuid));
  Platform.ExitBootServices();
  Platform.SetVirtualAddressMap(0x100000);
  EXPECT_THAT(Platform.ConvertedPointers(), ::testing::Contains(Interface));
}

TEST_F(RuntimeStatusCodeTest, DestructorClosesBothEventsOnce) {
  size_t Open = Platform.OpenEventCount();
  EXPECT_EQ(Probe->RuntimeDestructor(Image->ImageHandle(), Platform.SystemTable()), EFI_SUCCESS);
  EXPECT_EQ(Platform.OpenEventCount(), Open - 2);
  unsigned Closes = Platform.Faults().Count("CloseEvent");
  EXPECT_EQ(Probe->RuntimeDestructor(Image->ImageHandle(), Platform.SystemTable()), EFI_SUCCESS);
  EXPECT_EQ(Platform.Faults().Count("CloseEvent"), Closes);
}

EFI_STATUS EFIAPI CountingListener(EFI_STATUS_CODE_TYPE, EFI_STATUS_CODE_VALUE, UINT32, CONST EFI_GUID *,
                                   EFI_STATUS_CODE_DATA *);
unsigned gListenerCalls = 0;
EFI_STATUS EFIAPI CountingListener(EFI_STATUS_CODE_TYPE, EFI_STATUS_CODE_VALUE, UINT32, CONST EFI_GUID *,
                                   EFI_STATUS_CODE_DATA *) {
  gListenerCalls++;
  return EFI_SUCCESS;
}

TEST_F(ProbeTest, ProtocolInstalledBeforeExitBootServicesIsFoundThereAndNoneAfter) {
  Platform.RemoveStatusCodeProtocol();
  ASSERT_EQ(Start(), EFI_SUCCESS);
  EFI_STATUS_CODE_PROTOCOL Listener = {CountingListener};
  EFI_HANDLE Handle = nullptr;
  ASSERT_EQ(Platform.InstallProtocol(&Handle, gEfiStatusCodeRuntimeProtocolGuid, &Listener), EFI_SUCCESS);
  gListenerCalls = 0;
  unsigned Lookups = Platform.Faults().Count("LocateProtocol");
  Platform.ExitBootServices();
  EXPECT_EQ(Platform.Faults().Count("LocateProtocol"), Lookups + 1) << "the notification looks once more";
  UINT8 Byte = 1;
  EXPECT_EQ(Probe->ReportStatusCodeEx(EFI_PROGRESS_CODE, 1, 0, nullptr, nullptr, &Byte, 1), EFI_SUCCESS);
  EXPECT_EQ(gListenerCalls, 1u);
}

TEST_F(ProbeTest, WithoutAnyProtocolAfterExitBootServicesReportsAreLostQuietly) {
  Platform.RemoveStatusCodeProtocol();
  ASSERT_EQ(Start(), EFI_SUCCESS);
  Platform.ExitBootServices();
  UINT8 Byte = 1;
  // No search after ExitBootServices: the simulator fails any boot-service call.
  EXPECT_EQ(Probe->ReportStatusCodeEx(EFI_PROGRESS_CODE, 1, 0, nullptr, nullptr, &Byte, 1), EFI_UNSUPPORTED);
}

}  // namespace
}  // namespace supporttest
