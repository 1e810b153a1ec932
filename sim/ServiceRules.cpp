// UEFI's limits on where a boot service may be called, checked on every call: the pool and
// protocol services at TPL_NOTIFY or below, and nothing that allocates or frees firmware
// memory inside an exit-boot-services notification (the memory map must stay as the caller
// of ExitBootServices read it).
#include "ServiceEntry.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace sim {

namespace {

constexpr std::array<std::string_view, 20> kAtMostNotify = {
    "AllocatePages",
    "FreePages",
    "GetMemoryMap",
    "AllocatePool",
    "FreePool",
    "InstallProtocolInterface",
    "ReinstallProtocolInterface",
    "UninstallProtocolInterface",
    "HandleProtocol",
    "RegisterProtocolNotify",
    "LocateHandle",
    "LocateDevicePath",
    "OpenProtocol",
    "CloseProtocol",
    "OpenProtocolInformation",
    "ProtocolsPerHandle",
    "LocateHandleBuffer",
    "LocateProtocol",
    "InstallMultipleProtocolInterfaces",
    "UninstallMultipleProtocolInterfaces",
};

// The memory-allocation services, and the services whose firmware implementation takes or
// gives back pool (event and handle records, open-protocol entries, returned buffers).
constexpr std::array<std::string_view, 20> kUsesFirmwareMemory = {
    "AllocatePages",
    "FreePages",
    "GetMemoryMap",
    "AllocatePool",
    "FreePool",
    "CreateEvent",
    "CreateEventEx",
    "CloseEvent",
    "InstallProtocolInterface",
    "ReinstallProtocolInterface",
    "UninstallProtocolInterface",
    "RegisterProtocolNotify",
    "OpenProtocol",
    "CloseProtocol",
    "OpenProtocolInformation",
    "ProtocolsPerHandle",
    "LocateHandleBuffer",
    "InstallMultipleProtocolInterfaces",
    "UninstallMultipleProtocolInterfaces",
    "InstallConfigurationTable",
};

template <size_t N>
bool Listed(const std::array<std::string_view, N> &List, std::string_view Name) {
  return std::find(List.begin(), List.end(), Name) != List.end();
}

}  // namespace

void CheckCallingRules(Platform &P, std::string_view Name) {
  if (P.CurrentTpl() > TPL_NOTIFY && Listed(kAtMostNotify, Name)) {
    Fail(std::string(Name) + " called at TPL " + std::to_string(P.CurrentTpl()) + ", above TPL_NOTIFY");
  }
  if (P.State().InExitBootServicesNotify && Listed(kUsesFirmwareMemory, Name)) {
    Fail(std::string(Name) + " called inside an exit-boot-services notification, where no memory service may run");
  }
}

}  // namespace sim
