// ACPI resource descriptors as a PCI root bridge reports its resources through
// Configuration(): QWORD address-space descriptors closed by an end tag (ACPI resource
// data types).
#pragma once
#include "../Base.h"

// Tag bytes. A large item's tag has bit 7 set and a 16-bit length of the bytes after its
// 3-byte header; a small item carries its length in bits 2..0 of the tag.
#define ACPI_ADDRESS_SPACE_DESCRIPTOR 0x8A
#define ACPI_END_TAG_DESCRIPTOR 0x79
#define ACPI_LARGE_ITEM_FLAG 0x80
#define ACPI_SMALL_ITEM_LENGTH_MASK 0x07
#define ACPI_LARGE_ITEM_HEADER_SIZE 3

// ResType of an address-space descriptor.
#define ACPI_ADDRESS_SPACE_TYPE_MEM 0x00
#define ACPI_ADDRESS_SPACE_TYPE_IO 0x01
#define ACPI_ADDRESS_SPACE_TYPE_BUS 0x02

#pragma pack(push, 1)
struct EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR {
  UINT8 Desc;
  UINT16 Len;
  UINT8 ResType;
  UINT8 GenFlag;
  UINT8 SpecificFlag;
  UINT64 AddrSpaceGranularity;
  UINT64 AddrRangeMin;
  UINT64 AddrRangeMax;
  UINT64 AddrTranslationOffset;
  UINT64 AddrLen;
};

struct EFI_ACPI_END_TAG_DESCRIPTOR {
  UINT8 Desc;
  UINT8 Checksum;
};
#pragma pack(pop)
static_assert(sizeof(EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR) == 46, "QWORD address space descriptor");
static_assert(OFFSET_OF(EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR, Len) == 1, "QWORD address space descriptor");
static_assert(OFFSET_OF(EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR, ResType) == 3, "QWORD address space descriptor");
static_assert(OFFSET_OF(EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR, AddrSpaceGranularity) == 6,
              "QWORD address space descriptor");
static_assert(OFFSET_OF(EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR, AddrRangeMin) == 14, "QWORD address space descriptor");
static_assert(OFFSET_OF(EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR, AddrRangeMax) == 22, "QWORD address space descriptor");
static_assert(OFFSET_OF(EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR, AddrTranslationOffset) == 30,
              "QWORD address space descriptor");
static_assert(OFFSET_OF(EFI_ACPI_ADDRESS_SPACE_DESCRIPTOR, AddrLen) == 38, "QWORD address space descriptor");
static_assert(sizeof(EFI_ACPI_END_TAG_DESCRIPTOR) == 2, "end tag");
