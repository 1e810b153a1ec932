// SMBIOS collector: one forward pass over the table for the BIOS version, the first run
// of processors and the first run of memory devices after it.
#include <Library/BaseMemoryLib.h>
#include <Library/DebugLib.h>
#include <Library/UefiBootServicesTableLib.h>

#include "Roster.h"

// SMBIOS handles are 16 bits wide: no honest table makes a search take more steps.
#define SMBIOS_SEARCH_STEP_LIMIT 0x10000

// The fixed texts the receiver expects, with their terminators.
static CONST CHAR8 mCpuName0[] = "(CPU_0)";
static CONST CHAR8 mCpuName1[] = "(CPU_1)";
static CONST CHAR8 mCpuVendor[] = "Intel";
static CONST CHAR8 mCpuFamilyName[] = "Intel Xeon processor";
static CONST CHAR8 mDimmVoltage[] = "1.2V";

// One GetNext over all types. FALSE ends the search: the table is exhausted or the
// producer failed; the handle stays where GetNext left it.
static BOOLEAN NextStructure(EFI_SMBIOS_PROTOCOL *Smbios, EFI_SMBIOS_HANDLE *Handle, SMBIOS_STRUCTURE **Record) {
  EFI_STATUS Status;

  *Record = NULL;
  Status = Smbios->GetNext(Smbios, Handle, NULL, Record, NULL);
  return !EFI_ERROR(Status) && *Record != NULL;
}

VOID ReadBiosVersion(SMBIOS_STRUCTURE *Structure) {
  CopySmbiosString(Structure, SmbiosByte(Structure, SMBIOS_BIOS_VERSION_STRING), mInventoryHeader.BiosVersion,
                   sizeof(mInventoryHeader.BiosVersion));
  mInventoryHeader.BiosPresent = 1;
}

VOID FillCpuRecord(SMBIOS_STRUCTURE *Structure) {
  CPU_RECORD *Record;
  UINT8 Index;

  Index = mCpuCount;
  if (mCpuArea == NULL || Index >= Number_Of_CPU) {
    return;
  }
  Record = &mCpuArea[Index];

  FillRecordHeader(&Record->Header, CPU_RECORD_BODY_LENGTH, RECORD_TYPE_CPU, Index, RECORD_KIND_SMBIOS);
  CopyMem(Record->Header.Name, Index == 0 ? mCpuName0 : mCpuName1, sizeof(mCpuName0));
  CopyMem(Record->CpuVendor, mCpuVendor, sizeof(mCpuVendor));
  mInventoryHeader.CpuPresent = 1;

  Record->CoreCount = SmbiosByte(Structure, SMBIOS_PROCESSOR_CORE_COUNT);
  Record->Header.Status = Record->CoreCount != 0 ? RECORD_STATUS_PRESENT : RECORD_STATUS_ABSENT;
  Record->ThreadCount = SmbiosByte(Structure, SMBIOS_PROCESSOR_THREAD_COUNT);
  Record->MaxSpeed = SmbiosWord(Structure, SMBIOS_PROCESSOR_MAX_SPEED);

  CopyMem(Record->CpuFamilyName, mCpuFamilyName, sizeof(mCpuFamilyName));
  CopySmbiosString(Structure, SmbiosByte(Structure, SMBIOS_PROCESSOR_VERSION_STRING), Record->CpuVersion,
                   sizeof(Record->CpuVersion));
}

// The type texts are converted straight into the record: the bytes are those of a
// conversion through scratch buffers, without allocations that could fail.
VOID FillDimmRecord(SMBIOS_STRUCTURE *Structure) {
  DIMM_RECORD *Record;
  UINT8 Index;
  UINT8 MemoryType;
  CHAR8 *Serial;
  UINT8 SerialLength;

  Index = mDimmCount;
  if (mDimmArea == NULL || Index >= Number_Of_DIMM) {
    return;
  }
  Record = &mDimmArea[Index];

  FillRecordHeader(&Record->Header, DIMM_RECORD_BODY_LENGTH, RECORD_TYPE_DIMM, Index, RECORD_KIND_SMBIOS);
  CopyMem(Record->DimmVoltage, mDimmVoltage, sizeof(mDimmVoltage));
  mInventoryHeader.DimmPresent = 1;

  CopySmbiosString(Structure, SmbiosByte(Structure, SMBIOS_MEMORY_DEVICE_LOCATOR_STRING), Record->Header.Name,
                   sizeof(Record->Header.Name));

  Record->DimmSize = SmbiosWord(Structure, SMBIOS_MEMORY_SIZE);
  Record->Header.Status = Record->DimmSize != 0 ? RECORD_STATUS_PRESENT : RECORD_STATUS_ABSENT;
  Record->DimmSpeed = SmbiosWord(Structure, SMBIOS_MEMORY_SPEED);

  CopySmbiosString(Structure, SmbiosByte(Structure, SMBIOS_MEMORY_MANUFACTURER_STRING), Record->DimmManufacturer,
                   sizeof(Record->DimmManufacturer));

  MemoryType = SmbiosByte(Structure, SMBIOS_MEMORY_TYPE);
  ByteToHexAscii(MemoryType, Record->DimmTypeText);
  WordToHexAscii(SmbiosWord(Structure, SMBIOS_MEMORY_TYPE_DETAIL), Record->DimmTypeDetailText);

  Serial = GetSmbiosString(Structure, Structure->Length, SmbiosByte(Structure, SMBIOS_MEMORY_SERIAL_NUMBER_STRING),
                           &SerialLength);
  if (MemoryType != SMBIOS_MEMORY_TYPE_UNKNOWN) {
    DecodeDimmSerial(Serial, Serial != NULL ? SerialLength : 0, Record->DimmSerial);
  }

  CopySmbiosString(Structure, SmbiosByte(Structure, SMBIOS_MEMORY_PART_NUMBER_STRING), Record->DimmPartNumber,
                   sizeof(Record->DimmPartNumber));
}

static VOID FindBiosInformation(EFI_SMBIOS_PROTOCOL *Smbios, EFI_SMBIOS_HANDLE *Handle) {
  SMBIOS_STRUCTURE *Record;
  UINT32 Steps;

  for (Steps = 0; Steps < SMBIOS_SEARCH_STEP_LIMIT; Steps++) {
    if (!NextStructure(Smbios, Handle, &Record)) {
      return;
    }
    if (Record->Type == SMBIOS_TYPE_BIOS_INFORMATION) {
      ReadBiosVersion(Record);
      return;
    }
  }
}

typedef VOID (*SMBIOS_RECORD_FILL)(SMBIOS_STRUCTURE *Structure);

// Takes the first unbroken run of Type from the handle on, up to Capacity records. The
// structure that ends a run is consumed.
static VOID CollectRun(EFI_SMBIOS_PROTOCOL *Smbios, EFI_SMBIOS_HANDLE *Handle, UINT8 Type, UINT8 *Count,
                       UINT8 Capacity, SMBIOS_RECORD_FILL Fill, CONST CHAR8 *CountFormat) {
  SMBIOS_STRUCTURE *Record;
  UINT32 Found;
  UINT32 Steps;

  Found = 0;
  Steps = 0;
  do {
    if (!NextStructure(Smbios, Handle, &Record)) {
      return;
    }
    if (Record->Type == Type) {
      Fill(Record);
      (*Count)++;
      Found++;
    }
    if (Found != 0 && Record->Type != Type) {
      return;
    }
    DEBUG((DEBUG_INFO, CountFormat, *Count));
  } while (*Count < Capacity && ++Steps < SMBIOS_SEARCH_STEP_LIMIT);
}

VOID CollectSmbiosInventory(VOID) {
  EFI_STATUS Status;
  EFI_SMBIOS_PROTOCOL *Smbios;
  EFI_SMBIOS_HANDLE Handle;

  Smbios = NULL;
  Status = LocateProtocolOf(&Smbios);
  ASSERT_EFI_ERROR(Status);
  if (EFI_ERROR(Status) || Smbios == NULL) {
    return;
  }

  // The three searches share the handle: one forward pass, nothing is seen twice.
  Handle = SMBIOS_HANDLE_PI_RESERVED;
  FindBiosInformation(Smbios, &Handle);

  CollectRun(Smbios, &Handle, SMBIOS_TYPE_PROCESSOR_INFORMATION, &mCpuCount, Number_Of_CPU, FillCpuRecord,
             "CpuCount = %x\n");
  mInventoryHeader.RecordCount = (UINT8)(mInventoryHeader.RecordCount + mCpuCount);

  CollectRun(Smbios, &Handle, SMBIOS_TYPE_MEMORY_DEVICE, &mDimmCount, Number_Of_DIMM, FillDimmRecord,
             "DimmCount = %x\n");
  DEBUG((DEBUG_INFO, "DimmCount = %x\n", mDimmCount));
  mInventoryHeader.RecordCount = (UINT8)(mInventoryHeader.RecordCount + mDimmCount);
}
