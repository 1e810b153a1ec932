// Pool accounting: leaks, double and foreign frees, bad memory types, peak use.
#include "sim/Platform.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

namespace {

class PoolTest : public testing::Test {
 protected:
  sim::Platform P;
  EFI_BOOT_SERVICES *Bs = P.BootServices();
};

TEST_F(PoolTest, ALeakedBlockIsReportedWithItsSizeAndType) {
  VOID *Kept = nullptr;
  VOID *Freed = nullptr;
  ASSERT_EQ(Bs->AllocatePool(EfiRuntimeServicesData, 24, &Kept), EFI_SUCCESS);
  ASSERT_EQ(Bs->AllocatePool(EfiBootServicesData, 100, &Freed), EFI_SUCCESS);
  ASSERT_EQ(Bs->FreePool(Freed), EFI_SUCCESS);
  EXPECT_EQ(P.LiveAllocations(), 1u);
  EXPECT_EQ(P.LiveBytes(), 24u);
  EXPECT_NONFATAL_FAILURE(P.ExpectNoLeaks(), "pool block leaked: 24 bytes of memory type 6");
}

TEST_F(PoolTest, DoubleFreeAndForeignFreeFailTheTestAndAreRefused) {
  VOID *Block = nullptr;
  ASSERT_EQ(Bs->AllocatePool(EfiBootServicesData, 16, &Block), EFI_SUCCESS);
  ASSERT_EQ(Bs->FreePool(Block), EFI_SUCCESS);
  EFI_STATUS Status = EFI_SUCCESS;
  EXPECT_NONFATAL_FAILURE(Status = Bs->FreePool(Block), "double free");
  EXPECT_EQ(Status, EFI_INVALID_PARAMETER);

  UINT8 OnTheStack[16];
  EXPECT_NONFATAL_FAILURE(Status = Bs->FreePool(OnTheStack), "pointer that pool never returned");
  EXPECT_EQ(Status, EFI_INVALID_PARAMETER);
  EXPECT_NONFATAL_FAILURE(Status = Bs->FreePool(nullptr), "pointer that pool never returned");
  EXPECT_EQ(P.LiveAllocations(), 0u);
}

TEST_F(PoolTest, FreedMemoryIsNeverHandedOutAgain) {
  VOID *First = nullptr;
  VOID *Second = nullptr;
  ASSERT_EQ(Bs->AllocatePool(EfiBootServicesData, 32, &First), EFI_SUCCESS);
  ASSERT_EQ(Bs->FreePool(First), EFI_SUCCESS);
  ASSERT_EQ(Bs->AllocatePool(EfiBootServicesData, 32, &Second), EFI_SUCCESS);
  EXPECT_NE(First, Second);
  // Fresh pool is not zeroed: code that relies on zeroed pool shows up.
  EXPECT_NE(static_cast<UINT8 *>(Second)[0], 0);
  EXPECT_EQ(Bs->FreePool(Second), EFI_SUCCESS);
}

TEST_F(PoolTest, BadRequestsAreRefusedWithoutTouchingTheAccount) {
  VOID *Block = reinterpret_cast<VOID *>(0x1234);
  EXPECT_EQ(Bs->AllocatePool(EfiConventionalMemory, 8, &Block), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Bs->AllocatePool(EfiMaxMemoryType, 8, &Block), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Bs->AllocatePool(static_cast<EFI_MEMORY_TYPE>(0x6FFFFFFF), 8, &Block), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Bs->AllocatePool(EfiBootServicesData, 8, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Bs->AllocatePool(EfiBootServicesData, ~UINTN{0}, &Block), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(P.LiveAllocations(), 0u);
  EXPECT_EQ(P.PeakBytes(), 0u);
}

TEST_F(PoolTest, PeakBytesIsTheHighestLiveTotal) {
  VOID *A = nullptr;
  VOID *B = nullptr;
  VOID *C = nullptr;
  ASSERT_EQ(Bs->AllocatePool(EfiBootServicesData, 100, &A), EFI_SUCCESS);
  ASSERT_EQ(Bs->AllocatePool(EfiBootServicesData, 50, &B), EFI_SUCCESS);
  ASSERT_EQ(Bs->FreePool(A), EFI_SUCCESS);
  ASSERT_EQ(Bs->AllocatePool(EfiBootServicesData, 70, &C), EFI_SUCCESS);
  EXPECT_EQ(P.PeakBytes(), 150u);
  EXPECT_EQ(P.LiveBytes(), 120u);
  Bs->FreePool(B);
  Bs->FreePool(C);
  EXPECT_EQ(P.LiveBytes(), 0u);
}

}  // namespace
