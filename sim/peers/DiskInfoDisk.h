// A disk as the Disk Info protocol describes it: its interface GUID, the device path of
// its handle, the WhichIde answer and 512 bytes of ATA IDENTIFY data.
#pragma once

#include <sim/Platform.h>

#include <array>
#include <string>
#include <vector>

namespace sim {

// Builds IDENTIFY DEVICE data. Strings are stored as ATA stores them: two characters per
// word, the first in the high byte, blank-padded.
class IdentifyData {
 public:
  IdentifyData();
  IdentifyData &Model(const std::string &Text);  // words 27..46
  IdentifyData &Serial(const std::string &Text);  // words 10..19
  IdentifyData &SerialBytes(const std::array<UINT8, 20> &Bytes);  // bytes 20..39 as stored
  IdentifyData &Sectors28(UINT32 Count);  // words 60..61, 48-bit support cleared
  IdentifyData &Sectors48(UINT64 Count);  // words 100..103, word 83 bit 10 set
  IdentifyData &LogicalSectorWords(UINT32 Words);  // word 106 = 0x5000, words 117..118
  IdentifyData &Word(size_t Index, UINT16 Value);
  IdentifyData &Atapi();  // word 0 bit 15
  const std::array<UINT8, 512> &Bytes() const { return Data; }

 private:
  IdentifyData &Text(size_t FirstWord, size_t Words, const std::string &Text);
  std::array<UINT8, 512> Data{};
};

// Device path of a disk behind the chipset's AHCI controller at PCI Device/Function:
// PciRoot(0) / Pci(Device, Function) / Sata(Port, 0xFFFF, 0) / End.
std::vector<UINT8> SataDevicePath(UINT8 Device, UINT8 Function, UINT16 Port);

struct DiskInfoSetup {
  EFI_GUID Interface = gEfiDiskInfoAhciInterfaceGuid;
  std::vector<UINT8> DevicePath;  // empty: no device path protocol on the handle
  UINT32 IdeChannel = 0;
  UINT32 IdeDevice = 0;
  EFI_STATUS WhichIdeStatus = EFI_SUCCESS;
  std::array<UINT8, 512> Identify{};
  EFI_STATUS IdentifyStatus = EFI_SUCCESS;
};

class DiskInfoDisk : public Peer {
 public:
  // Installs Disk Info (and the device path, when given) on a new handle.
  DiskInfoDisk(Platform &P, DiskInfoSetup Setup);

  EFI_HANDLE Handle() const { return Handle_; }
  EFI_DISK_INFO_PROTOCOL *Interface() { return &Instance_.Protocol; }
  unsigned IdentifyCalls() const { return Identifies; }
  unsigned WhichIdeCalls() const { return WhichIdes; }
  // The IdentifyDataSize the caller offered on its last Identify call.
  UINT32 LastIdentifySizeOffered() const { return LastOffered; }

 private:
  struct InstanceRecord {
    EFI_DISK_INFO_PROTOCOL Protocol;
    DiskInfoDisk *Owner;
  };
  static DiskInfoDisk *From(EFI_DISK_INFO_PROTOCOL *This, const char *Member);
  static EFI_STATUS EFIAPI IdentifyEntry(EFI_DISK_INFO_PROTOCOL *This, VOID *Data, UINT32 *Size);
  static EFI_STATUS EFIAPI WhichIdeEntry(EFI_DISK_INFO_PROTOCOL *This, UINT32 *Channel, UINT32 *Device);

  Platform &P;
  DiskInfoSetup Setup_;
  InstanceRecord Instance_{};
  EFI_HANDLE Handle_ = nullptr;
  unsigned Identifies = 0;
  unsigned WhichIdes = 0;
  UINT32 LastOffered = 0;
};

}  // namespace sim
