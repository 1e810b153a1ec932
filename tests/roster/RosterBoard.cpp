#include "RosterBoard.h"

#include <cstdio>
#include <cstring>

namespace roster_test {

namespace {

void Put16(std::vector<UINT8> &Bytes, size_t Offset, UINT16 Value) {
  Bytes[Offset] = (UINT8)Value;
  Bytes[Offset + 1] = (UINT8)(Value >> 8);
}

void Put32(UINT8 *Bytes, UINT32 Value) {
  for (int Index = 0; Index < 4; Index++) {
    Bytes[Index] = (UINT8)(Value >> (8 * Index));
  }
}

void PutText(UINT8 *Field, size_t Width, const std::string &Text) {
  std::memcpy(Field, Text.data(), std::min(Width, Text.size()));
}

void PutRecordHeader(UINT8 *Record, UINT16 BodyLength, UINT8 Type, UINT8 Instance, UINT8 Status, UINT8 Kind) {
  Record[0] = 'D';
  Record[1] = 'E';
  Record[2] = (UINT8)BodyLength;
  Record[3] = (UINT8)(BodyLength >> 8);
  Record[4] = Type;
  Record[5] = Instance;
  Record[6] = Status;
  Record[7] = Kind;
  Record[8] = 64;
  Record[73] = (UINT8)(Instance + 1);
}

UINT8 HexValue(char Character) {
  const UINT8 Code = (UINT8)Character;
  return (UINT8)(Code < 0x3A ? Code - 0x30 : Code - 0x37);
}

std::string HexText(unsigned Value, int Digits) {
  char Text[16];
  std::snprintf(Text, sizeof(Text), "%0*X", Digits, Value);
  return Text;
}

}  // namespace

void AddBios(sim::SmbiosTable &Table, const BiosInfo &Bios) {
  std::vector<UINT8> Formatted(0x18, 0);
  Formatted[0] = 0;
  Formatted[4] = 1;  // vendor
  Formatted[5] = 2;  // BIOS version
  Formatted[8] = 3;  // release date
  Table.Add(Formatted, {Bios.Vendor, Bios.Version, "03/14/2025"});
}

void AddProcessor(sim::SmbiosTable &Table, const Processor &Cpu) {
  std::vector<UINT8> Formatted(0x2A, 0);
  Formatted[0] = 4;
  Formatted[0x04] = 1;  // socket
  Formatted[0x05] = 3;  // central processor
  Formatted[0x07] = 2;  // manufacturer
  Formatted[0x10] = 3;  // version
  Put16(Formatted, 0x14, Cpu.MaxSpeed);
  Put16(Formatted, 0x16, 2000);
  Formatted[0x23] = Cpu.CoreCount;
  Formatted[0x24] = Cpu.CoreCount;
  Formatted[0x25] = Cpu.ThreadCount;
  Table.Add(Formatted, {Cpu.Socket, Cpu.Manufacturer, Cpu.Version});
}

void AddMemoryDevice(sim::SmbiosTable &Table, const MemoryDevice &Dimm) {
  std::vector<UINT8> Formatted(0x28, 0);
  Formatted[0] = 17;
  Put16(Formatted, 0x08, 72);
  Put16(Formatted, 0x0A, 64);
  Put16(Formatted, 0x0C, Dimm.Size);
  Formatted[0x0E] = 0x09;
  Formatted[0x10] = 1;  // device locator
  Formatted[0x11] = 2;  // bank locator
  Formatted[0x12] = Dimm.MemoryType;
  Put16(Formatted, 0x13, Dimm.TypeDetail);
  Put16(Formatted, 0x15, Dimm.Speed);
  Formatted[0x17] = 3;  // manufacturer
  Formatted[0x18] = 4;  // serial number
  Formatted[0x19] = 5;  // asset tag
  Formatted[0x1A] = 6;  // part number
  Table.Add(Formatted, {Dimm.Locator, Dimm.Bank, Dimm.Manufacturer, Dimm.Serial, "Asset", Dimm.PartNumber});
}

void AddOther(sim::SmbiosTable &Table, UINT8 Type) {
  std::vector<UINT8> Formatted(Type == 127 ? 4 : 0x13, 0);
  Formatted[0] = Type;
  Table.Add(Formatted, {});
}

void AddEndpointBehindBridge(sim::PciRootBridge &Pci, const EndpointBehindBridge &Layout,
                             std::vector<PciExpectation> *Expected) {
  Pci.AddBridge(Layout.BridgeBus, Layout.BridgeDevice, Layout.BridgeFunction, Layout.EndpointBus, Layout.LinkStatus);
  for (UINT8 Function = 0; Function < Layout.Functions; Function++) {
    sim::PciEndpointIds Ids{0x15B3, (UINT16)(Layout.FirstDeviceId + Function),       0x02, 0x00,
                            0x15B3, (UINT16)(0x0100 + Layout.EndpointBus + Function)};
    Pci.AddEndpoint(Layout.EndpointBus, 0, Function, Ids, Layout.Functions > 1);
    if (Expected != nullptr) {
      const UINT16 Link = Layout.LinkStatus.value_or(0);
      Expected->push_back(
          PciExpectation{Layout.EndpointBus, Function, Ids, (UINT8)(Link & 0xF), (UINT8)((Link >> 4) & 0x3F)});
    }
  }
}

std::vector<UINT8> BuildExpectedImage(const ExpectedInventory &Board) {
  const size_t Total = 67 + 230 * Board.Processors.size() + 752 * Board.MemoryDevices.size() + 563 * Board.Pci.size();
  std::vector<UINT8> Image(Total, 0);
  UINT8 *Header = Image.data();
  std::memcpy(Header + 3, "SHIM", 4);
  Put32(Header + 7, 1);
  Put32(Header + 11, (UINT32)(Total - 3));
  if (Board.Bios) {
    Header[23] = 1;
    PutText(Header + 25, 16, Board.Bios->Version);
  }
  if (Board.Identity) {
    const UINT16 Words[4] = {Board.Identity->Word6, Board.Identity->Word4, Board.Identity->Word10,
                             Board.Identity->Word8};
    for (int Copy = 0; Copy < 2; Copy++) {
      for (int Index = 0; Index < 4; Index++) {
        Header[41 + 10 * Copy + 2 * Index] = (UINT8)Words[Index];
        Header[42 + 10 * Copy + 2 * Index] = (UINT8)(Words[Index] >> 8);
      }
    }
    Header[24] = 1;
  }
  Header[61] = Board.Processors.empty() ? 0 : 1;
  Header[62] = Board.MemoryDevices.empty() ? 0 : 1;
  Header[63] = Board.Pci.empty() ? 0 : 1;
  Header[64] = (UINT8)(Board.Processors.size() + Board.MemoryDevices.size() + Board.Pci.size());

  size_t Offset = 67;
  for (size_t Index = 0; Index < Board.Processors.size(); Index++, Offset += 230) {
    const Processor &Cpu = Board.Processors[Index];
    UINT8 *Record = &Image[Offset];
    PutRecordHeader(Record, 157, 1, (UINT8)Index, Cpu.CoreCount != 0 ? 0x81 : 0, 0);
    std::memcpy(Record + 9, Index == 0 ? "(CPU_0)" : "(CPU_1)", 8);
    Record[74] = Cpu.CoreCount;
    Record[75] = Cpu.ThreadCount;
    Put32(Record + 84, Cpu.MaxSpeed);
    std::memcpy(Record + 88, "Intel", 6);
    std::memcpy(Record + 104, "Intel Xeon processor", 21);
    PutText(Record + 164, 66, Cpu.Version);
  }
  for (size_t Index = 0; Index < Board.MemoryDevices.size(); Index++, Offset += 752) {
    const MemoryDevice &Dimm = Board.MemoryDevices[Index];
    UINT8 *Record = &Image[Offset];
    PutRecordHeader(Record, 679, 8, (UINT8)Index, Dimm.Size != 0 ? 0x81 : 0, 0);
    PutText(Record + 9, 64, Dimm.Locator);
    Record[74] = (UINT8)Dimm.Size;
    Record[75] = (UINT8)(Dimm.Size >> 8);
    Record[76] = (UINT8)Dimm.Speed;
    Record[77] = (UINT8)(Dimm.Speed >> 8);
    PutText(Record + 78, 30, Dimm.Manufacturer);
    PutText(Record + 108, 2, HexText(Dimm.MemoryType, 2));
    PutText(Record + 118, 4, HexText(Dimm.TypeDetail, 4));
    std::memcpy(Record + 128, "1.2V", 5);
    if (Dimm.MemoryType != 0x02) {
      for (size_t Byte = 0; Byte < 4; Byte++) {
        const UINT8 High = 2 * Byte < Dimm.Serial.size() ? HexValue(Dimm.Serial[2 * Byte]) : 0;
        const UINT8 Low = 2 * Byte + 1 < Dimm.Serial.size() ? HexValue(Dimm.Serial[2 * Byte + 1]) : 0;
        Record[138 + Byte] = (UINT8)(High * 16 + Low);
      }
    }
    PutText(Record + 142, 610, Dimm.PartNumber);
  }
  for (size_t Index = 0; Index < Board.Pci.size(); Index++, Offset += 563) {
    const PciExpectation &Function = Board.Pci[Index];
    UINT8 *Record = &Image[Offset];
    PutRecordHeader(Record, 490, 32, (UINT8)Index, 0x81, 1);
    char Name[64] = {};
    std::snprintf(Name, sizeof(Name), "Bus=%2X Dev=%2X Fun=%2X", Function.Bus, 0, Function.Function);
    std::memcpy(Record + 9, Name, sizeof(Name));
    Record[75] = (UINT8)(Index + 1);
    Record[78] = Function.Bus;
    Record[79] = Function.Function;
    const UINT16 Words[4] = {Function.Ids.VendorId, Function.Ids.DeviceId, Function.Ids.SubSystemVendorId,
                             Function.Ids.SubSystemId};
    for (int Word = 0; Word < 4; Word++) {
      Record[80 + 2 * Word] = (UINT8)Words[Word];
      Record[81 + 2 * Word] = (UINT8)(Words[Word] >> 8);
    }
    Record[90] = Function.Ids.SubClass;
    Record[91] = Function.Ids.BaseClass;
    Record[537] = Function.LinkSpeed;
    Record[538] = Function.LinkWidth;
  }
  Put32(Header + 15, Crc32(Image.data() + 3, Image.size() - 3));
  return Image;
}

std::vector<UINT8> EmptyPortMessage(UINT8 SataIndex, UINT8 PortId) {
  std::vector<UINT8> Message(65, 0);
  Message[0] = SataIndex;
  Message[1] = PortId;
  return Message;
}

std::vector<UINT8> DriveMessage(UINT8 SataIndex, UINT8 PortId, const std::string &Model, const std::string &Serial,
                                UINT16 Gigabytes) {
  std::vector<UINT8> Message(65, 0);
  Message[0] = SataIndex;
  Message[1] = PortId;
  Message[2] = 1;
  std::string PaddedModel = Model;
  PaddedModel.resize(39, ' ');
  std::memcpy(&Message[3], PaddedModel.data(), 39);
  PutText(&Message[43], 20, Serial);
  Message[63] = (UINT8)(Gigabytes >> 8);
  Message[64] = (UINT8)Gigabytes;
  return Message;
}

sim::DiskInfoSetup AhciDisk(bool SSata, UINT8 Port, const sim::IdentifyData &Identify) {
  sim::DiskInfoSetup Setup;
  Setup.DevicePath = SSata ? sim::SataDevicePath(0x11, 5, Port) : sim::SataDevicePath(0x17, 0, Port);
  Setup.IdeChannel = Port;
  Setup.Identify = Identify.Bytes();
  return Setup;
}

FullBoard BuildFullBoard(sim::Platform &P, bool WithDisks) {
  FullBoard Board;
  Board.Smbios = &P.Add<sim::SmbiosTable>(P);
  Board.Pci = &P.Add<sim::PciRootBridge>(P);
  Board.Transport = &P.Add<sim::ManagementTransport>(P);
  ExpectedInventory &Expected = Board.Expected;

  // SMBIOS: BIOS, system, two processors, a cache, twelve memory devices, end of table.
  Expected.Bios = BiosInfo{};
  AddBios(*Board.Smbios, *Expected.Bios);
  AddOther(*Board.Smbios, 1);
  for (int Socket = 0; Socket < 2; Socket++) {
    Processor Cpu;
    Cpu.Socket = "CPU" + std::to_string(Socket);
    Cpu.CoreCount = (UINT8)(28 + Socket);
    Cpu.ThreadCount = (UINT8)(56 + 2 * Socket);
    Cpu.MaxSpeed = (UINT16)(3500 + Socket);
    AddProcessor(*Board.Smbios, Cpu);
    Expected.Processors.push_back(Cpu);
  }
  AddOther(*Board.Smbios, 7);
  for (int Slot = 0; Slot < 12; Slot++) {
    MemoryDevice Dimm;
    Dimm.Locator = "CPU" + std::to_string(Slot / 6) + "_DIMM_" + (char)('A' + Slot % 6) + "1";
    Dimm.Serial = HexText(0x1A2B3C00u + (unsigned)Slot, 8);
    Dimm.PartNumber = "M393A4K40DB3-CWE" + std::to_string(Slot);
    if (Slot % 4 == 3) {  // empty slots are recorded too
      Dimm.Size = 0;
      Dimm.Speed = 0;
      Dimm.MemoryType = 0x02;
      Dimm.TypeDetail = 0x0004;
      Dimm.Manufacturer = "NO DIMM";
      Dimm.Serial = "NO DIMM";
      Dimm.PartNumber = "NO DIMM";
    }
    AddMemoryDevice(*Board.Smbios, Dimm);
    Expected.MemoryDevices.push_back(Dimm);
  }
  AddOther(*Board.Smbios, 127);

  // PCI: host bridge, chipset functions, root ports with endpoints, a switch, a
  // system-peripheral endpoint and a multi-function chipset device whose 0x19 byte is no
  // bus number.
  sim::PciRootBridge &Pci = *Board.Pci;
  Pci.AddEndpoint(0, 0, 0, {0x8086, 0x09A2, 0x06, 0x00, 0x8086, 0x0000});
  Pci.AddEndpoint(0, 0x11, 5, {0x8086, 0xA1D2, 0x01, 0x06, 0x8086, 0x7270});
  Pci.AddEndpoint(0, 0x17, 0, {0x8086, 0xA182, 0x01, 0x06, 0x8086, 0x7270});
  Pci.AddEndpoint(0, 0x1F, 0, {0x8086, 0xA1CB, 0x06, 0x01, 0x8086, 0x7270}, true);
  Pci.Set8(0, 0x1F, 0, 0x19, 0x50);
  Pci.AddEndpoint(0x50, 0, 0, {0x1234, 0x5678, 0x02, 0x00, 0x1234, 0x0001});

  AddEndpointBehindBridge(Pci, {0, 0x01, 0, 0x10, 0x3103, 4, 0x1017}, &Expected.Pci);
  Pci.AddCapability(0, 0x01, 0, 0x50, 0x01, 0x40, true);  // power management first, then PCI Express
  AddEndpointBehindBridge(Pci, {0, 0x02, 0, 0x20, 0x1084, 4, 0x2017}, &Expected.Pci);
  AddEndpointBehindBridge(Pci, {0, 0x03, 0, 0x30, 0x0042, 4, 0x3017}, &Expected.Pci);
  AddEndpointBehindBridge(Pci, {0, 0x1C, 0, 0x3B, std::nullopt, 4, 0x4017}, &Expected.Pci);
  Pci.AddBridge(0, 0x1C, 4, 0x40, sim::PciRootBridge::LinkStatus(1, 1));  // leads to a switch
  Pci.AddBridge(0, 0x1D, 0, 0x60, sim::PciRootBridge::LinkStatus(3, 2));
  Pci.AddEndpoint(0x60, 0, 0, {0x8086, 0x0998, 0x08, 0x80, 0x8086, 0x0000});
  AddEndpointBehindBridge(Pci, {0, 0x1E, 0, 0x70, 0x1044, 4, 0x5017}, &Expected.Pci);
  AddEndpointBehindBridge(Pci, {0x40, 0x00, 0, 0x41, 0x1083, 4, 0x6017}, &Expected.Pci);

  P.Add<sim::PlatformIdentity>(P, 0x1122, 0x3344, 0x5566, 0x7788);
  Expected.Identity = IdentityWords{0x1122, 0x3344, 0x5566, 0x7788};

  if (WithDisks) {
    P.Add<sim::DiskInfoDisk>(
        P, AhciDisk(false, 1, sim::IdentifyData().Model("SATA SSD 1TB").Serial("S1SERIAL").Sectors48(1953525168)));
    sim::DiskInfoSetup Nvme;
    Nvme.Interface = gEfiDiskInfoNvmeInterfaceGuid;
    P.Add<sim::DiskInfoDisk>(P, Nvme);
    P.Add<sim::DiskInfoDisk>(
        P, AhciDisk(true, 2, sim::IdentifyData().Model("SSATA HDD 4TB").Serial("  ZC1234").Sectors48(7814037168)));
  }
  return Board;
}

std::vector<std::vector<UINT8>> SataMessages(const sim::ManagementTransport &Transport) {
  std::vector<std::vector<UINT8>> Messages;
  for (const auto &Each : Transport.RequestsOf(sim::ManagementTransport::Member::SendCommand)) {
    Messages.push_back(Each.Data);
  }
  return Messages;
}

std::vector<std::vector<UINT8>> InventoryImages(const sim::ManagementTransport &Transport) {
  std::vector<std::vector<UINT8>> Images;
  for (const auto &Each : Transport.RequestsOf(sim::ManagementTransport::Member::SendLargeCommand)) {
    Images.push_back(Each.Data);
  }
  return Images;
}

}  // namespace roster_test
