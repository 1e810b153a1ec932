// RegisterProtocolNotify with LocateHandle(ByRegisterNotify) and LocateProtocol in both
// readings of where a registration starts, and the protocol database around them.
#include "SimTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using simtest::NotifyRun;
using simtest::Probe;
using simtest::RecordNotify;
using testing::ElementsAre;

namespace {

constexpr EFI_GUID kGuid = {0xBBBB0001, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr EFI_GUID kOtherGuid = {0xBBBB0002, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};

class ProtocolNotifyTest : public testing::Test {
 protected:
  VOID *Register() {
    EXPECT_EQ(Bs->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, RecordNotify, &Context, &Event), EFI_SUCCESS);
    VOID *Registration = nullptr;
    EXPECT_EQ(Bs->RegisterProtocolNotify(&kGuid, Event, &Registration), EFI_SUCCESS);
    return Registration;
  }
  EFI_HANDLE InstallNew(VOID *Interface, const EFI_GUID &Guid = kGuid) {
    EFI_HANDLE Handle = nullptr;
    EXPECT_EQ(P.InstallProtocol(&Handle, Guid, Interface), EFI_SUCCESS);
    return Handle;
  }
  // One LocateHandle(ByRegisterNotify) call: the handle, or nullptr with the status.
  EFI_HANDLE Next(VOID *Registration, EFI_STATUS *Status = nullptr) {
    EFI_HANDLE Handle = nullptr;
    UINTN Size = sizeof Handle;
    EFI_STATUS Result = Bs->LocateHandle(ByRegisterNotify, nullptr, Registration, &Size, &Handle);
    if (Status != nullptr) {
      *Status = Result;
    }
    return Result == EFI_SUCCESS ? Handle : nullptr;
  }
  sim::Platform P;
  EFI_BOOT_SERVICES *Bs = P.BootServices();
  std::vector<NotifyRun> Runs;
  Probe Context{"notify", &Runs};
  EFI_EVENT Event = nullptr;
  int I1 = 1, I2 = 2, I3 = 3;
};

TEST_F(ProtocolNotifyTest, UefiReadingHandsOutOnlyLaterInstallationsOneAtATime) {
  InstallNew(&I1);
  VOID *Registration = Register();
  EFI_STATUS Status = EFI_SUCCESS;
  EXPECT_EQ(Next(Registration, &Status), nullptr);
  EXPECT_EQ(Status, EFI_NOT_FOUND);

  EFI_HANDLE H2 = InstallNew(&I2);
  EFI_HANDLE H3 = InstallNew(&I3);
  InstallNew(&I1, kOtherGuid);
  EXPECT_EQ(Runs.size(), 2u) << "one notification per installation of the GUID";

  EXPECT_EQ(Next(Registration), H2);
  EXPECT_EQ(Next(Registration), H3);
  EXPECT_EQ(Next(Registration, &Status), nullptr);
  EXPECT_EQ(Status, EFI_NOT_FOUND);
}

TEST_F(ProtocolNotifyTest, EdkIIReadingStartsAtTheOldestExistingInstance) {
  P.SetNotifyReading(sim::NotifyReading::EdkII);
  EFI_HANDLE H1 = InstallNew(&I1);
  EFI_HANDLE H2 = InstallNew(&I2);
  VOID *Registration = Register();
  EXPECT_TRUE(Runs.empty()) << "registering signals nothing";
  EXPECT_EQ(Next(Registration), H1);
  EXPECT_EQ(Next(Registration), H2);
  EXPECT_EQ(Next(Registration), nullptr);
  EFI_HANDLE H3 = InstallNew(&I3);
  EXPECT_EQ(Next(Registration), H3);
}

TEST_F(ProtocolNotifyTest, UninstallingTheInstanceAtOrAfterThePositionMovesThePositionOffIt) {
  VOID *Registration = Register();
  EFI_HANDLE H1 = InstallNew(&I1);
  EFI_HANDLE H2 = InstallNew(&I2);
  EFI_HANDLE H3 = InstallNew(&I3);
  EXPECT_EQ(Next(Registration), H1);
  // The position rests on H1: removing it must not lose H2; removing H2 unseen skips it.
  ASSERT_EQ(P.UninstallProtocol(H1, kGuid, &I1), EFI_SUCCESS);
  ASSERT_EQ(P.UninstallProtocol(H2, kGuid, &I2), EFI_SUCCESS);
  EXPECT_EQ(Next(Registration), H3);
  EXPECT_EQ(Next(Registration), nullptr);
  // A handle dies with its last protocol.
  VOID *Interface = nullptr;
  EXPECT_EQ(Bs->HandleProtocol(H1, &kGuid, &Interface), EFI_INVALID_PARAMETER);
  EXPECT_EQ(P.InstallProtocol(&H1, kGuid, &I1), EFI_INVALID_PARAMETER);
}

TEST_F(ProtocolNotifyTest, BufferTooSmallReportsTheSizeAndKeepsThePosition) {
  VOID *Registration = Register();
  EFI_HANDLE H1 = InstallNew(&I1);
  UINTN Size = 0;
  EXPECT_EQ(Bs->LocateHandle(ByRegisterNotify, nullptr, Registration, &Size, nullptr), EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(Size, sizeof(EFI_HANDLE));
  EFI_HANDLE Handle = nullptr;
  Size = 4;
  EXPECT_EQ(Bs->LocateHandle(ByRegisterNotify, nullptr, Registration, &Size, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Bs->LocateHandle(ByRegisterNotify, nullptr, Registration, &Size, &Handle), EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(Next(Registration), H1);
}

TEST_F(ProtocolNotifyTest, LocateProtocolWithARegistrationSharesItsPosition) {
  VOID *Registration = Register();
  InstallNew(&I1);
  EFI_HANDLE H2 = InstallNew(&I2);
  VOID *Interface = nullptr;
  ASSERT_EQ(Bs->LocateProtocol(&kGuid, Registration, &Interface), EFI_SUCCESS);
  EXPECT_EQ(Interface, &I1);
  EXPECT_EQ(Next(Registration), H2);
  EXPECT_EQ(Bs->LocateProtocol(&kGuid, Registration, &Interface), EFI_NOT_FOUND);
  EXPECT_EQ(Interface, nullptr);
  // Without a registration: the first instance, whatever any registration has seen.
  ASSERT_EQ(Bs->LocateProtocol(&kGuid, nullptr, &Interface), EFI_SUCCESS);
  EXPECT_EQ(Interface, &I1);
}

TEST_F(ProtocolNotifyTest, ReinstallCountsAsANewInstallation) {
  VOID *Registration = Register();
  EFI_HANDLE H1 = InstallNew(&I1);
  EXPECT_EQ(Next(Registration), H1);
  ASSERT_EQ(P.ReinstallProtocol(H1, kGuid, &I1, &I2), EFI_SUCCESS);
  EXPECT_EQ(Runs.size(), 2u);
  EXPECT_EQ(Next(Registration), H1);
  EXPECT_EQ(P.InterfaceOn(H1, kGuid), &I2);
  EXPECT_EQ(P.ReinstallProtocol(H1, kGuid, &I1, &I3), EFI_NOT_FOUND);
}

TEST_F(ProtocolNotifyTest, ClosingTheEventEndsTheRegistration) {
  VOID *Registration = Register();
  ASSERT_EQ(Bs->CloseEvent(Event), EFI_SUCCESS);
  InstallNew(&I1);
  EXPECT_TRUE(Runs.empty());
  EFI_STATUS Status = EFI_SUCCESS;
  EXPECT_EQ(Next(Registration, &Status), nullptr);
  EXPECT_EQ(Status, EFI_INVALID_PARAMETER);
}

TEST_F(ProtocolNotifyTest, InstallMultipleIsAllOrNothingAndNotifiesAfterTheWholeSet) {
  EFI_HANDLE Seen = nullptr;
  VOID *Registration = nullptr;
  Context.Action = [&](EFI_EVENT) {
    // By the time the notification runs, both protocols are on the handle.
    Seen = Next(Registration);
    EXPECT_NE(P.InterfaceOn(Seen, kOtherGuid), nullptr);
  };
  Registration = Register();
  EFI_HANDLE Handle = nullptr;
  ASSERT_EQ(Bs->InstallMultipleProtocolInterfaces(&Handle, &kGuid, &I1, &kOtherGuid, &I2, nullptr), EFI_SUCCESS);
  EXPECT_EQ(Runs.size(), 1u);
  EXPECT_EQ(Seen, Handle);

  // A duplicate GUID on the same handle fails the call and leaves nothing behind.
  constexpr EFI_GUID kThird = {0xBBBB0003, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};
  EFI_HANDLE Same = Handle;
  EXPECT_EQ(Bs->InstallMultipleProtocolInterfaces(&Same, &kThird, &I3, &kGuid, &I3, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Same, Handle);
  EXPECT_EQ(P.InterfaceOn(Handle, kThird), nullptr);

  EXPECT_EQ(Bs->UninstallMultipleProtocolInterfaces(Handle, &kGuid, &I1, &kOtherGuid, &I3, nullptr),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(P.InterfaceOn(Handle, kGuid), &I1) << "a failed uninstall puts back what it took";
  EXPECT_EQ(Bs->UninstallMultipleProtocolInterfaces(Handle, &kGuid, &I1, &kOtherGuid, &I2, nullptr), EFI_SUCCESS);
  EXPECT_TRUE(P.HandlesWith(kGuid).empty());
}

TEST_F(ProtocolNotifyTest, LocateHandleBufferByProtocolAllocatesFromPoolInInstallationOrder) {
  EFI_HANDLE H1 = InstallNew(&I1);
  EFI_HANDLE H2 = InstallNew(&I2);
  InstallNew(&I3, kOtherGuid);
  UINTN Count = 0;
  EFI_HANDLE *Buffer = nullptr;
  ASSERT_EQ(Bs->LocateHandleBuffer(ByProtocol, &kGuid, nullptr, &Count, &Buffer), EFI_SUCCESS);
  ASSERT_EQ(Count, 2u);
  EXPECT_EQ(Buffer[0], H1);
  EXPECT_EQ(Buffer[1], H2);
  EXPECT_EQ(P.LiveAllocations(), 1u);
  EXPECT_EQ(Bs->FreePool(Buffer), EFI_SUCCESS);

  constexpr EFI_GUID kAbsent = {0xBBBB0009, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};
  EXPECT_EQ(Bs->LocateHandleBuffer(ByProtocol, &kAbsent, nullptr, &Count, &Buffer), EFI_NOT_FOUND);
  EXPECT_EQ(Count, 0u);
  EXPECT_EQ(Buffer, nullptr);
  EXPECT_EQ(Bs->LocateHandleBuffer(ByProtocol, nullptr, nullptr, &Count, &Buffer), EFI_INVALID_PARAMETER);
}

TEST_F(ProtocolNotifyTest, HandleProtocolAnswersUnsupportedAndClearsTheOutput) {
  EFI_HANDLE H1 = InstallNew(&I1);
  VOID *Interface = &I3;
  EXPECT_EQ(Bs->HandleProtocol(H1, &kOtherGuid, &Interface), EFI_UNSUPPORTED);
  EXPECT_EQ(Interface, nullptr);
  EXPECT_EQ(Bs->HandleProtocol(H1, &kGuid, nullptr), EFI_INVALID_PARAMETER);
  int NotAHandle = 0;
  EXPECT_EQ(Bs->HandleProtocol(&NotAHandle, &kGuid, &Interface), EFI_INVALID_PARAMETER);
  ASSERT_EQ(Bs->HandleProtocol(H1, &kGuid, &Interface), EFI_SUCCESS);
  EXPECT_EQ(Interface, &I1);
}

}  // namespace
