#include "PciRootBridge.h"

#include "../ServiceEntry.h"

#include <cstring>

namespace sim {

namespace {

UINT32 Key(UINT8 Bus, UINT8 Device, UINT8 Function) {
  return ((UINT32)Bus << 16) | ((UINT32)(Device & 0x1F) << 8) | (Function & 7);
}

size_t ElementSize(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width) { return (size_t)1 << ((unsigned)Width & 3); }

void AppendAddressSpace(std::vector<UINT8> &Out, UINT8 ResType, UINT64 Granularity, UINT64 Min, UINT64 Length) {
  EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR Descriptor{};
  Descriptor.Desc = ACPI_ADDRESS_SPACE_DESCRIPTOR;
  Descriptor.Len = sizeof(Descriptor) - ACPI_LARGE_ITEM_HEADER_SIZE;
  Descriptor.ResType = ResType;
  Descriptor.AddrSpaceGranularity = Granularity;
  Descriptor.AddrRangeMin = Min;
  Descriptor.AddrRangeMax = Min + Length - 1;
  Descriptor.AddrLen = Length;
  const auto *Bytes = reinterpret_cast<const UINT8 *>(&Descriptor);
  Out.insert(Out.end(), Bytes, Bytes + sizeof(Descriptor));
}

}  // namespace

PciRootBridge::PciRootBridge(Platform &Owner) : P(Owner) {
  auto &Protocol = Instance_.Protocol;
  // Only configuration reads are the inventory's business.
  SIM_UNEXPECTED_NAMED(Protocol, PollMem, "PciRootBridgeIo.PollMem");
  SIM_UNEXPECTED_NAMED(Protocol, PollIo, "PciRootBridgeIo.PollIo");
  SIM_UNEXPECTED_NAMED(Protocol, Mem.Read, "PciRootBridgeIo.Mem.Read");
  SIM_UNEXPECTED_NAMED(Protocol, Mem.Write, "PciRootBridgeIo.Mem.Write");
  SIM_UNEXPECTED_NAMED(Protocol, Io.Read, "PciRootBridgeIo.Io.Read");
  SIM_UNEXPECTED_NAMED(Protocol, Io.Write, "PciRootBridgeIo.Io.Write");
  SIM_UNEXPECTED_NAMED(Protocol, Pci.Write, "PciRootBridgeIo.Pci.Write");
  SIM_UNEXPECTED_NAMED(Protocol, CopyMem, "PciRootBridgeIo.CopyMem");
  Protocol.Pci.Read = PciReadEntry;
  Protocol.Configuration = ConfigurationEntry;
  Instance_.Owner = this;
  if (EFI_ERROR(P.InstallProtocol(&Handle_, gEfiPciRootBridgeIoProtocolGuid, &Instance_.Protocol))) {
    Fail("PCI root bridge I/O install failed");
  }
}

PciRootBridge::ConfigSpace &PciRootBridge::AddFunction(UINT8 Bus, UINT8 Device, UINT8 Function) {
  ConfigSpace &Space = Functions[Key(Bus, Device, Function)];
  Space.fill(0);
  return Space;
}

bool PciRootBridge::IsPresent(UINT8 Bus, UINT8 Device, UINT8 Function) const {
  return Functions.count(Key(Bus, Device, Function)) != 0;
}

PciRootBridge::ConfigSpace &PciRootBridge::Config(UINT8 Bus, UINT8 Device, UINT8 Function) {
  auto Found = Functions.find(Key(Bus, Device, Function));
  if (Found == Functions.end()) {
    Fail("configuration write to a function that was not added");
    return AddFunction(Bus, Device, Function);
  }
  return Found->second;
}

void PciRootBridge::Set8(UINT8 Bus, UINT8 Device, UINT8 Function, UINT32 Register, UINT8 Value) {
  if (Register >= ConfigSize) {
    Fail("configuration register out of range");
    return;
  }
  Config(Bus, Device, Function)[Register] = Value;
}

void PciRootBridge::Set16(UINT8 Bus, UINT8 Device, UINT8 Function, UINT32 Register, UINT16 Value) {
  Set8(Bus, Device, Function, Register, (UINT8)Value);
  Set8(Bus, Device, Function, Register + 1, (UINT8)(Value >> 8));
}

void PciRootBridge::AddBridge(UINT8 Bus, UINT8 Device, UINT8 Function, UINT8 SecondaryBus,
                              std::optional<UINT16> LinkStatus, UINT8 CapabilityOffset, bool MultiFunction) {
  AddFunction(Bus, Device, Function);
  Set16(Bus, Device, Function, 0x00, 0x8086);
  Set16(Bus, Device, Function, 0x02, 0x2030);
  Set8(Bus, Device, Function, 0x0A, 0x04);
  Set8(Bus, Device, Function, 0x0B, 0x06);
  Set8(Bus, Device, Function, 0x0E, (UINT8)(0x01 | (MultiFunction ? 0x80 : 0)));
  Set8(Bus, Device, Function, 0x18, Bus);
  Set8(Bus, Device, Function, 0x19, SecondaryBus);
  Set8(Bus, Device, Function, 0x1A, SecondaryBus);
  if (LinkStatus) {
    AddCapability(Bus, Device, Function, CapabilityOffset, 0x10, 0, true);
    Set16(Bus, Device, Function, (UINT32)CapabilityOffset + 0x12, *LinkStatus);
  }
}

void PciRootBridge::AddEndpoint(UINT8 Bus, UINT8 Device, UINT8 Function, const PciEndpointIds &Ids,
                                bool MultiFunction) {
  AddFunction(Bus, Device, Function);
  Set16(Bus, Device, Function, 0x00, Ids.VendorId);
  Set16(Bus, Device, Function, 0x02, Ids.DeviceId);
  Set8(Bus, Device, Function, 0x0A, Ids.SubClass);
  Set8(Bus, Device, Function, 0x0B, Ids.BaseClass);
  Set8(Bus, Device, Function, 0x0E, MultiFunction ? 0x80 : 0x00);
  Set16(Bus, Device, Function, 0x2C, Ids.SubSystemVendorId);
  Set16(Bus, Device, Function, 0x2E, Ids.SubSystemId);
}

void PciRootBridge::AddCapability(UINT8 Bus, UINT8 Device, UINT8 Function, UINT8 Offset, UINT8 Id, UINT8 Next,
                                  bool First) {
  Set8(Bus, Device, Function, Offset, Id);
  Set8(Bus, Device, Function, (UINT32)Offset + 1, Next);
  if (First) {
    Set8(Bus, Device, Function, 0x34, Offset);
    Set8(Bus, Device, Function, 0x06, (UINT8)(Config(Bus, Device, Function)[0x06] | 0x10));
  }
}

void PciRootBridge::DecodeBuses(UINT8 First, UINT8 Last) {
  FirstBus = First;
  LastBus = Last;
}

void PciRootBridge::ReportBuses(UINT8 First, UINT8 Last) {
  Report = BusReport::Own;
  ReportedFirst = First;
  ReportedLast = Last;
}

void PciRootBridge::ReportNoBusRange() { Report = BusReport::None; }

void PciRootBridge::RefuseConfiguration() { Report = BusReport::Unsupported; }

EFI_STATUS EFIAPI PciRootBridge::ConfigurationEntry(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *This, VOID **Resources) {
  if (This == nullptr) {
    Fail("PciRootBridgeIo.Configuration called with a null This");
    return EFI_INVALID_PARAMETER;
  }
  return reinterpret_cast<InstanceRecord *>(This)->Owner->Configuration(Resources);
}

// The descriptors live in the instance and stay valid until the next call: a caller that
// frees them frees memory the pool never handed out, which the pool reports.
EFI_STATUS PciRootBridge::Configuration(VOID **Resources) {
  ConfigurationCalls++;
  if (auto Injected = P.Faults().Check("PciRootBridgeIo.Configuration")) {
    return *Injected;
  }
  if (Resources == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (Report == BusReport::Unsupported) {
    return EFI_UNSUPPORTED;
  }
  Resources_.clear();
  AppendAddressSpace(Resources_, ACPI_ADDRESS_SPACE_TYPE_IO, 0, 0x6000, 0x4000);
  AppendAddressSpace(Resources_, ACPI_ADDRESS_SPACE_TYPE_MEM, 32, 0x80000000, 0x10000000);
  if (Report != BusReport::None) {
    const UINT8 First = Report == BusReport::Own ? ReportedFirst : FirstBus;
    const UINT8 Last = Report == BusReport::Own ? ReportedLast : LastBus;
    AppendAddressSpace(Resources_, ACPI_ADDRESS_SPACE_TYPE_BUS, 0, First, (UINT64)Last - First + 1);
  }
  Resources_.push_back(ACPI_END_TAG_DESCRIPTOR);
  Resources_.push_back(0);
  *Resources = Resources_.data();
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI PciRootBridge::PciReadEntry(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL *This,
                                              EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width, UINT64 Address, UINTN Count,
                                              VOID *Buffer) {
  if (This == nullptr) {
    Fail(Severity::Unsafe, "PciRootBridgeIo.Pci.Read called with a null This");
    return EFI_INVALID_PARAMETER;
  }
  return reinterpret_cast<InstanceRecord *>(This)->Owner->PciRead(Width, Address, Count, Buffer);
}

// Every read is counted, may be failed on purpose, and is logged while the platform keeps
// call logs. The member call in PciReadEntry checks the dynamic type of the instance the
// caller's This leads to; a scan calls these 65,536 times, so the same check is not
// repeated on each member access here.
__attribute__((no_sanitize("vptr"))) EFI_STATUS PciRootBridge::PciRead(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width,
                                                                       UINT64 Address, UINTN Count, VOID *Buffer) {
  const std::optional<EFI_STATUS> Injected = P.Faults().Check(ReadCounter);
  const EFI_STATUS Status = Injected ? *Injected : ReadConfig(Width, Address, Count, Buffer);
  if (P.Faults().KeepsCallLog()) {
    Log.push_back(Read{Width, Address, Count, Status});
  }
  return Status;
}

// Plain widths step the register with each element, FIFO widths read one register again
// and again, fill widths are for writes only.
__attribute__((no_sanitize("vptr"))) EFI_STATUS PciRootBridge::ReadConfig(EFI_PCI_ROOT_BRIDGE_IO_PROTOCOL_WIDTH Width,
                                                                          UINT64 Address, UINTN Count,
                                                                          VOID *Buffer) const {
  if (Buffer == nullptr || Width >= EfiPciWidthFillUint8 || Count == 0) {
    return EFI_INVALID_PARAMETER;
  }
  const UINT8 Bus = (UINT8)(Address >> 24);
  const UINT8 Device = (UINT8)(Address >> 16);
  const UINT8 Function = (UINT8)(Address >> 8);
  const UINT32 ExtendedRegister = (UINT32)(Address >> 32);
  const UINT32 Register = ExtendedRegister != 0 ? ExtendedRegister : (UINT32)(Address & 0xFF);
  if (Device > 31 || Function > 7 || Bus < FirstBus || Bus > LastBus) {
    return EFI_INVALID_PARAMETER;
  }
  const size_t Size = ElementSize(Width);
  const bool Fifo = Width >= EfiPciWidthFifoUint8;
  if (!Fifo && Register + Size * Count > ConfigSize) {
    return EFI_INVALID_PARAMETER;
  }
  if (Register + Size > ConfigSize) {
    return EFI_INVALID_PARAMETER;
  }
  auto Found = Functions.find(Key(Bus, Device, Function));
  const UINT8 *Space = Found == Functions.end() ? nullptr : Found->second.data();
  auto *Destination = static_cast<UINT8 *>(Buffer);
  // Byte stores rather than memset/memcpy calls: a scan reads one or two bytes at a time,
  // and each store is still checked against the caller's buffer.
  for (UINTN Index = 0; Index < Count; Index++) {
    const UINT32 At = Fifo ? Register : Register + (UINT32)(Index * Size);
    for (size_t Byte = 0; Byte < Size; Byte++) {
      Destination[Index * Size + Byte] = Space == nullptr ? 0xFF : Space[At + Byte];
    }
  }
  return EFI_SUCCESS;
}

}  // namespace sim
