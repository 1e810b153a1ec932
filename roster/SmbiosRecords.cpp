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

// The state of the one forward pass: the handle every GetNext shares, and whether a
// GetNext has failed. EDK II's GetNext puts the handle back at the start of the table when
// it runs off the end, so once one fails the pass is over: a later GetNext would read the
// table again from the top.
typedef struct {
  EFI_SMBIOS_PROTOCOL *Smbios;
  EFI_SMBIOS_HANDLE Handle;
  BOOLEAN Ended;
} SMBIOS_PASS;

// One GetNext over all types. FALSE ends the search, and every search after it.
static BOOLEAN NextStructure(SMBIOS_PASS *Pass, SMBIOS_STRUCTURE **Record) {
  EFI_STATUS Status;

  *Record = NULL;
  if (Pass->Ended) {
    return FALSE;
  }
  Status = Pass->Smbios->GetNext(Pass->Smbios, &Pass->Handle, NULL, Record, NULL);
  if (EFI_ERROR(Status) || *Record == NULL) {
    Pass->Ended = TRUE;
    return FALSE;
  }
  return TRUE;
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

static VOID FindBiosInformation(SMBIOS_PASS *Pass) {
  SMBIOS_STRUCTURE *Record;
  UINT32 Steps;

  for (Steps = 0; Steps < SMBIOS_SEARCH_STEP_LIMIT; Steps++) {
    if (!NextStructure(Pass, &Record)) {
      return;
    }
    if (Record->Type == SMBIOS_TYPE_BIOS_INFORMATION) {
      ReadBiosVersion(Record);
      return;
    }
  }
}

typedef VOID (*SMBIOS_RECORD_FILL)(SMBIOS_STRUCTURE *Structure);

// Takes the first unbroken run of Type, up to Capacity records. The search begins with
// First when it is set, else with the next structure of the pass. The structure that
// ends a run goes to *Ending (NULL when the run ended otherwise); the caller decides
// whether it is consumed.
static VOID CollectRun(SMBIOS_PASS *Pass, SMBIOS_STRUCTURE *First, UINT8 Type, UINT8 *Count, UINT8 Capacity,
                       SMBIOS_RECORD_FILL Fill, CONST CHAR8 *CountFormat, SMBIOS_STRUCTURE **Ending) {
  SMBIOS_STRUCTURE *Record;
  UINT32 Found;
  UINT32 Steps;

  *Ending = NULL;
  Record = First;
  Found = 0;
  Steps = 0;
  do {
    if (Record == NULL && !NextStructure(Pass, &Record)) {
      return;
    }
    if (Record->Type == Type) {
      Fill(Record);
      (*Count)++;
      Found++;
    }
    if (Found != 0 && Record->Type != Type) {
      *Ending = Record;
      return;
    }
    DEBUG((DEBUG_INFO, CountFormat, *Count));
    Record = NULL;
  } while (*Count < Capacity && ++Steps < SMBIOS_SEARCH_STEP_LIMIT);
}

VOID CollectSmbiosInventory(VOID) {
  EFI_STATUS Status;
  SMBIOS_PASS Pass;
  SMBIOS_STRUCTURE *Ending;
  SMBIOS_STRUCTURE *FirstMemoryDevice;

  Pass.Smbios = NULL;
  Status = LocateProtocolOf(&Pass.Smbios);
  ASSERT_EFI_ERROR(Status);
  if (EFI_ERROR(Status) || Pass.Smbios == NULL) {
    return;
  }

  // The three searches share the handle: one forward pass, nothing is seen twice.
  Pass.Handle = SMBIOS_HANDLE_PI_RESERVED;
  Pass.Ended = FALSE;
  FindBiosInformation(&Pass);

  CollectRun(&Pass, NULL, SMBIOS_TYPE_PROCESSOR_INFORMATION, &mCpuCount, Number_Of_CPU, FillCpuRecord,
             "CpuCount = %x\n", &Ending);
  mInventoryHeader.RecordCount = (UINT8)(mInventoryHeader.RecordCount + mCpuCount);

  // A board that lists its memory devices right after its processor loses none of them:
  // a memory device that ends the processor run is the first of the memory search. Any
  // other structure that ends the run is consumed by it.
  FirstMemoryDevice = (Ending != NULL && Ending->Type == SMBIOS_TYPE_MEMORY_DEVICE) ? Ending : NULL;
  CollectRun(&Pass, FirstMemoryDevice, SMBIOS_TYPE_MEMORY_DEVICE, &mDimmCount, Number_Of_DIMM, FillDimmRecord,
             "DimmCount = %x\n", &Ending);
  DEBUG((DEBUG_INFO, "DimmCount = %x\n", mDimmCount));
  mInventoryHeader.RecordCount = (UINT8)(mInventoryHeader.RecordCount + mDimmCount);
}
