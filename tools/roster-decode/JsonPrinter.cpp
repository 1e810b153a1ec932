#include "JsonPrinter.h"

#include "DecodeBytes.h"
#include "DecodeMeaning.h"
#include "JsonWriter.h"
#include <InventoryLayout.h>

namespace RosterDecode {
namespace {

std::string Hex16(uint16_t Value) { return Format("%04x", Value); }
std::string Hex32(uint32_t Value) { return Format("0x%08x", Value); }

void WriteProblems(JsonWriter &Json, const ProblemList &List) {
  Json.Key("problems").BeginArray();
  for (const auto &Problem : List) Json.String(Problem);
  Json.EndArray();
}

void WriteIdentity(JsonWriter &Json, std::string_view Key, const std::array<uint8_t, 8> &Words) {
  Json.Key(Key).BeginArray();
  for (size_t Index = 0; Index < 4; ++Index) {
    Json.String(Hex16(static_cast<uint16_t>(Words[Index * 2] | (Words[Index * 2 + 1] << 8))));
  }
  Json.EndArray();
}

void WriteHeader(JsonWriter &Json, const InventoryFacts &Inventory) {
  const auto &H = Inventory.Header;
  Json.Key("header").BeginObject();
  Json.Field("signature", "SHIM").Field("header_version", H.HeaderVersion).Field("header_size", H.HeaderSize);
  Json.Key("crc").BeginObject();
  Json.Field("stored", Hex32(H.StoredCrc)).Field("computed", Hex32(H.ComputedCrc));
  Json.Field("verdict", H.CrcMatches ? "OK" : "CRC MISMATCH").EndObject();
  Json.Field("bios_present", H.BiosPresent != 0).Field("bios_version", H.BiosVersion);
  Json.Field("identity_present", H.IdentityPresent != 0);
  WriteIdentity(Json, "identity_words", H.IdentityWords);
  WriteIdentity(Json, "identity_words_copy", H.IdentityWordsCopy);
  Json.Field("identity_copies_match", H.IdentityWords == H.IdentityWordsCopy);
  Json.Field("cpu_present", H.CpuPresent != 0).Field("dimm_present", H.DimmPresent != 0);
  Json.Field("pci_present", H.PciPresent != 0).Field("record_count", H.RecordCount);
  Json.EndObject();
}

void WriteProcessor(JsonWriter &Json, const ProcessorFacts &Cpu) {
  Json.BeginObject();
  Json.Field("instance", Cpu.Instance).Field("present", Cpu.Status == RECORD_STATUS_PRESENT).Field("name", Cpu.Name);
  Json.Field("cores", Cpu.CoreCount).Field("threads", Cpu.ThreadCount).Field("max_speed_mhz", Cpu.MaxSpeedMhz);
  Json.Field("vendor", Cpu.Vendor).Field("family", Cpu.FamilyName).Field("version", Cpu.Version);
  Json.EndObject();
}

void WriteMemoryDevice(JsonWriter &Json, const MemoryDeviceFacts &Dimm) {
  Json.BeginObject();
  Json.Field("instance", Dimm.Instance)
      .Field("present", Dimm.Status == RECORD_STATUS_PRESENT)
      .Field("locator", Dimm.Locator);
  MemorySize Size = DecodeMemorySize(Dimm.SizeRaw);
  Json.Field("size_raw", Dimm.SizeRaw).Key("size_mb");
  if (Size.Kind == MemorySizeKind::Known || Size.Kind == MemorySizeKind::Empty) {
    Json.Number(Size.Kilobytes / 1024);
  } else {
    Json.Null();
  }
  Json.Field("size_text", MemorySizeText(Dimm.SizeRaw));
  Json.Key("speed_mts");
  if (Dimm.SpeedRaw == 0 || Dimm.SpeedRaw == 0xFFFF) {
    Json.Null();
  } else {
    Json.Number(Dimm.SpeedRaw);
  }
  Json.Field("type_text", Dimm.TypeText).Key("type");
  auto Type = ParseHexByteText(Dimm.TypeText);
  if (Type) {
    Json.String(MemoryTypeName(*Type));
  } else {
    Json.Null();
  }
  Json.Field("type_detail_text", Dimm.TypeDetailText).Key("type_detail_flags").BeginArray();
  if (auto Detail = ParseHexWordText(Dimm.TypeDetailText)) {
    for (const auto &Flag : MemoryTypeDetailFlags(*Detail)) Json.String(Flag);
  }
  Json.EndArray();
  Json.Field("manufacturer", Dimm.Manufacturer);
  Json.Field("serial", Format("%02X%02X%02X%02X", Dimm.Serial[0], Dimm.Serial[1], Dimm.Serial[2], Dimm.Serial[3]));
  Json.Field("part_number", Dimm.PartNumber).Field("voltage", Dimm.Voltage);
  Json.EndObject();
}

void WritePciFunction(JsonWriter &Json, const PciFunctionFacts &Pci) {
  Json.BeginObject();
  Json.Field("instance", Pci.Instance).Field("slot", PciSlotText(Pci.Bus, Pci.Function)).Field("name", Pci.Name);
  Json.Field("bus", Pci.Bus).Field("function", Pci.Function);
  Json.Field("vendor_id", Hex16(Pci.VendorId)).Field("device_id", Hex16(Pci.DeviceId));
  Json.Field("class", Format("%02x%02x", Pci.BaseClass, Pci.SubClass));
  Json.Field("subsystem_vendor_id", Hex16(Pci.SubsystemVendorId)).Field("subsystem_id", Hex16(Pci.SubsystemId));
  Json.Field("link_speed_code", Pci.LinkSpeed).Key("link_speed");
  if (auto Speed = LinkSpeedName(Pci.LinkSpeed)) {
    Json.String(*Speed);
  } else {
    Json.Null();
  }
  Json.Field("link_width", Pci.LinkWidth).Field("link_text", LinkText(Pci.LinkSpeed, Pci.LinkWidth));
  Json.EndObject();
}

void WriteInventory(JsonWriter &Json, const InventoryFacts &Inventory) {
  Json.BeginObject();
  Json.Field("origin", Inventory.Origin).Field("image_size", Inventory.ImageSize);
  Json.Field("decoded", Inventory.HeaderDecoded);
  WriteProblems(Json, Inventory.Problems);
  if (Inventory.HeaderDecoded) {
    WriteHeader(Json, Inventory);
    Json.Key("processors").BeginArray();
    for (const auto &Cpu : Inventory.Processors) WriteProcessor(Json, Cpu);
    Json.EndArray().Key("memory_devices").BeginArray();
    for (const auto &Dimm : Inventory.MemoryDevices) WriteMemoryDevice(Json, Dimm);
    Json.EndArray().Key("pci_functions").BeginArray();
    for (const auto &Pci : Inventory.PciFunctions) WritePciFunction(Json, Pci);
    Json.EndArray();
  }
  Json.EndObject();
}

void WriteDrive(JsonWriter &Json, const SataDriveFacts &Drive) {
  Json.BeginObject();
  Json.Field("origin", Drive.Origin).Field("decoded", Drive.Decoded);
  WriteProblems(Json, Drive.Problems);
  if (Drive.Decoded) {
    Json.Field("sata_index", Drive.SataIndex).Field("sata_port", Drive.SataPort);
    Json.Field("port", SataPortName(Drive.SataPort)).Field("present", Drive.SataPresent != 0);
    Json.Field("model", Drive.ModelNumber).Field("serial", Drive.SerialNumber);
    Json.Field("capacity_gb", Drive.HddSizeGb);
    Json.Field("capacity_text", SmartctlCapacity(static_cast<uint64_t>(Drive.HddSizeGb) * 1000000000ull));
  }
  Json.EndObject();
}

void WriteFile(JsonWriter &Json, const FileFacts &File) {
  static const char *const kKinds[] = {"inventory_image", "sata_info", "harness_report", "unreadable"};
  Json.BeginObject();
  Json.Field("file", File.Path).Field("kind", kKinds[static_cast<int>(File.Kind)]);
  WriteProblems(Json, File.Problems);
  Json.Key("notes").BeginArray();
  for (const auto &Note : File.Notes) Json.String(Note);
  Json.EndArray().Key("inventories").BeginArray();
  for (const auto &Inventory : File.Inventories) WriteInventory(Json, Inventory);
  Json.EndArray().Key("sata_drives").BeginArray();
  for (const auto &Drive : File.Drives) WriteDrive(Json, Drive);
  Json.EndArray();
  Json.EndObject();
}

}  // namespace

std::string JsonDocument(const std::vector<FileFacts> &Files) {
  JsonWriter Json;
  Json.BeginObject().Key("files").BeginArray();
  for (const auto &File : Files) WriteFile(Json, File);
  Json.EndArray().EndObject();
  return Json.Text() + "\n";
}

}  // namespace RosterDecode
