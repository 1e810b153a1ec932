#include "DiskInfoDisk.h"

#include "../ServiceEntry.h"

#include <cstring>

namespace sim {

namespace {

void PutWord(std::array<UINT8, 512> &Data, size_t Index, UINT16 Value) {
  Data[2 * Index] = (UINT8)Value;
  Data[2 * Index + 1] = (UINT8)(Value >> 8);
}

UINT16 GetWord(const std::array<UINT8, 512> &Data, size_t Index) {
  return (UINT16)(Data[2 * Index] | (Data[2 * Index + 1] << 8));
}

}  // namespace

IdentifyData::IdentifyData() { PutWord(Data, 0, 0x0040); }

IdentifyData &IdentifyData::Text(size_t FirstWord, size_t Words, const std::string &Value) {
  std::string Padded = Value;
  Padded.resize(Words * 2, ' ');
  for (size_t Index = 0; Index < Words; Index++) {
    Data[2 * (FirstWord + Index)] = (UINT8)Padded[2 * Index + 1];
    Data[2 * (FirstWord + Index) + 1] = (UINT8)Padded[2 * Index];
  }
  return *this;
}

IdentifyData &IdentifyData::Model(const std::string &Value) { return Text(27, 20, Value); }
IdentifyData &IdentifyData::Serial(const std::string &Value) { return Text(10, 10, Value); }

IdentifyData &IdentifyData::SerialBytes(const std::array<UINT8, 20> &Bytes) {
  std::memcpy(&Data[20], Bytes.data(), Bytes.size());
  return *this;
}

IdentifyData &IdentifyData::Sectors28(UINT32 Count) {
  PutWord(Data, 60, (UINT16)Count);
  PutWord(Data, 61, (UINT16)(Count >> 16));
  PutWord(Data, 83, (UINT16)(GetWord(Data, 83) & ~0x0400));
  return *this;
}

IdentifyData &IdentifyData::Sectors48(UINT64 Count) {
  for (size_t Index = 0; Index < 4; Index++) {
    PutWord(Data, 100 + Index, (UINT16)(Count >> (16 * Index)));
  }
  PutWord(Data, 83, (UINT16)(GetWord(Data, 83) | 0x0400));
  return *this;
}

IdentifyData &IdentifyData::LogicalSectorWords(UINT32 Words) {
  PutWord(Data, 106, 0x5000);
  PutWord(Data, 117, (UINT16)Words);
  PutWord(Data, 118, (UINT16)(Words >> 16));
  return *this;
}

IdentifyData &IdentifyData::Word(size_t Index, UINT16 Value) {
  if (Index >= 256) {
    Fail("IDENTIFY word out of range");
    return *this;
  }
  PutWord(Data, Index, Value);
  return *this;
}

IdentifyData &IdentifyData::Atapi() {
  PutWord(Data, 0, (UINT16)(GetWord(Data, 0) | 0x8000));
  return *this;
}

std::vector<UINT8> SataDevicePath(UINT8 Device, UINT8 Function, UINT16 Port) {
  return {
      0x02, 0x01, 12, 0, 0xD0,        0x41,
      0x03, 0x0A, 0,  0, 0,           0,  // PciRoot(0)
      0x01, 0x01, 6,  0, Function,    Device,  // Pci(Device, Function)
      0x03, 0x12, 10, 0, (UINT8)Port, (UINT8)(Port >> 8),
      0xFF, 0xFF, 0,  0,  // Sata(Port, 0xFFFF, 0)
      0x7F, 0xFF, 4,  0,  // End
  };
}

DiskInfoDisk::DiskInfoDisk(Platform &Owner, DiskInfoSetup Setup) : P(Owner), Setup_(std::move(Setup)) {
  Instance_.Protocol.Interface = Setup_.Interface;
  SIM_UNEXPECTED_NAMED(Instance_.Protocol, Inquiry, "DiskInfo.Inquiry");
  Instance_.Protocol.Identify = IdentifyEntry;
  SIM_UNEXPECTED_NAMED(Instance_.Protocol, SenseData, "DiskInfo.SenseData");
  Instance_.Protocol.WhichIde = WhichIdeEntry;
  Instance_.Owner = this;
  if (EFI_ERROR(P.InstallProtocol(&Handle_, gEfiDiskInfoProtocolGuid, &Instance_.Protocol))) {
    Fail("Disk Info install failed");
    return;
  }
  if (!Setup_.DevicePath.empty() &&
      EFI_ERROR(P.InstallProtocol(&Handle_, gEfiDevicePathProtocolGuid, Setup_.DevicePath.data()))) {
    Fail("device path install failed");
  }
}

DiskInfoDisk *DiskInfoDisk::From(EFI_DISK_INFO_PROTOCOL *This, const char *Member) {
  if (This == nullptr) {
    Fail(Severity::Unsafe, std::string("DiskInfo.") + Member + " called with a null This");
    return nullptr;
  }
  return reinterpret_cast<InstanceRecord *>(This)->Owner;
}

EFI_STATUS EFIAPI DiskInfoDisk::IdentifyEntry(EFI_DISK_INFO_PROTOCOL *This, VOID *Data, UINT32 *Size) {
  DiskInfoDisk *Disk = From(This, "Identify");
  if (Disk == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  Disk->Identifies++;
  if (auto Injected = Disk->P.Faults().Check("DiskInfo.Identify")) {
    return *Injected;
  }
  if (Size == nullptr || Data == nullptr) {
    Fail("DiskInfo.Identify needs a buffer and a size");
    return EFI_INVALID_PARAMETER;
  }
  Disk->LastOffered = *Size;
  if (EFI_ERROR(Disk->Setup_.IdentifyStatus)) {
    return Disk->Setup_.IdentifyStatus;
  }
  // As EDK II's ATA bus driver: a buffer smaller than the data is refused with the size.
  if (*Size < Disk->Setup_.Identify.size()) {
    *Size = (UINT32)Disk->Setup_.Identify.size();
    return EFI_BUFFER_TOO_SMALL;
  }
  std::memcpy(Data, Disk->Setup_.Identify.data(), Disk->Setup_.Identify.size());
  *Size = (UINT32)Disk->Setup_.Identify.size();
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI DiskInfoDisk::WhichIdeEntry(EFI_DISK_INFO_PROTOCOL *This, UINT32 *Channel, UINT32 *Device) {
  DiskInfoDisk *Disk = From(This, "WhichIde");
  if (Disk == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  Disk->WhichIdes++;
  if (auto Injected = Disk->P.Faults().Check("DiskInfo.WhichIde")) {
    return *Injected;
  }
  if (Channel == nullptr || Device == nullptr) {
    Fail("DiskInfo.WhichIde needs both outputs");
    return EFI_INVALID_PARAMETER;
  }
  if (EFI_ERROR(Disk->Setup_.WhichIdeStatus)) {
    return Disk->Setup_.WhichIdeStatus;
  }
  *Channel = Disk->Setup_.IdeChannel;
  *Device = Disk->Setup_.IdeDevice;
  return EFI_SUCCESS;
}

}  // namespace sim
