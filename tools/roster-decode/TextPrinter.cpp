#include "TextPrinter.h"

#include "DecodeBytes.h"
#include "DecodeMeaning.h"
#include <InventoryLayout.h>

namespace RosterDecode {

std::string QuotedText(const std::string &Text) {
  std::string Quoted = "\"";
  for (char C : Text) {
    auto Byte = static_cast<uint8_t>(C);
    if (C == '"' || C == '\\') {
      Quoted += '\\';
      Quoted += C;
    } else if (Byte < 0x20 || Byte >= 0x7F) {
      Quoted += Format("\\x%02x", Byte);
    } else {
      Quoted += C;
    }
  }
  return Quoted + "\"";
}

namespace {

const char *PresenceText(uint8_t Status) {
  return Status == RECORD_STATUS_PRESENT ? "present" : (Status == RECORD_STATUS_ABSENT ? "absent" : "status?");
}

std::string OriginSuffix(const std::string &Origin) { return Origin.empty() ? "" : " (" + Origin + ")"; }

void PrintHeader(std::ostream &Out, const InventoryFacts &Inventory) {
  const auto &H = Inventory.Header;
  Out << "Header\n";
  Out << "  Signature       \"SHIM\", HeaderVersion " << H.HeaderVersion << "\n";
  Out << "  HeaderSize      " << H.HeaderSize << " (image of " << Inventory.ImageSize << " bytes)\n";
  Out << Format("  CRC-32          stored 0x%08x, computed 0x%08x: %s\n", H.StoredCrc, H.ComputedCrc,
                H.CrcMatches ? "OK" : "CRC MISMATCH");
  Out << "  BIOS version    " << (H.BiosPresent ? QuotedText(H.BiosVersion) : std::string("not read (BiosPresent 0)"))
      << "\n";
  if (!H.IdentityPresent) {
    Out << "  Identity words  not read (IdentityPresent 0)\n";
  } else {
    Out << "  Identity words  " << IdentityText(H.IdentityWords) << "\n";
    if (H.IdentityWords == H.IdentityWordsCopy) {
      Out << "  Identity copy   same\n";
    } else {
      Out << "  Identity copy   " << IdentityText(H.IdentityWordsCopy) << "  <- DIFFERS from the first copy\n";
    }
  }
  Out << "  Records         " << Inventory.Processors.size() << " processors, " << Inventory.MemoryDevices.size()
      << " memory devices, " << Inventory.PciFunctions.size() << " PCI functions (RecordCount "
      << unsigned{H.RecordCount} << ")\n";
}

void PrintProcessors(std::ostream &Out, const std::vector<ProcessorFacts> &Processors) {
  Out << "\nProcessors\n";
  if (Processors.empty()) Out << "  none\n";
  for (const auto &Cpu : Processors) {
    Out << Format("  #%u %s %s: %u cores, %u threads, max %u MHz\n", Cpu.Instance, QuotedText(Cpu.Name).c_str(),
                  PresenceText(Cpu.Status), Cpu.CoreCount, Cpu.ThreadCount, Cpu.MaxSpeedMhz);
    Out << "     vendor " << QuotedText(Cpu.Vendor) << ", family " << QuotedText(Cpu.FamilyName) << ", version "
        << QuotedText(Cpu.Version) << "\n";
  }
}

std::string MemoryTypeText(const MemoryDeviceFacts &Dimm) {
  auto Type = ParseHexByteText(Dimm.TypeText);
  if (!Type) return "type " + QuotedText(Dimm.TypeText) + " (not hexadecimal)";
  return MemoryTypeName(*Type) + " (" + Dimm.TypeText + ")";
}

std::string TypeDetailText(const MemoryDeviceFacts &Dimm) {
  auto Detail = ParseHexWordText(Dimm.TypeDetailText);
  if (!Detail) return "detail " + QuotedText(Dimm.TypeDetailText) + " (not hexadecimal)";
  std::string Text = Format("detail 0x%04X", *Detail);
  auto Flags = MemoryTypeDetailFlags(*Detail);
  for (size_t Index = 0; Index < Flags.size(); ++Index) {
    Text += (Index == 0 ? " [" : ", ") + Flags[Index];
  }
  return Flags.empty() ? Text : Text + "]";
}

void PrintMemoryDevices(std::ostream &Out, const std::vector<MemoryDeviceFacts> &Devices) {
  Out << "\nMemory devices\n";
  if (Devices.empty()) Out << "  none\n";
  for (const auto &Dimm : Devices) {
    Out << Format("  #%u %s: %s", Dimm.Instance, QuotedText(Dimm.Locator).c_str(),
                  MemorySizeText(Dimm.SizeRaw).c_str());
    if (Dimm.SizeRaw == 0) {
      Out << "\n";
      continue;
    }
    Out << ", " << MemorySpeedText(Dimm.SpeedRaw) << ", " << MemoryTypeText(Dimm) << ", " << TypeDetailText(Dimm)
        << "\n";
    Out << "     manufacturer " << QuotedText(Dimm.Manufacturer)
        << Format(", serial %02X%02X%02X%02X", Dimm.Serial[0], Dimm.Serial[1], Dimm.Serial[2], Dimm.Serial[3])
        << ", part " << QuotedText(Dimm.PartNumber) << ", voltage " << QuotedText(Dimm.Voltage) << "\n";
  }
}

void PrintPciFunctions(std::ostream &Out, const std::vector<PciFunctionFacts> &Functions) {
  Out << "\nPCI functions\n";
  if (Functions.empty()) Out << "  none\n";
  for (const auto &Pci : Functions) {
    Out << "  " << PciSlotText(Pci.Bus, Pci.Function)
        << Format(" [%04x:%04x] class %02x%02x subsys %04x:%04x ", Pci.VendorId, Pci.DeviceId, Pci.BaseClass,
                  Pci.SubClass, Pci.SubsystemVendorId, Pci.SubsystemId)
        << LinkText(Pci.LinkSpeed, Pci.LinkWidth) << "\n";
  }
}

void PrintInventory(std::ostream &Out, const InventoryFacts &Inventory) {
  Out << "Inventory image" << OriginSuffix(Inventory.Origin) << ", " << Inventory.ImageSize << " bytes\n";
  if (!Inventory.HeaderDecoded) {
    Out << "  not decoded\n";
    return;
  }
  PrintHeader(Out, Inventory);
  PrintProcessors(Out, Inventory.Processors);
  PrintMemoryDevices(Out, Inventory.MemoryDevices);
  PrintPciFunctions(Out, Inventory.PciFunctions);
}

void PrintDrive(std::ostream &Out, const SataDriveFacts &Drive) {
  if (!Drive.Decoded) {
    Out << "  message" << OriginSuffix(Drive.Origin) << " not decoded\n";
    return;
  }
  Out << Format("  [%2u] %-8s ", Drive.SataIndex, SataPortName(Drive.SataPort).c_str());
  if (Drive.SataPresent == 0) {
    Out << "empty\n";
    return;
  }
  uint64_t Bytes = static_cast<uint64_t>(Drive.HddSizeGb) * 1000000000ull;
  Out << "present, model " << QuotedText(Drive.ModelNumber) << ", serial " << QuotedText(Drive.SerialNumber)
      << ", User Capacity: " << Drive.HddSizeGb << " GB [" << SmartctlCapacity(Bytes) << "]\n";
}

}  // namespace

void PrintText(std::ostream &Out, const FileFacts &File) {
  static const char *const kKinds[] = {"inventory image", "SATA_INFO message", "harness report", "unreadable"};
  Out << "== " << File.Path << ": " << kKinds[static_cast<int>(File.Kind)] << "\n";
  for (const auto &Inventory : File.Inventories) {
    PrintInventory(Out, Inventory);
  }
  if (!File.Drives.empty()) {
    Out << (File.Inventories.empty() ? "" : "\n") << "SATA drives\n";
    for (const auto &Drive : File.Drives) {
      PrintDrive(Out, Drive);
    }
  }
  for (const auto &Note : File.Notes) {
    Out << "note: " << Note << "\n";
  }
}

}  // namespace RosterDecode
