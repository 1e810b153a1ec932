// The two driver modules load as images of their kind. Kept apart from the simulator's own
// tests so that those build even while a driver does not.
#include "sim/Platform.h"

#include <gtest/gtest.h>

namespace {

void ExpectImage(sim::DriverImage Which, EFI_MEMORY_TYPE CodeType, EFI_MEMORY_TYPE DataType) {
  sim::Platform P;
  sim::LoadedDriver Driver = P.Load(Which);
  ASSERT_NE(Driver.LoadedImage(), nullptr);
  EXPECT_EQ(Driver.LoadedImage()->ImageCodeType, CodeType);
  EXPECT_EQ(Driver.LoadedImage()->ImageDataType, DataType);
  EXPECT_EQ(P.InterfaceOn(Driver.ImageHandle(), gEfiLoadedImageProtocolGuid), Driver.LoadedImage());
  EXPECT_NE(Driver.Symbol("_ModuleEntryPoint"), nullptr);
  auto *Hooks = static_cast<ARCH_HOST_HOOKS *>(Driver.Symbol("gArchHostHooks"));
  ASSERT_NE(Hooks, nullptr);
  EXPECT_NE(Hooks->SpinRead, nullptr) << "the loader binds the module's hooks to the platform";
}

TEST(DriverImages, RosterIsABootServiceDriver) {
  ExpectImage(sim::DriverImage::Roster, EfiBootServicesCode, EfiBootServicesData);
}

TEST(DriverImages, HotlatchIsARuntimeDriver) {
  ExpectImage(sim::DriverImage::Hotlatch, EfiRuntimeServicesCode, EfiRuntimeServicesData);
}

}  // namespace
