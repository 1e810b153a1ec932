// The runtime pointers the driver hands to the Tesk registration service.
#include "HotlatchBoard.h"

#include <gtest/gtest.h>

namespace hotlatch_test {
namespace {

constexpr UINT16 kBootServiceDriverSubsystem = 11;

bool InsideImage(sim::LoadedDriver &Driver, VOID **Address) {
  auto Base = reinterpret_cast<uintptr_t>(Driver.LoadedImage()->ImageBase);
  auto Where = reinterpret_cast<uintptr_t>(Address);
  return Where >= Base && Where < Base + Driver.LoadedImage()->ImageSize;
}

TEST(TeskRegistration, ServiceBeforeTheDriverGetsBothPointersAtOnce) {
  HotlatchBoard Board;
  sim::TeskService &Tesk = Board.AddTeskService();
  ASSERT_EQ(Board.Start(), EFI_SUCCESS);

  // The library's own service pointer first, then the variable library's runtime services.
  ASSERT_EQ(Tesk.Calls().size(), 2u);
  EXPECT_TRUE(Tesk.Calls()[0].Register);
  EXPECT_EQ(*Tesk.Calls()[0].Address, static_cast<VOID *>(Tesk.Interface()));
  EXPECT_TRUE(Tesk.Calls()[1].Register);
  EXPECT_EQ(*Tesk.Calls()[1].Address, static_cast<VOID *>(Board.P.RuntimeServices()));
  for (const sim::TeskService::Call &Call : Tesk.Calls()) {
    EXPECT_TRUE(InsideImage(Board.Driver(), Call.Address));
  }
}

TEST(TeskRegistration, ServiceFoundAtOnceNeedsNoWaitingEvent) {
  size_t EventsWithoutService = 0;
  {
    HotlatchBoard Board;
    ASSERT_EQ(Board.Start(), EFI_SUCCESS);
    EventsWithoutService = Board.P.OpenEventCount();
  }
  HotlatchBoard Board;
  Board.AddTeskService();
  ASSERT_EQ(Board.Start(), EFI_SUCCESS);
  EXPECT_EQ(Board.P.OpenEventCount(), EventsWithoutService - 1);
}

TEST(TeskRegistration, ServiceInstalledLaterGetsOnlyTheServicePointer) {
  HotlatchBoard Board;
  sim::TeskService &Tesk = Board.P.Add<sim::TeskService>(Board.P);
  ASSERT_EQ(Board.Start(), EFI_SUCCESS);
  EXPECT_TRUE(Tesk.Calls().empty());
  size_t OpenEvents = Board.P.OpenEventCount();

  Tesk.Install();

  ASSERT_EQ(Tesk.Calls().size(), 1u);
  EXPECT_EQ(*Tesk.Calls()[0].Address, static_cast<VOID *>(Tesk.Interface()));
  EXPECT_EQ(Board.P.OpenEventCount(), OpenEvents - 1);
  // Closed: a further installation of the service is not reported to the driver.
  EFI_HANDLE Second = nullptr;
  ASSERT_EQ(Board.P.InstallProtocol(&Second, gTeskRegistrationProtocolGuid, Tesk.Interface()), EFI_SUCCESS);
  EXPECT_EQ(Tesk.Calls().size(), 1u);
}

// What registration buys: the service moves the driver's pointers at the address switch.
TEST(TeskRegistration, RegisteredPointersFollowTheConversion) {
  HotlatchBoard Board;
  sim::TeskService &Tesk = Board.AddTeskService();
  ASSERT_EQ(Board.Start(), EFI_SUCCESS);
  VOID **RuntimeServicesPointer = Tesk.Calls()[1].Address;

  Tesk.ConvertRegistered(0x1000);

  EXPECT_EQ(reinterpret_cast<uintptr_t>(*RuntimeServicesPointer),
            reinterpret_cast<uintptr_t>(Board.P.RuntimeServices()) + 0x1000);
  Tesk.ConvertRegistered(-0x1000);
}

TEST(TeskRegistration, NeverInstalledServiceLeavesTheDriverWorking) {
  HotlatchBoard Board;
  ASSERT_EQ(Board.Start(), EFI_SUCCESS);
  sim::Keyboard &Keyboard = Board.AddKeyboard();
  Keyboard.Install();
  Keyboard.Press(kDebugKeyStroke);
  EXPECT_EQ(Board.Stored(kSocketProc), WithByte(Board.SocketProc, PROC_HIDE_OFFSET, 1));
}

TEST(TeskRegistration, BootServiceImageRegistersNothing) {
  HotlatchBoard Board;
  sim::TeskService &Tesk = Board.AddTeskService();
  ASSERT_EQ(Board.StartAs(kBootServiceDriverSubsystem), EFI_SUCCESS);
  EXPECT_EQ(Board.Driver().LoadedImage()->ImageCodeType, EfiBootServicesCode);
  EXPECT_TRUE(Tesk.Calls().empty());
}

TEST(TeskRegistration, BootServiceImageStopsWaitingWithoutRegistering) {
  HotlatchBoard Board;
  sim::TeskService &Tesk = Board.P.Add<sim::TeskService>(Board.P);
  ASSERT_EQ(Board.StartAs(kBootServiceDriverSubsystem), EFI_SUCCESS);
  size_t OpenEvents = Board.P.OpenEventCount();

  Tesk.Install();

  EXPECT_TRUE(Tesk.Calls().empty());
  EXPECT_EQ(Board.P.OpenEventCount(), OpenEvents - 1);
}

// Without its wait event the client can never learn of the service: an assertion, and the
// start goes on.
TEST(TeskRegistration, MissingWaitEventIsAnAssertionAndTheStartGoesOn) {
  // The client's wait is the first of the three plain events of a start without the service.
  unsigned WaitCreate = CallsOfCleanStart("CreateEvent") - 2;
  HotlatchBoard Board;
  sim::TeskService &Tesk = Board.P.Add<sim::TeskService>(Board.P);
  Board.P.Faults().FailNth("CreateEvent", WaitCreate, EFI_OUT_OF_RESOURCES);
  ASSERT_EQ(Board.Start(), EFI_SUCCESS);

  std::vector<std::string> Asserts;
  for (const sim::StatusCodeReport &Report : Board.P.StatusCodes()) {
    if (auto Assert = debug_render::DecodeAssertMessage(Report)) {
      Asserts.push_back(Assert->Description);
    }
  }
  EXPECT_TRUE(Contains(Asserts, "mTeskRegEvent != ((void *) 0)"));
  Tesk.Install();
  EXPECT_TRUE(Tesk.Calls().empty());
}

// A failed start withdraws what the constructors registered.
TEST(TeskRegistration, FailedStartWithdrawsBothRegistrations) {
  unsigned DisarmRegister =
      CallsOfCleanStart("RegisterProtocolNotify", [](HotlatchBoard &Board) { Board.AddTeskService(); });
  HotlatchBoard Board;
  sim::TeskService &Tesk = Board.AddTeskService();
  Board.P.Faults().FailNth("RegisterProtocolNotify", DisarmRegister, EFI_OUT_OF_RESOURCES);

  EXPECT_EQ(Board.Start(), EFI_OUT_OF_RESOURCES);

  EXPECT_TRUE(Tesk.Registered().empty());
  ASSERT_EQ(Tesk.Calls().size(), 4u);
  EXPECT_FALSE(Tesk.Calls()[2].Register);
  EXPECT_FALSE(Tesk.Calls()[3].Register);
}

// The service arrives while the start is under way, the notify closes its wait, and then the
// start fails: the destructor must neither close that event again nor leave the service
// pointing into the unloaded image.
TEST(TeskRegistration, DestructorAfterTheNotifyClosesNothingTwice) {
  unsigned DisarmRegister = CallsOfCleanStart("RegisterProtocolNotify");
  HotlatchBoard Board;
  sim::SmmVariableHandler &Smm = Board.AddSmmVariable();
  sim::TeskService &Tesk = Board.P.Add<sim::TeskService>(Board.P);
  bool Installed = false;
  Smm.DuringSmi = [&] {
    if (!Installed) {
      Installed = true;
      Tesk.Install();
    }
  };
  size_t OpenEvents = Board.P.OpenEventCount();
  Board.P.Faults().FailNth("RegisterProtocolNotify", DisarmRegister, EFI_OUT_OF_RESOURCES);

  EXPECT_EQ(Board.Start(), EFI_OUT_OF_RESOURCES);

  ASSERT_FALSE(Tesk.Calls().empty());
  EXPECT_TRUE(Tesk.Calls()[0].Register);
  EXPECT_TRUE(Tesk.Registered().empty());
  EXPECT_EQ(Board.P.OpenEventCount(), OpenEvents);
}

}  // namespace
}  // namespace hotlatch_test
