// Notification dispatch by TPL: order, the level a notification runs at, and the rule
// that nothing interrupts code at the same or a higher TPL.
#include "SimTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

using simtest::Names;
using simtest::NotifyRun;
using simtest::Probe;
using simtest::RecordNotify;
using testing::ElementsAre;

namespace {

class TplTest : public testing::Test {
 protected:
  EFI_EVENT Create(EFI_TPL Tpl, Probe &Context) {
    EFI_EVENT Event = nullptr;
    EXPECT_EQ(Bs->CreateEvent(EVT_NOTIFY_SIGNAL, Tpl, RecordNotify, &Context, &Event), EFI_SUCCESS);
    return Event;
  }
  sim::Platform P;
  EFI_BOOT_SERVICES *Bs = P.BootServices();
  std::vector<NotifyRun> Runs;
};

TEST_F(TplTest, QueuedNotificationsRunHighestFirstThenFifoEachAtItsOwnLevel) {
  Probe A{"callback-1", &Runs}, B{"notify-1", &Runs}, C{"callback-2", &Runs}, D{"notify-2", &Runs};
  EFI_EVENT EA = Create(TPL_CALLBACK, A), EB = Create(TPL_NOTIFY, B), EC = Create(TPL_CALLBACK, C),
            ED = Create(TPL_NOTIFY, D);

  P.RunAt(TPL_HIGH_LEVEL - 1, [&] {
    for (EFI_EVENT Event : {EA, EB, EC, ED}) {
      Bs->SignalEvent(Event);
    }
    EXPECT_TRUE(Runs.empty()) << "nothing may run above the signaller's TPL";
  });

  EXPECT_THAT(Names(Runs), ElementsAre("notify-1", "notify-2", "callback-1", "callback-2"));
  EXPECT_EQ(Runs[0].Tpl, static_cast<EFI_TPL>(TPL_NOTIFY));
  EXPECT_EQ(Runs[2].Tpl, static_cast<EFI_TPL>(TPL_CALLBACK));
  EXPECT_EQ(P.CurrentTpl(), static_cast<EFI_TPL>(TPL_APPLICATION));
}

TEST_F(TplTest, SameLevelWaitsForTheRunningNotificationAndAHigherOneInterruptsIt) {
  Probe Later{"callback-later", &Runs}, Urgent{"notify-urgent", &Runs};
  EFI_EVENT ELater = Create(TPL_CALLBACK, Later), EUrgent = Create(TPL_NOTIFY, Urgent);
  Probe First{"callback-first", &Runs, [&](EFI_EVENT) {
                Bs->SignalEvent(ELater);
                Bs->SignalEvent(EUrgent);
                Runs.push_back(NotifyRun{"callback-first-ends", P.CurrentTpl()});
              }};
  EFI_EVENT EFirst = Create(TPL_CALLBACK, First);

  ASSERT_EQ(Bs->SignalEvent(EFirst), EFI_SUCCESS);

  EXPECT_THAT(Names(Runs), ElementsAre("callback-first", "notify-urgent", "callback-first-ends", "callback-later"));
}

TEST_F(TplTest, RaisedTplHoldsNotificationsUntilRestored) {
  Probe A{"callback", &Runs};
  EFI_EVENT Event = Create(TPL_CALLBACK, A);
  EFI_TPL Old = Bs->RaiseTPL(TPL_CALLBACK);
  EXPECT_EQ(Old, static_cast<EFI_TPL>(TPL_APPLICATION));
  Bs->SignalEvent(Event);
  Bs->SignalEvent(Event);  // a second signal before it ran does not run it twice
  EXPECT_TRUE(Runs.empty());
  Bs->RestoreTPL(Old);
  EXPECT_THAT(Names(Runs), ElementsAre("callback"));
}

TEST_F(TplTest, RaisingToALowerOrRestoringToAHigherLevelIsAContractBreach) {
  P.RunAt(TPL_NOTIFY, [&] {
    EXPECT_NONFATAL_FAILURE(Bs->RaiseTPL(TPL_CALLBACK), "RaiseTPL to a lower level");
    EXPECT_EQ(P.CurrentTpl(), static_cast<EFI_TPL>(TPL_NOTIFY));
  });
  EXPECT_NONFATAL_FAILURE(Bs->RestoreTPL(TPL_NOTIFY), "RestoreTPL to a higher level");
  EXPECT_EQ(P.CurrentTpl(), static_cast<EFI_TPL>(TPL_APPLICATION));
}

TEST_F(TplTest, InstallFromTheTestRunsNotificationsBeforeReturningButNotFromInsideACallback) {
  static constexpr EFI_GUID Guid = {0x1, 0x2, 0x3, {4, 5, 6, 7, 8, 9, 10, 11}};
  Probe A{"on-install", &Runs};
  EFI_EVENT Event = Create(TPL_CALLBACK, A);
  VOID *Registration = nullptr;
  ASSERT_EQ(Bs->RegisterProtocolNotify(&Guid, Event, &Registration), EFI_SUCCESS);
  int Interface = 0;
  EFI_HANDLE Handle = nullptr;
  ASSERT_EQ(P.InstallProtocol(&Handle, Guid, &Interface), EFI_SUCCESS);
  EXPECT_THAT(Names(Runs), ElementsAre("on-install"));

  Runs.clear();
  P.RunAt(TPL_CALLBACK, [&] {
    EFI_HANDLE Second = nullptr;
    ASSERT_EQ(Bs->InstallProtocolInterface(&Second, &Guid, EFI_NATIVE_INTERFACE, &Interface), EFI_SUCCESS);
    EXPECT_TRUE(Runs.empty());
  });
  EXPECT_THAT(Names(Runs), ElementsAre("on-install"));
}

}  // namespace
