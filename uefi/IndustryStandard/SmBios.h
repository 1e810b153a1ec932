// SMBIOS structure header and the field offsets the inventory reads (DMTF SMBIOS).
#pragma once
#include "../Base.h"

#pragma pack(push, 1)
struct SMBIOS_STRUCTURE {
  UINT8 Type;
  UINT8 Length;
  UINT16 Handle;
};
#pragma pack(pop)
static_assert(sizeof(SMBIOS_STRUCTURE) == 4, "SMBIOS header");

#define SMBIOS_TYPE_BIOS_INFORMATION 0
#define SMBIOS_TYPE_PROCESSOR_INFORMATION 4
#define SMBIOS_TYPE_CACHE_INFORMATION 7
#define SMBIOS_TYPE_MEMORY_DEVICE 17
#define SMBIOS_TYPE_END_OF_TABLE 127

// Type 0
#define SMBIOS_BIOS_VERSION_STRING 0x05
// Type 4
#define SMBIOS_PROCESSOR_VERSION_STRING 0x10
#define SMBIOS_PROCESSOR_MAX_SPEED 0x14
#define SMBIOS_PROCESSOR_CORE_COUNT 0x23
#define SMBIOS_PROCESSOR_THREAD_COUNT 0x25
// Type 17
#define SMBIOS_MEMORY_SIZE 0x0C
#define SMBIOS_MEMORY_DEVICE_LOCATOR_STRING 0x10
#define SMBIOS_MEMORY_TYPE 0x12
#define SMBIOS_MEMORY_TYPE_DETAIL 0x13
#define SMBIOS_MEMORY_SPEED 0x15
#define SMBIOS_MEMORY_MANUFACTURER_STRING 0x17
#define SMBIOS_MEMORY_SERIAL_NUMBER_STRING 0x18
#define SMBIOS_MEMORY_PART_NUMBER_STRING 0x1A
#define SMBIOS_MEMORY_TYPE_UNKNOWN 0x02

// Type 38, IPMI Device Information: which system interface reaches the BMC and where.
#define SMBIOS_TYPE_IPMI_DEVICE_INFORMATION 38
#define SMBIOS_IPMI_INTERFACE_TYPE 0x04  // 1: KCS, 2: SMIC, 3: BT, 4: SSIF
#define SMBIOS_IPMI_BASE_ADDRESS 0x08  // 8 bytes; bit 0 set: I/O space, and not part of the address
#define SMBIOS_IPMI_BASE_ADDRESS_MODIFIER 0x10  // bits 7-6 register spacing, bit 4 address bit 0
#define SMBIOS_IPMI_MINIMUM_LENGTH 0x10  // the structure ends at the base address without the modifier
#define SMBIOS_IPMI_INTERFACE_KCS 0x01
