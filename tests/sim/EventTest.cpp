// Event creation rules, event groups, closing, and the end of boot services.
#include "SimTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

using simtest::Names;
using simtest::NotifyRun;
using simtest::Probe;
using simtest::RecordNotify;
using testing::ElementsAre;
using testing::UnorderedElementsAre;

namespace {

constexpr EFI_GUID kGroup = {0xAAAA0001, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};

class EventTest : public testing::Test {
 protected:
  sim::Platform P;
  EFI_BOOT_SERVICES *Bs = P.BootServices();
  std::vector<NotifyRun> Runs;
};

TEST_F(EventTest, NotifySignalEventsNeedAFunctionAndATplStrictlyBetweenApplicationAndHighLevel) {
  Probe Context{"p", &Runs};
  EFI_EVENT Event = nullptr;
  EXPECT_EQ(Bs->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, nullptr, &Context, &Event), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Bs->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_APPLICATION, RecordNotify, &Context, &Event), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Bs->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_HIGH_LEVEL, RecordNotify, &Context, &Event), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Bs->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, RecordNotify, &Context, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Bs->CreateEvent(0x12345, TPL_CALLBACK, RecordNotify, &Context, &Event), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Bs->CreateEventEx(EVT_SIGNAL_EXIT_BOOT_SERVICES, TPL_CALLBACK, RecordNotify, &Context, &kGroup, &Event),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(P.OpenEventCount(), 0u);
  EXPECT_EQ(Bs->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_HIGH_LEVEL - 1, RecordNotify, &Context, &Event), EFI_SUCCESS);
  EXPECT_TRUE(P.IsEventOpen(Event));
}

TEST_F(EventTest, SignallingOneGroupMemberSignalsTheWholeGroupButNoOtherEvents) {
  Probe A{"a", &Runs}, B{"b", &Runs}, Other{"other", &Runs};
  EFI_EVENT EA = nullptr, EB = nullptr, EOther = nullptr;
  ASSERT_EQ(Bs->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, RecordNotify, &A, &kGroup, &EA), EFI_SUCCESS);
  ASSERT_EQ(Bs->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_NOTIFY, RecordNotify, &B, &kGroup, &EB), EFI_SUCCESS);
  ASSERT_EQ(Bs->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, RecordNotify, &Other, nullptr, &EOther), EFI_SUCCESS);

  ASSERT_EQ(Bs->SignalEvent(EA), EFI_SUCCESS);
  EXPECT_THAT(Names(Runs), ElementsAre("b", "a"));

  Runs.clear();
  ASSERT_EQ(Bs->CloseEvent(EB), EFI_SUCCESS);
  P.SignalGroup(kGroup);
  EXPECT_THAT(Names(Runs), ElementsAre("a"));
}

TEST_F(EventTest, ClosingAnEventDropsItsQueuedNotificationAndADoubleCloseFails) {
  Probe A{"a", &Runs};
  EFI_EVENT Event = nullptr;
  ASSERT_EQ(Bs->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, RecordNotify, &A, &Event), EFI_SUCCESS);
  P.RunAt(TPL_NOTIFY, [&] {
    Bs->SignalEvent(Event);
    EXPECT_EQ(Bs->CloseEvent(Event), EFI_SUCCESS);
  });
  EXPECT_TRUE(Runs.empty());
  EXPECT_FALSE(P.IsEventOpen(Event));
  EFI_STATUS Status = EFI_SUCCESS;
  EXPECT_NONFATAL_FAILURE(Status = Bs->CloseEvent(Event), "CloseEvent of an unknown or already closed event");
  EXPECT_EQ(Status, EFI_INVALID_PARAMETER);
  int NotAnEvent = 0;
  EXPECT_NONFATAL_FAILURE(Status = Bs->CloseEvent(&NotAnEvent), "CloseEvent of an unknown");
  EXPECT_EQ(Bs->SignalEvent(Event), EFI_INVALID_PARAMETER);
}

TEST_F(EventTest, ANotificationMayCloseItsOwnEvent) {
  Probe A{"a", &Runs, [&](EFI_EVENT Self) { EXPECT_EQ(Bs->CloseEvent(Self), EFI_SUCCESS); }};
  EFI_EVENT Event = nullptr;
  ASSERT_EQ(Bs->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, RecordNotify, &A, &Event), EFI_SUCCESS);
  ASSERT_EQ(Bs->SignalEvent(Event), EFI_SUCCESS);
  EXPECT_THAT(Names(Runs), ElementsAre("a"));
  EXPECT_EQ(P.OpenEventCount(), 0u);
}

TEST_F(EventTest, ExitBootServicesSignalsItsGroupAndLaterBootServiceCallsFailButRuntimeServicesWork) {
  Probe ByType{"by-type", &Runs}, ByGroup{"by-group", &Runs}, Virtual{"virtual", &Runs};
  EFI_EVENT E1 = nullptr, E2 = nullptr, E3 = nullptr;
  ASSERT_EQ(Bs->CreateEvent(EVT_SIGNAL_EXIT_BOOT_SERVICES, TPL_CALLBACK, RecordNotify, &ByType, &E1), EFI_SUCCESS);
  ASSERT_EQ(
      Bs->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_NOTIFY, RecordNotify, &ByGroup, &gEfiEventExitBootServicesGuid, &E2),
      EFI_SUCCESS);
  ASSERT_EQ(
      Bs->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_NOTIFY, RecordNotify, &Virtual, &gEfiEventVirtualAddressChangeGuid, &E3),
      EFI_SUCCESS);

  P.ExitBootServices();
  EXPECT_THAT(Names(Runs), UnorderedElementsAre("by-type", "by-group"));
  EXPECT_TRUE(P.BootServicesEnded());

  VOID *Buffer = nullptr;
  EXPECT_NONFATAL_FAILURE(Bs->AllocatePool(EfiBootServicesData, 8, &Buffer), "after ExitBootServices: AllocatePool");
  EXPECT_EQ(P.BootServiceCallsAfterExit(), 1u);
  if (Buffer != nullptr) {
    EXPECT_NONFATAL_FAILURE(Bs->FreePool(Buffer), "after ExitBootServices: FreePool");
  }

  UINT8 Value = 1;
  EXPECT_EQ(P.RuntimeServices()->SetVariable(u"Rt", &kGroup, 7, 1, &Value), EFI_SUCCESS);
}

TEST_F(EventTest, VirtualAddressChangeConvertsPointersOnlyInsideItsNotifications) {
  VOID *Pointer = reinterpret_cast<VOID *>(0x1000);
  VOID *Optional = nullptr;
  EFI_STATUS PointerStatus = EFI_NOT_STARTED, OptionalStatus = EFI_NOT_STARTED, RequiredStatus = EFI_NOT_STARTED;
  Probe Convert{"convert", &Runs, [&](EFI_EVENT) {
                  PointerStatus = P.RuntimeServices()->ConvertPointer(0, &Pointer);
                  OptionalStatus = P.RuntimeServices()->ConvertPointer(1, &Optional);
                  RequiredStatus = P.RuntimeServices()->ConvertPointer(0, &Optional);
                }};
  EFI_EVENT Event = nullptr;
  ASSERT_EQ(Bs->CreateEvent(EVT_SIGNAL_VIRTUAL_ADDRESS_CHANGE, TPL_NOTIFY, RecordNotify, &Convert, &Event),
            EFI_SUCCESS);
  P.ExitBootServices();
  P.SetVirtualAddressMap(0x10000);

  EXPECT_EQ(PointerStatus, EFI_SUCCESS);
  EXPECT_EQ(Pointer, reinterpret_cast<VOID *>(0x11000));
  EXPECT_EQ(OptionalStatus, EFI_SUCCESS);
  EXPECT_EQ(RequiredStatus, EFI_INVALID_PARAMETER);
  EXPECT_THAT(P.ConvertedPointers(), ElementsAre(0x1000u));
  VOID *Late = Pointer;
  EXPECT_NONFATAL_FAILURE(P.RuntimeServices()->ConvertPointer(0, &Late), "ConvertPointer outside");
}

}  // namespace
