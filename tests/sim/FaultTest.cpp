// Fault injection and the loud failure of services nobody modelled.
#include "sim/Platform.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <optional>

namespace {

class FaultTest : public testing::Test {
 protected:
  EFI_STATUS Allocate() {
    VOID *Block = nullptr;
    EFI_STATUS Status = Bs->AllocatePool(EfiBootServicesData, 8, &Block);
    if (!EFI_ERROR(Status)) {
      Bs->FreePool(Block);
    }
    return Status;
  }
  sim::Platform P;
  EFI_BOOT_SERVICES *Bs = P.BootServices();
};

TEST_F(FaultTest, NthCallFailsOnceCountingFromWhenTheRuleIsSet) {
  EXPECT_EQ(Allocate(), EFI_SUCCESS);
  P.Faults().FailNth("AllocatePool", 2, EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Allocate(), EFI_SUCCESS);
  EXPECT_EQ(Allocate(), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Allocate(), EFI_SUCCESS);
  EXPECT_EQ(P.Faults().Count("AllocatePool"), 4u);
  EXPECT_EQ(P.LiveAllocations(), 0u) << "a failed call has no side effect";
}

// Without the call log (as fuzzers run) calls are still counted and failed, and the counts
// a service entry looked up for one platform never carry over to the next.
TEST(FaultCounting, CountsAndFailuresGoOnWithoutTheLogAndStartAfreshOnEachPlatform) {
  for (int Round = 0; Round < 2; Round++) {
    sim::Platform P;
    P.Faults().KeepCallLog(false);
    P.Faults().FailNth("AllocatePool", 2, EFI_OUT_OF_RESOURCES);
    VOID *Block = nullptr;
    ASSERT_EQ(P.BootServices()->AllocatePool(EfiBootServicesData, 8, &Block), EFI_SUCCESS);
    P.BootServices()->FreePool(Block);
    EXPECT_EQ(P.BootServices()->AllocatePool(EfiBootServicesData, 8, &Block), EFI_OUT_OF_RESOURCES);
    EXPECT_EQ(P.Faults().Count("AllocatePool"), 2u);
    EXPECT_EQ(P.Faults().TotalCalls(), 3u);
    EXPECT_TRUE(P.Faults().CallLog().empty());
  }
}

TEST_F(FaultTest, AlwaysFailsEveryCallUntilCleared) {
  P.Faults().FailAlways("GetVariable", EFI_DEVICE_ERROR);
  UINTN Size = 0;
  constexpr EFI_GUID kVendor = {0xDDDD0001, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};
  for (int Round = 0; Round < 3; Round++) {
    EXPECT_EQ(P.RuntimeServices()->GetVariable(u"X", &kVendor, nullptr, &Size, nullptr), EFI_DEVICE_ERROR);
  }
  P.Faults().Clear();
  EXPECT_EQ(P.RuntimeServices()->GetVariable(u"X", &kVendor, nullptr, &Size, nullptr), EFI_NOT_FOUND);
}

TEST_F(FaultTest, OverallNthFailsWhicheverServiceComesNth) {
  P.Faults().FailOverallNth(3, EFI_ABORTED);
  EFI_EVENT Event = nullptr;
  EXPECT_EQ(Allocate(), EFI_SUCCESS);  // AllocatePool and FreePool: calls 1 and 2
  EXPECT_EQ(Bs->CreateEvent(0, 0, nullptr, nullptr, &Event), EFI_ABORTED);
  EXPECT_EQ(Bs->CreateEvent(0, 0, nullptr, nullptr, &Event), EFI_SUCCESS);
  Bs->CloseEvent(Event);
  const auto &Log = P.Faults().CallLog();
  ASSERT_GE(Log.size(), 4u);
  EXPECT_EQ(Log[0], "AllocatePool");
  EXPECT_EQ(Log[2], "CreateEvent");
}

TEST_F(FaultTest, UnmodelledServicesFailTheTestLoudlyInsteadOfCrashing) {
  EFI_PHYSICAL_ADDRESS Address = 0;
  EFI_STATUS Status = EFI_SUCCESS;
  EXPECT_NONFATAL_FAILURE(Status = Bs->AllocatePages(AllocateAnyPages, EfiBootServicesData, 1, &Address),
                          "unexpected call: AllocatePages");
  EXPECT_EQ(Status, EFI_UNSUPPORTED);
  EXPECT_NONFATAL_FAILURE(Status = Bs->SetWatchdogTimer(0, 0, 0, nullptr), "unexpected call: SetWatchdogTimer");
  EXPECT_NONFATAL_FAILURE(P.RuntimeServices()->ResetSystem(EfiResetCold, EFI_SUCCESS, 0, nullptr),
                          "unexpected call: ResetSystem");
  EXPECT_NONFATAL_FAILURE(P.SystemTable()->ConOut->Reset(P.SystemTable()->ConOut, FALSE),
                          "unexpected call: ConOut.Reset");
}

TEST_F(FaultTest, EveryTableEntryIsFilled) {
  auto AllSet = [](const void *Table, size_t Size) {
    const auto *Entries = reinterpret_cast<void *const *>(static_cast<const UINT8 *>(Table) + sizeof(EFI_TABLE_HEADER));
    for (size_t Index = 0; Index < (Size - sizeof(EFI_TABLE_HEADER)) / sizeof(void *); Index++) {
      // The boot services' Reserved slot stays NULL, as the firmware leaves it.
      if (Table == nullptr || Entries[Index] == nullptr) {
        if (!(Size == sizeof(EFI_BOOT_SERVICES) && Index == (OFFSET_OF(EFI_BOOT_SERVICES, Reserved) - 24) / 8)) {
          return false;
        }
      }
    }
    return true;
  };
  EXPECT_TRUE(AllSet(P.BootServices(), sizeof(EFI_BOOT_SERVICES)));
  EXPECT_TRUE(AllSet(P.RuntimeServices(), sizeof(EFI_RUNTIME_SERVICES)));
  EXPECT_EQ(P.SystemTable()->BootServices->Hdr.Signature, EFI_BOOT_SERVICES_SIGNATURE);
  EXPECT_EQ(P.SystemTable()->Hdr.Signature, EFI_SYSTEM_TABLE_SIGNATURE);
}

TEST(PlatformLifetime, ASecondLivePlatformIsRefused) {
  sim::Platform First;
  std::optional<sim::Platform> Second;
  EXPECT_NONFATAL_FAILURE(Second.emplace(), "a second Platform");
  EXPECT_EQ(&sim::Platform::Current(), &First);
  EXPECT_NE(Second->BootServices()->CreateEvent, nullptr) << "a refused platform still has whole tables";
  Second.reset();
  EXPECT_EQ(&sim::Platform::Current(), &First) << "destroying the refused one leaves the live one in place";
}

}  // namespace
