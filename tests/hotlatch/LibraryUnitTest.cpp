// The two libraries linked straight into the test, for what the driver's own flows never
// exercise: argument checks, size limits, allocation failures, the end of boot services and
// the destructors' bookkeeping.
#include <sim/Platform.h>
#include <sim/peers/SmmVariable.h>
#include <sim/peers/TeskService.h>

#include <Library/UefiBootServicesTableLib.h>
#include <Library/UefiRuntimeServicesTableLib.h>
#include <hotlatch/DxeVariableLib/DxeVariableLib.h>
#include <hotlatch/TeskRegistrationLib/TeskRegistrationLib.h>
#include <Arch.h>
#include <Guid/SetupVariables.h>

#include <gtest/gtest.h>

#include <vector>

namespace {

class LibraryUnit : public testing::Test {
 protected:
  sim::Platform P;
  EFI_HANDLE Image = nullptr;
  bool RunDestructors = true;
  std::vector<UINT8> Data = std::vector<UINT8>(16, 0x5A);

  void SetUp() override {
    sim::Platform::BindHostHooks(&gArchHostHooks);
    Image = P.CreateImageHandle(EfiRuntimeServicesCode);
    ASSERT_EQ(UefiRuntimeServicesTableLibConstructor(Image, P.SystemTable()), EFI_SUCCESS);
    ASSERT_EQ(UefiBootServicesTableLibConstructor(Image, P.SystemTable()), EFI_SUCCESS);
  }

  void Construct() {
    ASSERT_EQ(TeskRegistrationLibConstructor(Image, P.SystemTable()), EFI_SUCCESS);
    ASSERT_EQ(DxeVariableLibConstructor(Image, P.SystemTable()), EFI_SUCCESS);
  }

  void Destruct() {
    EXPECT_EQ(DxeVariableLibDestructor(Image, P.SystemTable()), EFI_SUCCESS);
    EXPECT_EQ(TeskRegistrationLibDestructor(Image, P.SystemTable()), EFI_SUCCESS);
  }

  EFI_STATUS Write(const CHAR16 *Name, const EFI_GUID *Guid, UINT32 Attributes, UINTN Size, VOID *Bytes) {
    return VarLibSetVariable(Name, Guid, Attributes, Size, Bytes);
  }
};

TEST_F(LibraryUnit, SmmPathRefusesBadArgumentsBeforeAllocating) {
  Construct();
  sim::SmmVariableHandler &Smm = P.Add<sim::SmmVariableHandler>(P);
  Smm.InstallProtocol();
  unsigned Allocations = P.Faults().Count("AllocatePool");

  EXPECT_EQ(Write(u"Setup", &gSetupVariableGuid, 7 | EFI_VARIABLE_APPEND_WRITE, Data.size(), Data.data()),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(Write(nullptr, &gSetupVariableGuid, 7, Data.size(), Data.data()), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Write(u"Setup", nullptr, 7, Data.size(), Data.data()), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Write(u"Setup", &gSetupVariableGuid, 7, 4, nullptr), EFI_INVALID_PARAMETER);
  // A size the packet cannot describe, with a buffer that must never be read.
  EXPECT_EQ(Write(u"Setup", &gSetupVariableGuid, 7, MAX_UINTN, Data.data()), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Write(u"Setup", &gSetupVariableGuid, 7, MAX_UINT32, Data.data()), EFI_INVALID_PARAMETER);

  EXPECT_TRUE(Smm.Smis().empty());
  EXPECT_EQ(P.Faults().Count("AllocatePool"), Allocations);
  Destruct();
}

TEST_F(LibraryUnit, SmmPathDeletesWithoutData) {
  Construct();
  sim::SmmVariableHandler &Smm = P.Add<sim::SmmVariableHandler>(P);
  Smm.InstallProtocol();
  P.Variables().Put(u"Setup", gSetupVariableGuid, 7, Data);

  EXPECT_EQ(Write(u"Setup", &gSetupVariableGuid, 7, 0, nullptr), EFI_SUCCESS);

  ASSERT_EQ(Smm.Smis().size(), 1u);
  EXPECT_EQ(Smm.Smis()[0].Rbx, 16u + 30u + 12u);
  EXPECT_EQ(P.Variables().Find(u"Setup", gSetupVariableGuid), nullptr);
  Destruct();
}

TEST_F(LibraryUnit, SmmPathAllocationFailuresLeakNothing) {
  Construct();
  sim::SmmVariableHandler &Smm = P.Add<sim::SmmVariableHandler>(P);
  Smm.InstallProtocol();
  for (unsigned Nth : {1u, 2u}) {
    P.Faults().Clear();
    P.Faults().FailNth("AllocatePool", Nth, EFI_OUT_OF_RESOURCES);
    EXPECT_EQ(Write(u"Setup", &gSetupVariableGuid, 7, Data.size(), Data.data()), EFI_OUT_OF_RESOURCES) << Nth;
    EXPECT_EQ(P.LiveAllocations(), 0u) << Nth;
  }
  EXPECT_TRUE(Smm.Smis().empty());
  Destruct();
}

TEST_F(LibraryUnit, DirectPathUsesTheLibrarysRuntimeServices) {
  Construct();
  EXPECT_EQ(Write(u"Setup", &gSetupVariableGuid, 7, Data.size(), Data.data()), EFI_SUCCESS);
  const sim::VariableStore::Variable *Stored = P.Variables().Find(u"Setup", gSetupVariableGuid);
  ASSERT_NE(Stored, nullptr);
  EXPECT_EQ(Stored->Data, Data);
  EXPECT_EQ(Stored->Attributes, 7u);
  // No argument checks of its own on this path: the runtime services answer.
  EXPECT_EQ(Write(nullptr, &gSetupVariableGuid, 7, Data.size(), Data.data()), EFI_INVALID_PARAMETER);
  Destruct();
}

TEST_F(LibraryUnit, AfterExitBootServicesEveryWriteIsUnsupportedBeforeAnyCheck) {
  P.Add<sim::TeskService>(P).Install();
  Construct();
  sim::SmmVariableHandler &Smm = P.Add<sim::SmmVariableHandler>(P);
  Smm.InstallProtocol();
  const unsigned Closes = P.Faults().Count("CloseEvent");
  P.ExitBootServices();
  EXPECT_EQ(P.Faults().Count("CloseEvent"), Closes) << "the exit notify leaves its event to the firmware";

  // Even arguments the SMM path would refuse: no lookup, no allocation, no SMI.
  EXPECT_EQ(Write(nullptr, nullptr, EFI_VARIABLE_APPEND_WRITE, 5, nullptr), EFI_UNSUPPORTED);
  EXPECT_EQ(Write(u"Setup", &gSetupVariableGuid, 7, Data.size(), Data.data()), EFI_UNSUPPORTED);
  EXPECT_TRUE(Smm.Smis().empty());
  EXPECT_EQ(P.Variables().Find(u"Setup", gSetupVariableGuid), nullptr);
  // Past the exit no boot service may be called: the destructor leaves the event alone.
  EXPECT_EQ(DxeVariableLibDestructor(Image, P.SystemTable()), EFI_SUCCESS);
}

TEST_F(LibraryUnit, WithoutTheServiceEveryRegistrationIsAborted) {
  Construct();
  VOID *Pointer = nullptr;
  EXPECT_EQ(TeskRegisterPointer(&Pointer), EFI_ABORTED);
  EXPECT_EQ(TeskUnregisterPointer(&Pointer), EFI_ABORTED);
  size_t OpenEvents = P.OpenEventCount();
  Destruct();
  // Both library events (the wait for the service, the exit notify) are gone.
  EXPECT_EQ(P.OpenEventCount(), OpenEvents - 2);
}

TEST_F(LibraryUnit, BootServiceImageNeverReachesTheService) {
  sim::TeskService &Tesk = P.Add<sim::TeskService>(P);
  Tesk.Install();
  Image = P.CreateImageHandle(EfiBootServicesCode);
  Construct();
  VOID *Pointer = nullptr;
  EXPECT_EQ(TeskRegisterPointer(&Pointer), EFI_ABORTED);
  Destruct();
  EXPECT_TRUE(Tesk.Calls().empty());
}

TEST_F(LibraryUnit, RegistrationsReachTheServiceAndAreWithdrawnByTheDestructors) {
  sim::TeskService &Tesk = P.Add<sim::TeskService>(P);
  Tesk.Install();
  Construct();
  ASSERT_EQ(Tesk.Registered().size(), 2u);
  VOID *Pointer = nullptr;
  EXPECT_EQ(TeskRegisterPointer(&Pointer), EFI_SUCCESS);
  EXPECT_EQ(TeskRegisterPointer(&Pointer), EFI_ALREADY_STARTED);  // the service's answer, unchanged
  EXPECT_EQ(TeskUnregisterPointer(&Pointer), EFI_SUCCESS);
  Destruct();
  EXPECT_TRUE(Tesk.Registered().empty());
}

TEST_F(LibraryUnit, DestructorAfterTheNotifyFoundTheServiceWithdrawsInsteadOfClosingAgain) {
  Construct();
  sim::TeskService &Tesk = P.Add<sim::TeskService>(P);
  size_t OpenEvents = P.OpenEventCount();
  Tesk.Install();
  ASSERT_EQ(Tesk.Registered().size(), 1u);
  EXPECT_EQ(P.OpenEventCount(), OpenEvents - 1);

  Destruct();  // a second close would fail the test

  EXPECT_TRUE(Tesk.Registered().empty());
}

}  // namespace
