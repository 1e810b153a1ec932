// The KCS transport's shipped image in the simulator: it starts as a boot-service driver,
// installs the management transport and refuses bad calls before any port access (its
// port instructions are real in an image, so no call here may reach them).
#include <Protocol/ManagementTransport.h>
#include <sim/Hob.h>
#include <sim/Platform.h>

#include <gtest/gtest.h>

namespace peimage_test {
namespace {

TEST(KcsTransportImage, StartsAndInstallsTheTransportThatRefusesBadCalls) {
  sim::Platform P;
  P.SetHobList(sim::HobListBuilder().Build());
  sim::LoadedDriver Image = P.LoadPeImage(KCS_TRANSPORT_EFI_PATH);
  ASSERT_EQ(Image.Start(), EFI_SUCCESS);
  const auto Handles = P.HandlesWith(gManagementTransportProtocolGuid);
  ASSERT_EQ(Handles.size(), 1u);
  auto *Transport =
      static_cast<MANAGEMENT_TRANSPORT_PROTOCOL *>(P.InterfaceOn(Handles[0], gManagementTransportProtocolGuid));
  ASSERT_NE(Transport, nullptr);
  UINT8 Data[4] = {};
  UINT8 Response[4];
  UINT8 Length = sizeof Response;
  EXPECT_EQ(Transport->SendCommand(Transport, 0xA7E8, Data, 4, Response, nullptr, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Transport->SendLargeCommand(Transport, 0x5AC8, nullptr, 23063, Response, &Length, nullptr),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(Transport->SendLargeCommand(nullptr, 0x5AC8, Data, 4, Response, &Length, nullptr), EFI_INVALID_PARAMETER);
}

}  // namespace
}  // namespace peimage_test
