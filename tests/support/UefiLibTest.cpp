// Protocol-notify events: armed, registered, and signalled once so that instances installed
// earlier are seen; a half-made event is never handed out.
#include "ProbeFixture.h"

namespace supporttest {
namespace {

constexpr EFI_GUID kWatched = {0x7A6B5C4D, 0x1E2F, 0x4A5B, {0x8C, 0x9D, 0x0E, 0x1F, 0x2A, 0x3B, 0x4C, 0x5D}};

struct NotifyLog {
  std::vector<EFI_TPL> Tpls;
};

VOID EFIAPI RecordNotify(EFI_EVENT Event, VOID *Context) {
  static_cast<NotifyLog *>(Context)->Tpls.push_back(sim::Platform::Current().CurrentTpl());
}

TEST_F(ProbeTest, ProtocolNotifyEventRunsOnceAtOnceAndOnEveryInstallation) {
  ASSERT_EQ(Start(), EFI_SUCCESS);
  NotifyLog Log;
  VOID *Registration = nullptr;
  EFI_EVENT Event = Probe->CreateProtocolNotifyEvent(&kWatched, TPL_CALLBACK, RecordNotify, &Log, &Registration);
  ASSERT_NE(Event, nullptr);
  EXPECT_NE(Registration, nullptr);
  EXPECT_EQ(Log.Tpls, std::vector<EFI_TPL>{TPL_CALLBACK});

  static UINT8 Interface;
  EFI_HANDLE Handle = nullptr;
  ASSERT_EQ(Platform.InstallProtocol(&Handle, kWatched, &Interface), EFI_SUCCESS);
  EXPECT_EQ(Log.Tpls.size(), 2u);
  EXPECT_EQ(Platform.BootServices()->CloseEvent(Event), EFI_SUCCESS);
}

TEST_F(ProbeTest, ProtocolNotifyEventThatCannotBeRegisteredIsClosedAndNotReturned) {
  ASSERT_EQ(Start(), EFI_SUCCESS);
  size_t OpenEvents = Platform.OpenEventCount();
  Platform.Faults().FailAlways("RegisterProtocolNotify", EFI_OUT_OF_RESOURCES);
  NotifyLog Log;
  VOID *Registration = nullptr;
  EXPECT_EQ(Probe->CreateProtocolNotifyEvent(&kWatched, TPL_CALLBACK, RecordNotify, &Log, &Registration), nullptr);
  EXPECT_EQ(Platform.OpenEventCount(), OpenEvents);
  EXPECT_TRUE(Log.Tpls.empty());
  EXPECT_EQ(Asserts().size(), 1u);
}

TEST_F(ProbeTest, ProtocolNotifyEventThatCannotBeCreatedRegistersNothing) {
  ASSERT_EQ(Start(), EFI_SUCCESS);
  Platform.Faults().FailAlways("CreateEvent", EFI_OUT_OF_RESOURCES);
  NotifyLog Log;
  VOID *Registration = nullptr;
  EXPECT_EQ(Probe->CreateProtocolNotifyEvent(&kWatched, TPL_CALLBACK, RecordNotify, &Log, &Registration), nullptr);
  EXPECT_EQ(Platform.Faults().Count("RegisterProtocolNotify"), 0u);
  EXPECT_EQ(Platform.Faults().Count("SignalEvent"), 0u);
}

}  // namespace
}  // namespace supporttest
