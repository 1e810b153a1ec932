// One PCI root bridge instance and the configuration space behind it. Functions that were
// never added read as all ones (absent); a read of a bus the root bridge does not decode,
// or a read failed on purpose, is refused (EFI_INVALID_PARAMETER) and leaves the caller's
// destination alone. A board with several root bridges adds one per instance, in handle
// order; each reports its bus range through Configuration() as EDK II's does: I/O and
// memory windows, then the bus-number descriptor, then the end tag.
#pragma once

#include <sim/Platform.h>

#include <array>
#include <map>
#include <optional>
#include <vector>

namespace sim {

struct PciEndpointIds {
  UINT16 VendorId;
  UINT16 DeviceId;
  UINT8 BaseClass;
  UINT8 SubClass;
  UINT16 SubSystemVendorId;
  UINT16 SubSystemId;
};

class PciRootBridge : public Peer {
 public:
  static constexpr size_t ConfigSize = 4096;
  using ConfigSpace = std::array<UINT8, ConfigSize>;

  explicit PciRootBridge(Platform &P);  // installs the protocol on a new handle

  // A present function with an all-zero configuration space (vendor ID 0).
  ConfigSpace &AddFunction(UINT8 Bus, UINT8 Device, UINT8 Function);
  bool IsPresent(UINT8 Bus, UINT8 Device, UINT8 Function) const;
  void Set8(UINT8 Bus, UINT8 Device, UINT8 Function, UINT32 Register, UINT8 Value);
  void Set16(UINT8 Bus, UINT8 Device, UINT8 Function, UINT32 Register, UINT16 Value);

  // A PCI-to-PCI bridge (class 06/04, header type 1) leading to SecondaryBus. With a link
  // status it carries a PCI Express capability at CapabilityOffset whose Link Status
  // register (capability + 0x12) holds it; other capabilities come first when asked.
  void AddBridge(UINT8 Bus, UINT8 Device, UINT8 Function, UINT8 SecondaryBus, std::optional<UINT16> LinkStatus,
                 UINT8 CapabilityOffset = 0x40, bool MultiFunction = false);
  // An endpoint with a type 0 header; MultiFunction sets bit 7 of the header type.
  void AddEndpoint(UINT8 Bus, UINT8 Device, UINT8 Function, const PciEndpointIds &Ids, bool MultiFunction = false);
  // Writes one capability header (ID, next pointer) at Offset and, when First, makes the
  // capabilities pointer (0x34) point at it and sets the capability-list status bit.
  void AddCapability(UINT8 Bus, UINT8 Device, UINT8 Function, UINT8 Offset, UINT8 Id, UINT8 Next, bool First);

  static constexpr UINT16 LinkStatus(UINT8 Speed, UINT8 Width) { return (UINT16)((Width << 4) | (Speed & 0xF)); }

  // Buses outside [First, Last] are refused; Configuration() reports the same range.
  void DecodeBuses(UINT8 First, UINT8 Last);
  // What Configuration() says of the buses: a range of its own (EDK II reports the buses
  // its enumeration handed out, which may be fewer than the instance decodes), no
  // bus-number descriptor at all, or EFI_UNSUPPORTED without any descriptors.
  void ReportBuses(UINT8 First, UINT8 Last);
  void ReportNoBusRange();
  void RefuseConfiguration();
  size_t ConfigurationCount() const { return ConfigurationCalls; }

  struct Read {
    EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width;
    UINT64 Address;
    UINTN Count;
    EFI_STATUS Status;
  };
  // Kept while the fault injector keeps its call log.
  const std::vector<Read> &Reads() const { return Log; }
  size_t ReadCount() const { return Log.size(); }
  EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *Interface() { return &Instance_.Protocol; }

 private:
  struct InstanceRecord {
    EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL Protocol;
    PciRootBridge *Owner;
  };
  static EFI_STATUS EFIAPI ConfigurationEntry(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *This, VOID **Resources);
  EFI_STATUS Configuration(VOID **Resources);
  static EFI_STATUS EFIAPI PciReadEntry(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *This,
                                        EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width, UINT64 Address, UINTN Count,
                                        VOID *Buffer);
  EFI_STATUS PciRead(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width, UINT64 Address, UINTN Count, VOID *Buffer);
  EFI_STATUS ReadConfig(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width, UINT64 Address, UINTN Count, VOID *Buffer) const;
  ConfigSpace &Config(UINT8 Bus, UINT8 Device, UINT8 Function);

  Platform &P;
  InstanceRecord Instance_{};
  EFI_HANDLE Handle_ = nullptr;
  std::map<UINT32, ConfigSpace> Functions;
  UINT8 FirstBus = 0;
  UINT8 LastBus = 255;
  enum class BusReport { Decoded, Own, None, Unsupported } Report = BusReport::Decoded;
  UINT8 ReportedFirst = 0;
  UINT8 ReportedLast = 255;
  std::vector<UINT8> Resources_;
  size_t ConfigurationCalls = 0;
  std::vector<Read> Log;
  FaultInjector::ServiceCounter &ReadCounter = P.Faults().Counter("PciRootBridgeIo.Pci.Read");
};

}  // namespace sim
