#include "DecodeTestImages.h"

#include <cstdio>
#include <cstring>

namespace DecodeTest {
namespace {

INVENTORY_RECORD_HEADER RecordHeader(uint16_t Body, uint8_t Type, uint8_t Instance, uint8_t Status, uint8_t Kind) {
  INVENTORY_RECORD_HEADER Header{};
  Header.Marker = RECORD_MARKER;
  Header.BodyLength = Body;
  Header.RecordType = Type;
  Header.Instance = Instance;
  Header.Status = Status;
  Header.Kind = Kind;
  Header.NameLength = RECORD_NAME_LENGTH;
  Header.Ordinal = static_cast<uint8_t>(Instance + 1);
  return Header;
}

template <typename T>
void Append(Bytes &Image, const T &Value) {
  auto *Raw = reinterpret_cast<const uint8_t *>(&Value);
  Image.insert(Image.end(), Raw, Raw + sizeof(T));
}

}  // namespace

CPU_RECORD MakeCpu(uint8_t Instance, uint8_t Cores, uint8_t Threads, uint32_t MaxSpeed, const std::string &Version) {
  CPU_RECORD Cpu{};
  Cpu.Header = RecordHeader(CPU_RECORD_BODY_LENGTH, RECORD_TYPE_CPU, Instance, Cores ? 0x81 : 0, 0);
  PutText(Cpu.Header.Name, Instance == 0 ? "(CPU_0)" : "(CPU_1)");
  Cpu.CoreCount = Cores;
  Cpu.ThreadCount = Threads;
  Cpu.MaxSpeed = MaxSpeed;
  PutText(Cpu.CpuVendor, "Intel");
  PutText(Cpu.CpuFamilyName, "Intel Xeon processor");
  PutText(Cpu.CpuVersion, Version);
  return Cpu;
}

DIMM_RECORD MakeDimm(uint8_t Instance, const std::string &Locator, uint16_t Size, uint16_t Speed,
                     const std::string &Manufacturer, const std::string &TypeText, const std::string &DetailText,
                     const std::array<uint8_t, 4> &Serial, const std::string &PartNumber) {
  DIMM_RECORD Dimm{};
  Dimm.Header = RecordHeader(DIMM_RECORD_BODY_LENGTH, RECORD_TYPE_DIMM, Instance, Size ? 0x81 : 0, 0);
  PutText(Dimm.Header.Name, Locator);
  Dimm.DimmSize = Size;
  Dimm.DimmSpeed = Speed;
  PutText(Dimm.DimmManufacturer, Manufacturer);
  PutText(Dimm.DimmTypeText, TypeText);
  PutText(Dimm.DimmTypeDetailText, DetailText);
  PutText(Dimm.DimmVoltage, "1.2V");
  std::memcpy(Dimm.DimmSerial, Serial.data(), 4);
  PutText(Dimm.DimmPartNumber, PartNumber);
  return Dimm;
}

PCI_RECORD MakePci(uint8_t Instance, uint8_t Bus, uint8_t Fun, uint16_t Vid, uint16_t Did, uint16_t Svid, uint16_t Sid,
                   uint8_t BaseClass, uint8_t SubClass, uint8_t LinkSpeed, uint8_t LinkWidth) {
  PCI_RECORD Pci{};
  Pci.Header = RecordHeader(PCI_RECORD_BODY_LENGTH, RECORD_TYPE_PCI, Instance, 0x81, 1);
  char Name[80];
  std::snprintf(Name, sizeof(Name), "Bus=%2X Dev=%2X Fun=%2X", Bus, 0, Fun);
  PutText(Pci.Header.Name, Name);
  Pci.DeviceOrdinal = static_cast<uint8_t>(Instance + 1);
  Pci.Bus = Bus;
  Pci.Fun = Fun;
  Pci.VID = Vid;
  Pci.DevId = Did;
  Pci.SubSystemVendorId = Svid;
  Pci.SubSystemId = Sid;
  Pci.BaseClassCode = BaseClass;
  Pci.SubClassCode = SubClass;
  Pci.Link_Speed = LinkSpeed;
  Pci.Link_Width = LinkWidth;
  return Pci;
}

void Seal(Bytes &Image) {
  uint32_t HeaderSize = static_cast<uint32_t>(Image.size() - INVENTORY_UNCOUNTED_PREFIX);
  std::memcpy(Image.data() + OFFSET_OF(INVENTORY_HEADER, HeaderSize), &HeaderSize, 4);
  std::memset(Image.data() + OFFSET_OF(INVENTORY_HEADER, Crc32), 0, 4);
  uint32_t Crc = crc32::Crc32(Image.data() + INVENTORY_UNCOUNTED_PREFIX, HeaderSize);
  std::memcpy(Image.data() + OFFSET_OF(INVENTORY_HEADER, Crc32), &Crc, 4);
}

Bytes BuildImage(const ImageParts &Parts) {
  INVENTORY_HEADER Header{};
  Header.Signature = INVENTORY_SIGNATURE;
  Header.HeaderVersion = INVENTORY_HEADER_VERSION;
  Header.BiosPresent = 1;
  PutText(Header.BiosVersion, Parts.BiosVersion);
  if (Parts.Identity) {
    Header.IdentityPresent = 1;
    std::memcpy(Header.IdentityWords, Parts.IdentityWords, 8);
    std::memcpy(Header.IdentityWordsCopy, Parts.IdentityWords, 8);
  }
  Header.CpuPresent = !Parts.Cpus.empty();
  Header.DimmPresent = !Parts.Dimms.empty();
  Header.PciPresent = !Parts.Pcis.empty();
  Header.RecordCount = static_cast<uint8_t>(Parts.Cpus.size() + Parts.Dimms.size() + Parts.Pcis.size());

  Bytes Image;
  Append(Image, Header);
  for (const auto &Cpu : Parts.Cpus) Append(Image, Cpu);
  for (const auto &Dimm : Parts.Dimms) Append(Image, Dimm);
  for (const auto &Pci : Parts.Pcis) Append(Image, Pci);
  Seal(Image);
  return Image;
}

ImageParts FullBoard() {
  ImageParts Parts;
  Parts.Cpus.push_back(MakeCpu(0, 28, 56, 4000, "Xeon Test CPU @ 2.70GHz"));
  Parts.Cpus.push_back(MakeCpu(1, 24, 48, 3800, "Xeon Test CPU @ 2.40GHz"));

  Parts.Dimms.push_back(
      MakeDimm(0, "DIMM_A1", 16384, 2933, "Acme Memory", "1A", "0080", {0x1A, 0x2B, 0x3C, 0x4D}, "ACM16G-2933R"));
  Parts.Dimms.push_back(MakeDimm(1, "DIMM_A2", 0, 0, "", "02", "0002", {0, 0, 0, 0}, ""));
  // A locator of exactly 64 characters leaves no terminator inside the record header.
  // 32 GB and more are told through the extended size, which the record does not carry.
  Parts.Dimms.push_back(MakeDimm(2, std::string(64, 'L'), 0x7FFF, 4800, "Acme Memory", "22", "2080",
                                 {0x00, 0x00, 0xAB, 0xCD}, "ACM32G-4800R"));
  for (uint8_t Index = 3; Index < Number_Of_DIMM; ++Index) {
    Parts.Dimms.push_back(MakeDimm(Index, "DIMM_X" + std::to_string(Index), 8192, 2666, "Other Vendor", "18", "0080",
                                   {Index, 0, 0, 1}, "OV8G"));
  }

  Parts.Pcis.push_back(MakePci(0, 0x3B, 1, 0x8086, 0x10D3, 0x8086, 0x0000, 0x02, 0x00, 3, 16));
  for (uint8_t Index = 1; Index < Number_Of_PCI; ++Index) {
    Parts.Pcis.push_back(MakePci(Index, static_cast<uint8_t>(0x40 + Index), 0, 0x1AF4, 0x1041, 0x1AF4, 0x1100, 0x01,
                                 0x08, static_cast<uint8_t>(Index % 7), 4));
  }
  return Parts;
}

Bytes SataMessage(uint8_t Index, uint8_t Port, uint8_t Present, const std::string &Model, const std::string &Serial,
                  uint16_t Gigabytes) {
  SATA_INFO Info{};
  Info.SataIndex = Index;
  Info.SataPort = Port;
  Info.SataPresent = Present;
  PutText(Info.ModelNumber, Model);
  PutText(Info.SerialNumber, Serial);
  Info.HddSize[0] = static_cast<uint8_t>(Gigabytes >> 8);
  Info.HddSize[1] = static_cast<uint8_t>(Gigabytes);
  Bytes Message(sizeof(Info));
  std::memcpy(Message.data(), &Info, sizeof(Info));
  return Message;
}

}  // namespace DecodeTest
