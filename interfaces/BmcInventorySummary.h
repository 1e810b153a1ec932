// The BMC module's read-back command: what it stored of the last inventory and of the SATA
// messages of the same boot, for an engineer at `ipmitool raw 0x32 0x5B` and for the tests.
// The request carries no data. All multi-byte fields are little-endian.
#pragma once
#include <Base.h>

#define BMC_SUMMARY_NETFN 0x32
#define BMC_SUMMARY_COMMAND 0x5B

// StoredFlags bits.
#define BMC_SUMMARY_INVENTORY_STORED 0x01  // an inventory image is stored; the fields below describe it
#define BMC_SUMMARY_SIGNATURE_OK 0x02  // "SHIM" and HeaderVersion 1
#define BMC_SUMMARY_SIZE_AGREES 0x04  // HeaderSize + 3 equals TotalSize
#define BMC_SUMMARY_CRC_OK 0x08  // the image's own CRC-32 verifies
#define BMC_SUMMARY_RECORDS_FRAMED 0x10  // every byte after the header belongs to a whole record

#pragma pack(push, 1)

struct BMC_INVENTORY_SUMMARY_RESPONSE {
  UINT8 CompletionCode;
  UINT8 StoredFlags;
  UINT32 TotalSize;  // bytes in the stored image
  UINT32 HeaderVersion;
  UINT32 HeaderSize;
  UINT32 StoredCrc32;
  UINT32 ComputedCrc32;
  UINT8 BiosPresent;
  UINT8 IdentityPresent;
  UINT8 CpuPresent;
  UINT8 DimmPresent;
  UINT8 PciPresent;
  UINT8 RecordCount;  // as the header says
  UINT8 CpuRecords;  // as counted in the image
  UINT8 DimmRecords;
  UINT8 PciRecords;
  UINT8 SataMessages;  // SATA_INFO messages stored since the inventory arrived
};

#pragma pack(pop)

// ipmi_sim's LAN channel leaves a handler 36 bytes of response.
static_assert(sizeof(BMC_INVENTORY_SUMMARY_RESPONSE) == 32, "BMC summary layout");
static_assert(OFFSET_OF(BMC_INVENTORY_SUMMARY_RESPONSE, TotalSize) == 2, "BMC summary layout");
static_assert(OFFSET_OF(BMC_INVENTORY_SUMMARY_RESPONSE, HeaderVersion) == 6, "BMC summary layout");
static_assert(OFFSET_OF(BMC_INVENTORY_SUMMARY_RESPONSE, HeaderSize) == 10, "BMC summary layout");
static_assert(OFFSET_OF(BMC_INVENTORY_SUMMARY_RESPONSE, StoredCrc32) == 14, "BMC summary layout");
static_assert(OFFSET_OF(BMC_INVENTORY_SUMMARY_RESPONSE, ComputedCrc32) == 18, "BMC summary layout");
static_assert(OFFSET_OF(BMC_INVENTORY_SUMMARY_RESPONSE, BiosPresent) == 22, "BMC summary layout");
static_assert(OFFSET_OF(BMC_INVENTORY_SUMMARY_RESPONSE, RecordCount) == 27, "BMC summary layout");
static_assert(OFFSET_OF(BMC_INVENTORY_SUMMARY_RESPONSE, CpuRecords) == 28, "BMC summary layout");
static_assert(OFFSET_OF(BMC_INVENTORY_SUMMARY_RESPONSE, SataMessages) == 31, "BMC summary layout");
