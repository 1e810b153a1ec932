// Bytes the inventory driver puts on the wire to the management controller: the inventory
// image (header, then processor, memory-device and PCI records) and the SATA_INFO message.
// Shared by the driver, the host tests and the host-side decoder, so it needs only <Base.h>.
// Everything is packed and little-endian unless a field says otherwise.
#pragma once

#include <Base.h>

// --- Capacities of the record areas and their record sizes.
inline constexpr UINT8 Number_Of_CPU = 2;
inline constexpr UINT8 Number_Of_DIMM = 12;
inline constexpr UINT8 Number_Of_PCI = 24;
inline constexpr UINT8 NUMBER_OF_SATA = 14;

// --- Management transport command headers (byte 0: NetFn << 2 | LUN, byte 1: command).
inline constexpr UINT8 INVENTORY_NETFN = 0x32;  // controller-specific OEM range 0x30..0x3F
inline constexpr UINT8 INVENTORY_COMMAND = 0x5A;
inline constexpr UINT8 SATA_INFO_NETFN = 0x3A;
inline constexpr UINT8 SATA_INFO_COMMAND = 0xA7;
inline constexpr UINT16 INVENTORY_COMMAND_HEADER = (UINT16)((INVENTORY_COMMAND << 8) | (INVENTORY_NETFN << 2));
inline constexpr UINT16 SATA_INFO_COMMAND_HEADER = (UINT16)((SATA_INFO_COMMAND << 8) | (SATA_INFO_NETFN << 2));
static_assert(INVENTORY_COMMAND_HEADER == 0x5AC8, "inventory command header");
static_assert(SATA_INFO_COMMAND_HEADER == 0xA7E8, "SATA_INFO command header");

// --- Inventory header values.
inline constexpr UINT32 INVENTORY_SIGNATURE = 0x4D494853;  // "SHIM"
inline constexpr UINT32 INVENTORY_HEADER_VERSION = 1;
// The first bytes of the header lie outside HeaderSize and outside the CRC.
inline constexpr UINT32 INVENTORY_UNCOUNTED_PREFIX = 3;

// --- Record header values.
inline constexpr UINT16 RECORD_MARKER = 0x4544;  // "D", "E"
inline constexpr UINT8 RECORD_UNCOUNTED_PREFIX = 73;  // BodyLength counts from Ordinal on
inline constexpr UINT8 RECORD_TYPE_CPU = 1;
inline constexpr UINT8 RECORD_TYPE_DIMM = 8;
inline constexpr UINT8 RECORD_TYPE_PCI = 32;
inline constexpr UINT8 RECORD_STATUS_PRESENT = 0x81;
inline constexpr UINT8 RECORD_STATUS_ABSENT = 0;
inline constexpr UINT8 RECORD_KIND_SMBIOS = 0;
inline constexpr UINT8 RECORD_KIND_PCI = 1;
inline constexpr UINT8 RECORD_NAME_LENGTH = 64;
// The DIMM serial number as four bytes, decoded from its eight hexadecimal characters.
inline constexpr UINT8 DIMM_SERIAL_LENGTH = 4;

#pragma pack(push, 1)

struct INVENTORY_HEADER {
  UINT8 Reserved0[3];
  UINT32 Signature;
  UINT32 HeaderVersion;
  UINT32 HeaderSize;
  UINT32 Crc32;
  UINT32 Reserved19;
  UINT8 BiosPresent;
  UINT8 IdentityPresent;
  CHAR8 BiosVersion[16];
  UINT8 IdentityWords[8];
  UINT8 Reserved49[2];
  UINT8 IdentityWordsCopy[8];
  UINT8 Reserved59[2];
  UINT8 CpuPresent;
  UINT8 DimmPresent;
  UINT8 PciPresent;
  UINT8 RecordCount;
  UINT8 Reserved65[2];
};

struct INVENTORY_RECORD_HEADER {
  UINT16 Marker;
  UINT16 BodyLength;
  UINT8 RecordType;
  UINT8 Instance;
  UINT8 Status;
  UINT8 Kind;
  UINT8 NameLength;
  CHAR8 Name[RECORD_NAME_LENGTH];
  UINT8 Ordinal;
};

struct CPU_RECORD {
  INVENTORY_RECORD_HEADER Header;
  UINT8 CoreCount;
  UINT8 ThreadCount;
  UINT8 Reserved76[8];
  UINT32 MaxSpeed;
  CHAR8 CpuVendor[6];
  UINT8 Reserved94[10];
  CHAR8 CpuFamilyName[21];
  UINT8 Reserved125[39];
  CHAR8 CpuVersion[66];
};

struct DIMM_RECORD {
  INVENTORY_RECORD_HEADER Header;
  UINT16 DimmSize;
  UINT16 DimmSpeed;
  CHAR8 DimmManufacturer[30];
  CHAR8 DimmTypeText[2];
  UINT8 Reserved110[8];
  CHAR8 DimmTypeDetailText[4];
  UINT8 Reserved122[6];
  CHAR8 DimmVoltage[5];
  UINT8 Reserved133[5];
  UINT8 DimmSerial[DIMM_SERIAL_LENGTH];
  CHAR8 DimmPartNumber[610];
};

struct PCI_RECORD {
  INVENTORY_RECORD_HEADER Header;
  UINT8 Reserved74;
  UINT8 DeviceOrdinal;
  UINT8 Reserved76[2];
  UINT8 Bus;
  UINT8 Fun;
  UINT16 VID;
  UINT16 DevId;
  UINT16 SubSystemVendorId;
  UINT16 SubSystemId;
  UINT8 Reserved88[2];
  UINT8 SubClassCode;
  UINT8 BaseClassCode;
  UINT8 Reserved92[445];
  UINT8 Link_Speed;
  UINT8 Link_Width;
  UINT8 Reserved539[24];
};

// One SATA port report. HddSize is the one big-endian field: byte 63 high, byte 64 low.
struct SATA_INFO {
  UINT8 SataIndex;
  UINT8 SataPort;
  UINT8 SataPresent;
  CHAR8 ModelNumber[40];
  CHAR8 SerialNumber[20];
  UINT8 HddSize[2];
};

#pragma pack(pop)

static_assert(sizeof(INVENTORY_HEADER) == 67, "inventory header");
static_assert(OFFSET_OF(INVENTORY_HEADER, Signature) == 3, "inventory header");
static_assert(OFFSET_OF(INVENTORY_HEADER, HeaderVersion) == 7, "inventory header");
static_assert(OFFSET_OF(INVENTORY_HEADER, HeaderSize) == 11, "inventory header");
static_assert(OFFSET_OF(INVENTORY_HEADER, Crc32) == 15, "inventory header");
static_assert(OFFSET_OF(INVENTORY_HEADER, Reserved19) == 19, "inventory header");
static_assert(OFFSET_OF(INVENTORY_HEADER, BiosPresent) == 23, "inventory header");
static_assert(OFFSET_OF(INVENTORY_HEADER, IdentityPresent) == 24, "inventory header");
static_assert(OFFSET_OF(INVENTORY_HEADER, BiosVersion) == 25, "inventory header");
static_assert(OFFSET_OF(INVENTORY_HEADER, IdentityWords) == 41, "inventory header");
static_assert(OFFSET_OF(INVENTORY_HEADER, IdentityWordsCopy) == 51, "inventory header");
static_assert(OFFSET_OF(INVENTORY_HEADER, CpuPresent) == 61, "inventory header");
static_assert(OFFSET_OF(INVENTORY_HEADER, DimmPresent) == 62, "inventory header");
static_assert(OFFSET_OF(INVENTORY_HEADER, PciPresent) == 63, "inventory header");
static_assert(OFFSET_OF(INVENTORY_HEADER, RecordCount) == 64, "inventory header");

static_assert(sizeof(INVENTORY_RECORD_HEADER) == 74, "record header");
static_assert(OFFSET_OF(INVENTORY_RECORD_HEADER, BodyLength) == 2, "record header");
static_assert(OFFSET_OF(INVENTORY_RECORD_HEADER, RecordType) == 4, "record header");
static_assert(OFFSET_OF(INVENTORY_RECORD_HEADER, Instance) == 5, "record header");
static_assert(OFFSET_OF(INVENTORY_RECORD_HEADER, Status) == 6, "record header");
static_assert(OFFSET_OF(INVENTORY_RECORD_HEADER, Kind) == 7, "record header");
static_assert(OFFSET_OF(INVENTORY_RECORD_HEADER, NameLength) == 8, "record header");
static_assert(OFFSET_OF(INVENTORY_RECORD_HEADER, Name) == 9, "record header");
static_assert(OFFSET_OF(INVENTORY_RECORD_HEADER, Ordinal) == RECORD_UNCOUNTED_PREFIX, "record header");

static_assert(sizeof(CPU_RECORD) == 230, "processor record");
static_assert(OFFSET_OF(CPU_RECORD, CoreCount) == 74, "processor record");
static_assert(OFFSET_OF(CPU_RECORD, ThreadCount) == 75, "processor record");
static_assert(OFFSET_OF(CPU_RECORD, MaxSpeed) == 84, "processor record");
static_assert(OFFSET_OF(CPU_RECORD, CpuVendor) == 88, "processor record");
static_assert(OFFSET_OF(CPU_RECORD, CpuFamilyName) == 104, "processor record");
static_assert(OFFSET_OF(CPU_RECORD, CpuVersion) == 164, "processor record");

static_assert(sizeof(DIMM_RECORD) == 752, "memory-device record");
static_assert(OFFSET_OF(DIMM_RECORD, DimmSize) == 74, "memory-device record");
static_assert(OFFSET_OF(DIMM_RECORD, DimmSpeed) == 76, "memory-device record");
static_assert(OFFSET_OF(DIMM_RECORD, DimmManufacturer) == 78, "memory-device record");
static_assert(OFFSET_OF(DIMM_RECORD, DimmTypeText) == 108, "memory-device record");
static_assert(OFFSET_OF(DIMM_RECORD, DimmTypeDetailText) == 118, "memory-device record");
static_assert(OFFSET_OF(DIMM_RECORD, DimmVoltage) == 128, "memory-device record");
static_assert(OFFSET_OF(DIMM_RECORD, DimmSerial) == 138, "memory-device record");
static_assert(OFFSET_OF(DIMM_RECORD, DimmPartNumber) == 142, "memory-device record");

static_assert(sizeof(PCI_RECORD) == 563, "PCI record");
static_assert(OFFSET_OF(PCI_RECORD, Reserved74) == 74, "PCI record");
static_assert(OFFSET_OF(PCI_RECORD, DeviceOrdinal) == 75, "PCI record");
static_assert(OFFSET_OF(PCI_RECORD, Bus) == 78, "PCI record");
static_assert(OFFSET_OF(PCI_RECORD, Fun) == 79, "PCI record");
static_assert(OFFSET_OF(PCI_RECORD, VID) == 80, "PCI record");
static_assert(OFFSET_OF(PCI_RECORD, DevId) == 82, "PCI record");
static_assert(OFFSET_OF(PCI_RECORD, SubSystemVendorId) == 84, "PCI record");
static_assert(OFFSET_OF(PCI_RECORD, SubSystemId) == 86, "PCI record");
static_assert(OFFSET_OF(PCI_RECORD, SubClassCode) == 90, "PCI record");
static_assert(OFFSET_OF(PCI_RECORD, BaseClassCode) == 91, "PCI record");
static_assert(OFFSET_OF(PCI_RECORD, Link_Speed) == 537, "PCI record");
static_assert(OFFSET_OF(PCI_RECORD, Link_Width) == 538, "PCI record");

static_assert(sizeof(SATA_INFO) == 65, "SATA_INFO");
static_assert(OFFSET_OF(SATA_INFO, ModelNumber) == 3, "SATA_INFO");
static_assert(OFFSET_OF(SATA_INFO, SerialNumber) == 43, "SATA_INFO");
static_assert(OFFSET_OF(SATA_INFO, HddSize) == 63, "SATA_INFO");

// BodyLength of each record kind: the record after its uncounted prefix.
inline constexpr UINT16 CPU_RECORD_BODY_LENGTH = sizeof(CPU_RECORD) - RECORD_UNCOUNTED_PREFIX;
inline constexpr UINT16 DIMM_RECORD_BODY_LENGTH = sizeof(DIMM_RECORD) - RECORD_UNCOUNTED_PREFIX;
inline constexpr UINT16 PCI_RECORD_BODY_LENGTH = sizeof(PCI_RECORD) - RECORD_UNCOUNTED_PREFIX;
static_assert(CPU_RECORD_BODY_LENGTH == 157 && DIMM_RECORD_BODY_LENGTH == 679 && PCI_RECORD_BODY_LENGTH == 490,
              "body lengths");

// Sizes of the three record areas and of the largest image.
inline constexpr UINT32 CPU_AREA_SIZE = Number_Of_CPU * sizeof(CPU_RECORD);
inline constexpr UINT32 DIMM_AREA_SIZE = Number_Of_DIMM * sizeof(DIMM_RECORD);
inline constexpr UINT32 PCI_AREA_SIZE = Number_Of_PCI * sizeof(PCI_RECORD);
static_assert(CPU_AREA_SIZE == 460 && DIMM_AREA_SIZE == 9024 && PCI_AREA_SIZE == 13512, "area sizes");

constexpr UINT32 InventoryImageSize(UINT32 CpuCount, UINT32 DimmCount, UINT32 PciCount) {
  return (UINT32)(sizeof(INVENTORY_HEADER) + CpuCount * sizeof(CPU_RECORD) + DimmCount * sizeof(DIMM_RECORD) +
                  PciCount * sizeof(PCI_RECORD));
}
static_assert(InventoryImageSize(Number_Of_CPU, Number_Of_DIMM, Number_Of_PCI) == 23063, "largest image");
static_assert(InventoryImageSize(0, 0, 0) == 67, "header-only image");
