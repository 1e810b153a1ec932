// A server board for the inventory tests: SMBIOS structures, PCI topology, disks, identity
// and transport, described as plain data, and the inventory image such a board must give,
// built here byte by byte from the description (never from the driver's code).
#pragma once

#include <InventoryLayout.h>
#include <crc32/Crc32.h>
#include <sim/Platform.h>
#include <sim/peers/DiskInfoDisk.h>
#include <sim/peers/ManagementTransport.h>
#include <sim/peers/PciRootBridge.h>
#include <sim/peers/PlatformIdentity.h>
#include <sim/peers/SmbiosTable.h>

#include <optional>
#include <string>
#include <vector>

namespace roster_test {

// --- SMBIOS structures as a board describes them.
struct BiosInfo {
  std::string Vendor = "Board Vendor";
  std::string Version = "RSTR.1.23.4567";
};

struct Processor {
  std::string Socket = "CPU0";
  std::string Manufacturer = "Intel(R) Corporation";
  std::string Version = "Intel(R) Xeon(R) Gold 6338 CPU @ 2.00GHz";
  UINT16 MaxSpeed = 4000;
  UINT8 CoreCount = 32;
  UINT8 ThreadCount = 64;
};

struct MemoryDevice {
  std::string Locator = "CPU0_DIMM_A1";
  std::string Bank = "NODE 0";
  std::string Manufacturer = "Samsung";
  std::string Serial = "1A2B3C4D";
  std::string PartNumber = "M393A4K40DB3-CWE";
  UINT16 Size = 32768;
  UINT16 Speed = 3200;
  UINT8 MemoryType = 0x1A;
  UINT16 TypeDetail = 0x0080;
};

std::vector<UINT8> BiosStructure(const BiosInfo &Bios, std::vector<std::string> &Strings);
void AddBios(sim::SmbiosTable &Table, const BiosInfo &Bios);
void AddProcessor(sim::SmbiosTable &Table, const Processor &Cpu);
void AddMemoryDevice(sim::SmbiosTable &Table, const MemoryDevice &Dimm);
void AddOther(sim::SmbiosTable &Table, UINT8 Type);  // a structure of another type (7, 127, ...)

// --- PCI functions the inventory must record, in the order it must record them.
struct PciExpectation {
  UINT8 Bus;
  UINT8 Function;
  sim::PciEndpointIds Ids;
  UINT8 LinkSpeed;
  UINT8 LinkWidth;
};

// An endpoint at Bus:00 with Functions functions behind a bridge at BridgeBus:Device.Function.
struct EndpointBehindBridge {
  UINT8 BridgeBus;
  UINT8 BridgeDevice;
  UINT8 BridgeFunction;
  UINT8 EndpointBus;
  std::optional<UINT16> LinkStatus;
  UINT8 Functions;
  UINT16 FirstDeviceId;
};
// Adds the bridge and the endpoint; appends the records the inventory must make of them.
void AddEndpointBehindBridge(sim::PciRootBridge &Pci, const EndpointBehindBridge &Layout,
                             std::vector<PciExpectation> *Expected);

// --- The inventory image of a board.
struct IdentityWords {
  UINT16 Word4, Word6, Word8, Word10;
};

struct ExpectedInventory {
  std::optional<BiosInfo> Bios;
  std::vector<Processor> Processors;  // recorded ones only
  std::vector<MemoryDevice> MemoryDevices;  // recorded ones only
  std::vector<PciExpectation> Pci;
  std::optional<IdentityWords> Identity;
};

std::vector<UINT8> BuildExpectedImage(const ExpectedInventory &Board);
using crc32::Crc32;

// --- SATA_INFO messages.
std::vector<UINT8> EmptyPortMessage(UINT8 SataIndex, UINT8 PortId);
std::vector<UINT8> DriveMessage(UINT8 SataIndex, UINT8 PortId, const std::string &Model, const std::string &Serial,
                                UINT16 Gigabytes);
inline constexpr UINT8 kKnownPorts[NUMBER_OF_SATA] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06,
                                                      0x07, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15};

// An AHCI disk on the SATA (00:17.0) or sSATA (00:11.5) controller.
sim::DiskInfoSetup AhciDisk(bool SSata, UINT8 Port, const sim::IdentifyData &Identify);

// --- The full board: 2 processors, 12 memory devices, 24 PCI functions, two drives.
struct FullBoard {
  ExpectedInventory Expected;
  sim::ManagementTransport *Transport = nullptr;
  sim::PciRootBridge *Pci = nullptr;
  sim::SmbiosTable *Smbios = nullptr;
};
FullBoard BuildFullBoard(sim::Platform &P, bool WithDisks = true);

// The transport's SendCommand payloads, each 65 bytes.
std::vector<std::vector<UINT8>> SataMessages(const sim::ManagementTransport &Transport);
// The images the transport received through SendLargeCommand.
std::vector<std::vector<UINT8>> InventoryImages(const sim::ManagementTransport &Transport);

}  // namespace roster_test
