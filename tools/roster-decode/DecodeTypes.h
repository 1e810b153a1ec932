// Plain facts decoded from what the inventory driver sends to the management controller.
// Problems travel as values: a decode never throws, it records what it found wrong and
// keeps whatever it could still read safely.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace RosterDecode {

using ByteView = std::span<const uint8_t>;
using ProblemList = std::vector<std::string>;

struct InventoryHeaderFacts {
  uint32_t Signature = 0;
  uint32_t HeaderVersion = 0;
  uint32_t HeaderSize = 0;
  uint32_t StoredCrc = 0;
  uint32_t ComputedCrc = 0;
  bool CrcMatches = false;
  uint8_t BiosPresent = 0;
  uint8_t IdentityPresent = 0;
  std::string BiosVersion;
  std::array<uint8_t, 8> IdentityWords{};
  std::array<uint8_t, 8> IdentityWordsCopy{};
  uint8_t CpuPresent = 0;
  uint8_t DimmPresent = 0;
  uint8_t PciPresent = 0;
  uint8_t RecordCount = 0;
};

struct ProcessorFacts {
  uint8_t Instance = 0;
  uint8_t Status = 0;
  std::string Name;
  uint8_t CoreCount = 0;
  uint8_t ThreadCount = 0;
  uint32_t MaxSpeedMhz = 0;
  std::string Vendor;
  std::string FamilyName;
  std::string Version;
};

struct MemoryDeviceFacts {
  uint8_t Instance = 0;
  uint8_t Status = 0;
  std::string Locator;
  uint16_t SizeRaw = 0;
  uint16_t SpeedRaw = 0;
  std::string Manufacturer;
  std::string TypeText;  // two hexadecimal characters as sent
  std::string TypeDetailText;  // four hexadecimal characters as sent
  std::string Voltage;
  std::array<uint8_t, 4> Serial{};
  std::string PartNumber;
};

struct PciFunctionFacts {
  uint8_t Instance = 0;
  uint8_t Status = 0;
  std::string Name;
  uint8_t DeviceOrdinal = 0;
  uint8_t Bus = 0;
  uint8_t Function = 0;
  uint16_t VendorId = 0;
  uint16_t DeviceId = 0;
  uint16_t SubsystemVendorId = 0;
  uint16_t SubsystemId = 0;
  uint8_t BaseClass = 0;
  uint8_t SubClass = 0;
  uint8_t LinkSpeed = 0;
  uint8_t LinkWidth = 0;
};

struct InventoryFacts {
  std::string Origin;  // where inside its file the image came from ("line 12"); empty for a binary file
  size_t ImageSize = 0;
  bool HeaderDecoded = false;  // false when the bytes are too short or carry no inventory signature
  InventoryHeaderFacts Header;
  std::vector<ProcessorFacts> Processors;
  std::vector<MemoryDeviceFacts> MemoryDevices;
  std::vector<PciFunctionFacts> PciFunctions;
  ProblemList Problems;
};

struct SataDriveFacts {
  std::string Origin;
  bool Decoded = false;
  uint8_t SataIndex = 0;
  uint8_t SataPort = 0;
  uint8_t SataPresent = 0;
  std::string ModelNumber;  // blanks around the text removed
  std::string SerialNumber;  // blanks around the text removed
  uint16_t HddSizeGb = 0;
  ProblemList Problems;
};

enum class InputKind { InventoryImage, SataInfo, HarnessReport, Unreadable };

struct FileFacts {
  std::string Path;
  InputKind Kind = InputKind::InventoryImage;
  std::vector<InventoryFacts> Inventories;
  std::vector<SataDriveFacts> Drives;
  ProblemList Problems;  // problems of the file as a whole (report lines that could not be read)
  std::vector<std::string> Notes;  // worth telling, but not wrong (a command this tool does not decode)
};

// True when the file, or anything decoded from it, carries a problem.
bool HasProblems(const FileFacts &File);

}  // namespace RosterDecode
