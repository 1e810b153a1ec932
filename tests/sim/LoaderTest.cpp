// Loading a module like an image: fresh module state per load, an image handle with the
// loaded-image protocol describing the mapping, and the architecture hooks bound.
#include "sim/Platform.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <optional>

namespace {

using StartCountFn = UINT32 (*)();

TEST(Loader, EachLoadStartsWithZeroedModuleState) {
  sim::Platform P;
  for (int Round = 0; Round < 2; Round++) {
    sim::LoadedDriver Driver = P.LoadModule(SIM_PROBE_MODULE, 11);
    auto StartCount = reinterpret_cast<StartCountFn>(Driver.Symbol("ProbeStartCount"));
    ASSERT_NE(StartCount, nullptr);
    EXPECT_EQ(StartCount(), 0u);
    EXPECT_EQ(Driver.Start(), EFI_SUCCESS) << "round " << Round;
    EXPECT_EQ(StartCount(), 1u);
  }
  // Two modules alive at once do not share state either.
  sim::LoadedDriver A = P.LoadModule(SIM_PROBE_MODULE, 11);
  sim::LoadedDriver B = P.LoadModule(SIM_PROBE_MODULE, 11);
  EXPECT_EQ(A.Start(), EFI_SUCCESS);
  EXPECT_EQ(B.Start(), EFI_SUCCESS);
  EXPECT_EQ(A.Start(), EFI_ALREADY_STARTED);
  EXPECT_EQ(P.Breakpoints, 5u) << "every start of every load; the module's hook table reaches the platform";
}

TEST(Loader, TheImageHandleCarriesTheLoadedImageProtocolOfTheMapping) {
  sim::Platform P;
  sim::LoadedDriver Runtime = P.LoadModule(SIM_PROBE_MODULE, 12);
  VOID *Interface = nullptr;
  ASSERT_EQ(P.BootServices()->HandleProtocol(Runtime.ImageHandle(), &gEfiLoadedImageProtocolGuid, &Interface),
            EFI_SUCCESS);
  auto *Image = static_cast<EFI_LOADED_IMAGE_PROTOCOL *>(Interface);
  EXPECT_EQ(Image, Runtime.LoadedImage());
  EXPECT_EQ(Image->ImageCodeType, EfiRuntimeServicesCode);
  EXPECT_EQ(Image->ImageDataType, EfiRuntimeServicesData);
  EXPECT_EQ(Image->SystemTable, P.SystemTable());
  const auto Entry = reinterpret_cast<uintptr_t>(Runtime.Symbol("_ModuleEntryPoint"));
  const auto Base = reinterpret_cast<uintptr_t>(Image->ImageBase);
  EXPECT_GT(Entry, Base);
  EXPECT_LT(Entry, Base + Image->ImageSize);

  sim::LoadedDriver Boot = P.LoadModule(SIM_PROBE_MODULE, 11);
  EXPECT_EQ(Boot.LoadedImage()->ImageCodeType, EfiBootServicesCode);
  EXPECT_EQ(Boot.LoadedImage()->ImageDataType, EfiBootServicesData);
  EXPECT_NE(Boot.ImageHandle(), Runtime.ImageHandle());
}

TEST(Loader, AMissingModuleOrAWrongSubsystemFailsWithoutCrashing) {
  sim::Platform P;
  EXPECT_NONFATAL_FAILURE({ sim::LoadedDriver Missing = P.LoadModule("/nonexistent/module.so", 11); },
                          "cannot copy module");
  EXPECT_NONFATAL_FAILURE({ sim::LoadedDriver Application = P.LoadModule(SIM_PROBE_MODULE, 10); }, "only 11 and 12");
  std::optional<sim::LoadedDriver> Missing;
  EXPECT_NONFATAL_FAILURE(Missing.emplace(P.LoadModule("/nonexistent/module.so", 11)), "cannot copy module");
  EFI_STATUS Status = EFI_SUCCESS;
  EXPECT_NONFATAL_FAILURE(Status = Missing->Start(), "did not load");
  EXPECT_EQ(Status, EFI_LOAD_ERROR);
}

TEST(Loader, EventsOfAnUnloadedModuleNeverCallIntoIt) {
  sim::Platform P;
  EFI_EVENT Event = nullptr;
  {
    sim::LoadedDriver Driver = P.LoadModule(SIM_PROBE_MODULE, 11);
    auto Create = reinterpret_cast<EFI_EVENT (*)(EFI_SYSTEM_TABLE *)>(Driver.Symbol("ProbeCreateEvent"));
    ASSERT_NE(Create, nullptr);
    Event = Create(P.SystemTable());
    ASSERT_TRUE(P.IsEventOpen(Event));
  }
  EXPECT_NONFATAL_FAILURE(P.BootServices()->SignalEvent(Event), "event of an unloaded module");
  EXPECT_EQ(P.BootServices()->CloseEvent(Event), EFI_SUCCESS);
}

TEST(Loader, ImageHandlesForStaticallyLinkedCode) {
  sim::Platform P;
  EFI_HANDLE Handle = P.CreateImageHandle(EfiRuntimeServicesCode);
  auto *Image = static_cast<EFI_LOADED_IMAGE_PROTOCOL *>(P.InterfaceOn(Handle, gEfiLoadedImageProtocolGuid));
  ASSERT_NE(Image, nullptr);
  EXPECT_EQ(Image->ImageDataType, EfiRuntimeServicesData);
  EXPECT_EQ(Image->Revision, static_cast<UINT32>(EFI_LOADED_IMAGE_PROTOCOL_REVISION));
}

}  // namespace
