#include "DecodeInventory.h"

#include <cstring>

#include "DecodeBytes.h"
#include "inventory/InventoryCheck.h"
#include <InventoryLayout.h>

namespace RosterDecode {
namespace {

// The three record kinds in the order the image carries their areas.
struct RecordKind {
  uint8_t RecordType;
  uint16_t BodyLength;
  size_t Size;
  size_t Capacity;
  const char *Name;
};

constexpr RecordKind kRecordKinds[] = {
    {RECORD_TYPE_CPU, CPU_RECORD_BODY_LENGTH, sizeof(CPU_RECORD), Number_Of_CPU, "processor"},
    {RECORD_TYPE_DIMM, DIMM_RECORD_BODY_LENGTH, sizeof(DIMM_RECORD), Number_Of_DIMM, "memory-device"},
    {RECORD_TYPE_PCI, PCI_RECORD_BODY_LENGTH, sizeof(PCI_RECORD), Number_Of_PCI, "PCI"},
};

template <typename T>
T ReadAt(ByteView Bytes, size_t Offset) {
  T Value;
  std::memcpy(&Value, Bytes.data() + Offset, sizeof(T));
  return Value;
}

std::string QuotedBytes(const uint8_t *Bytes, size_t Count) {
  std::string Text = "\"";
  for (size_t Index = 0; Index < Count; ++Index) {
    uint8_t Byte = Bytes[Index];
    Text += (Byte >= 0x20 && Byte < 0x7F && Byte != '"' && Byte != '\\') ? std::string(1, static_cast<char>(Byte))
                                                                         : Format("\\x%02x", Byte);
  }
  return Text + "\"";
}

void ReadHeader(const INVENTORY_HEADER &Raw, InventoryHeaderFacts &Header) {
  Header.Signature = Raw.Signature;
  Header.HeaderVersion = Raw.HeaderVersion;
  Header.HeaderSize = Raw.HeaderSize;
  Header.StoredCrc = Raw.Crc32;
  Header.BiosPresent = Raw.BiosPresent;
  Header.IdentityPresent = Raw.IdentityPresent;
  Header.BiosVersion = FieldText(Raw.BiosVersion, sizeof(Raw.BiosVersion));
  std::memcpy(Header.IdentityWords.data(), Raw.IdentityWords, sizeof(Raw.IdentityWords));
  std::memcpy(Header.IdentityWordsCopy.data(), Raw.IdentityWordsCopy, sizeof(Raw.IdentityWordsCopy));
  Header.CpuPresent = Raw.CpuPresent;
  Header.DimmPresent = Raw.DimmPresent;
  Header.PciPresent = Raw.PciPresent;
  Header.RecordCount = Raw.RecordCount;
}

ProcessorFacts ReadProcessor(const CPU_RECORD &Raw) {
  ProcessorFacts Cpu;
  Cpu.Instance = Raw.Header.Instance;
  Cpu.Status = Raw.Header.Status;
  Cpu.Name = FieldText(Raw.Header.Name, sizeof(Raw.Header.Name));
  Cpu.CoreCount = Raw.CoreCount;
  Cpu.ThreadCount = Raw.ThreadCount;
  Cpu.MaxSpeedMhz = Raw.MaxSpeed;
  Cpu.Vendor = FieldText(Raw.CpuVendor, sizeof(Raw.CpuVendor));
  Cpu.FamilyName = FieldText(Raw.CpuFamilyName, sizeof(Raw.CpuFamilyName));
  Cpu.Version = FieldText(Raw.CpuVersion, sizeof(Raw.CpuVersion));
  return Cpu;
}

MemoryDeviceFacts ReadMemoryDevice(const DIMM_RECORD &Raw) {
  MemoryDeviceFacts Dimm;
  Dimm.Instance = Raw.Header.Instance;
  Dimm.Status = Raw.Header.Status;
  Dimm.Locator = FieldText(Raw.Header.Name, sizeof(Raw.Header.Name));
  Dimm.SizeRaw = Raw.DimmSize;
  Dimm.SpeedRaw = Raw.DimmSpeed;
  Dimm.Manufacturer = FieldText(Raw.DimmManufacturer, sizeof(Raw.DimmManufacturer));
  Dimm.TypeText = FieldText(Raw.DimmTypeText, sizeof(Raw.DimmTypeText));
  Dimm.TypeDetailText = FieldText(Raw.DimmTypeDetailText, sizeof(Raw.DimmTypeDetailText));
  Dimm.Voltage = FieldText(Raw.DimmVoltage, sizeof(Raw.DimmVoltage));
  std::memcpy(Dimm.Serial.data(), Raw.DimmSerial, sizeof(Raw.DimmSerial));
  Dimm.PartNumber = FieldText(Raw.DimmPartNumber, sizeof(Raw.DimmPartNumber));
  return Dimm;
}

PciFunctionFacts ReadPciFunction(const PCI_RECORD &Raw) {
  PciFunctionFacts Pci;
  Pci.Instance = Raw.Header.Instance;
  Pci.Status = Raw.Header.Status;
  Pci.Name = FieldText(Raw.Header.Name, sizeof(Raw.Header.Name));
  Pci.DeviceOrdinal = Raw.DeviceOrdinal;
  Pci.Bus = Raw.Bus;
  Pci.Function = Raw.Fun;
  Pci.VendorId = Raw.VID;
  Pci.DeviceId = Raw.DevId;
  Pci.SubsystemVendorId = Raw.SubSystemVendorId;
  Pci.SubsystemId = Raw.SubSystemId;
  Pci.BaseClass = Raw.BaseClassCode;
  Pci.SubClass = Raw.SubClassCode;
  Pci.LinkSpeed = Raw.Link_Speed;
  Pci.LinkWidth = Raw.Link_Width;
  return Pci;
}

const RecordKind *FindKind(uint8_t RecordType) {
  for (const auto &Kind : kRecordKinds) {
    if (Kind.RecordType == RecordType) {
      return &Kind;
    }
  }
  return nullptr;
}

// Walks the records from the end of the header to End. Stops at the first record whose
// framing cannot be trusted: after it, no record boundary is known.
void WalkRecords(ByteView Image, size_t End, InventoryFacts &Facts) {
  size_t Offset = sizeof(INVENTORY_HEADER);
  size_t HighestArea = 0;
  while (Offset < End) {
    size_t Left = End - Offset;
    if (Left < sizeof(INVENTORY_RECORD_HEADER)) {
      Facts.Problems.push_back(Format("record at offset %zu: only %zu bytes left, a record header needs %zu", Offset,
                                      Left, sizeof(INVENTORY_RECORD_HEADER)));
      return;
    }
    auto Header = ReadAt<INVENTORY_RECORD_HEADER>(Image, Offset);
    if (Header.Marker != RECORD_MARKER) {
      Facts.Problems.push_back(Format("record at offset %zu: marker %s is not \"DE\"", Offset,
                                      QuotedBytes(Image.data() + Offset, 2).c_str()));
      return;
    }
    const RecordKind *Kind = FindKind(Header.RecordType);
    if (Kind == nullptr) {
      Facts.Problems.push_back(Format("record at offset %zu: unknown RecordType %u", Offset, Header.RecordType));
      return;
    }
    if (Header.BodyLength != Kind->BodyLength) {
      Facts.Problems.push_back(Format("record at offset %zu: BodyLength %u does not fit a %s record (%u)", Offset,
                                      Header.BodyLength, Kind->Name, Kind->BodyLength));
      return;
    }
    if (Left < Kind->Size) {
      Facts.Problems.push_back(Format("record at offset %zu: a %s record needs %zu bytes, only %zu left", Offset,
                                      Kind->Name, Kind->Size, Left));
      return;
    }

    size_t Area = static_cast<size_t>(Kind - kRecordKinds);
    if (Area < HighestArea) {
      Facts.Problems.push_back(Format("record at offset %zu: %s record after %s records", Offset, Kind->Name,
                                      kRecordKinds[HighestArea].Name));
    }
    HighestArea = Area > HighestArea ? Area : HighestArea;

    size_t Index = 0;
    if (Kind->RecordType == RECORD_TYPE_CPU) {
      Index = Facts.Processors.size();
      Facts.Processors.push_back(ReadProcessor(ReadAt<CPU_RECORD>(Image, Offset)));
    } else if (Kind->RecordType == RECORD_TYPE_DIMM) {
      Index = Facts.MemoryDevices.size();
      Facts.MemoryDevices.push_back(ReadMemoryDevice(ReadAt<DIMM_RECORD>(Image, Offset)));
    } else {
      Index = Facts.PciFunctions.size();
      Facts.PciFunctions.push_back(ReadPciFunction(ReadAt<PCI_RECORD>(Image, Offset)));
    }
    if (Index == Kind->Capacity) {
      Facts.Problems.push_back(
          Format("record at offset %zu: more than %zu %s records", Offset, Kind->Capacity, Kind->Name));
    }
    if (Header.Instance != Index) {
      Facts.Problems.push_back(Format("record at offset %zu: %s record Instance %u where %zu was expected", Offset,
                                      Kind->Name, Header.Instance, Index));
    }
    Offset += Kind->Size;
  }
}

void CheckPresentFlag(InventoryFacts &Facts, const char *Flag, uint8_t Value, size_t Count, const char *Kind) {
  if ((Value != 0) != (Count != 0)) {
    Facts.Problems.push_back(Format("%s %u disagrees with %zu %s records", Flag, Value, Count, Kind));
  }
}

void CheckCounts(InventoryFacts &Facts) {
  const auto &Header = Facts.Header;
  size_t Records = Facts.Processors.size() + Facts.MemoryDevices.size() + Facts.PciFunctions.size();
  if (Header.RecordCount != Records) {
    Facts.Problems.push_back(
        Format("RecordCount %u disagrees with the %zu records in the image", Header.RecordCount, Records));
  }
  CheckPresentFlag(Facts, "CpuPresent", Header.CpuPresent, Facts.Processors.size(), "processor");
  CheckPresentFlag(Facts, "DimmPresent", Header.DimmPresent, Facts.MemoryDevices.size(), "memory-device");
  CheckPresentFlag(Facts, "PciPresent", Header.PciPresent, Facts.PciFunctions.size(), "PCI");
}

}  // namespace

InventoryFacts DecodeInventory(ByteView Image) {
  InventoryFacts Facts;
  Facts.ImageSize = Image.size();
  if (Image.size() < sizeof(INVENTORY_HEADER)) {
    Facts.Problems.push_back(Format("too short for an inventory image: %zu bytes, the header alone has %zu",
                                    Image.size(), sizeof(INVENTORY_HEADER)));
    return Facts;
  }
  auto Raw = ReadAt<INVENTORY_HEADER>(Image, 0);
  if (Raw.Signature != INVENTORY_SIGNATURE) {
    Facts.Problems.push_back(Format("wrong signature %s at offset 3, an inventory image starts with \"SHIM\"",
                                    QuotedBytes(Image.data() + OFFSET_OF(INVENTORY_HEADER, Signature), 4).c_str()));
    return Facts;
  }
  Facts.HeaderDecoded = true;
  ReadHeader(Raw, Facts.Header);

  if (Raw.HeaderVersion != INVENTORY_HEADER_VERSION) {
    Facts.Problems.push_back(Format("HeaderVersion %u is not %u; read with the version %u layout", Raw.HeaderVersion,
                                    INVENTORY_HEADER_VERSION, INVENTORY_HEADER_VERSION));
  }
  // HeaderSize names the image's extent; when it disagrees with the bytes at hand, only the
  // bytes both agree on are read, and the CRC verdict speaks for itself.
  uint64_t Declared = static_cast<uint64_t>(Raw.HeaderSize) + INVENTORY_UNCOUNTED_PREFIX;
  if (Declared != Image.size()) {
    Facts.Problems.push_back(Format("HeaderSize %u makes a %llu-byte image, but there are %zu bytes", Raw.HeaderSize,
                                    static_cast<unsigned long long>(Declared), Image.size()));
  }
  size_t End = Declared < Image.size() ? static_cast<size_t>(Declared) : Image.size();
  if (End < sizeof(INVENTORY_HEADER)) {
    End = sizeof(INVENTORY_HEADER);
  }

  Facts.Header.ComputedCrc = inventory::ReceiverCrc(Image.first(End));
  Facts.Header.CrcMatches = Facts.Header.ComputedCrc == Facts.Header.StoredCrc;
  if (!Facts.Header.CrcMatches) {
    Facts.Problems.push_back(Format("CRC MISMATCH: stored 0x%08x, computed 0x%08x%s", Facts.Header.StoredCrc,
                                    Facts.Header.ComputedCrc,
                                    Facts.Header.StoredCrc == 0 ? " (a stored 0: the sender had no CRC)" : ""));
  }

  WalkRecords(Image, End, Facts);
  CheckCounts(Facts);
  return Facts;
}

}  // namespace RosterDecode
