// SATA step: one SATA_INFO message per AHCI drive on a known port, then one per known port
// that no drive claimed.
#include <Library/BaseMemoryLib.h>
#include <Library/DebugLib.h>
#include <Library/MemoryAllocationLib.h>
#include <Library/UefiBootServicesTableLib.h>

#include "Roster.h"

#define IDENTIFY_DATA_SIZE 512
#define ATA_SERIAL_OFFSET 20
#define ATA_SERIAL_LENGTH 20
#define ATA_MODEL_OFFSET 54
#define ATA_MODEL_LENGTH 40
#define SATA_SEND_ATTEMPTS 3

SATA_INFO *mSataInfo;
SATA_INFO *mSataSendBuffer;

// Scratch of one pass, freed together.
struct SATA_SCRATCH {
  UINT8 *Identify;
  UINT8 *Model;
  UINT8 *Serial;
};

EFI_STATUS SendSataMessage(VOID) {
  EFI_STATUS Status;
  UINT32 Attempt;
  UINT8 Response[1];
  UINT8 ResponseLength;

  if (mManagementTransport == NULL) {
    return EFI_NOT_READY;
  }
  Status = EFI_NOT_READY;
  for (Attempt = 0; Attempt < SATA_SEND_ATTEMPTS; Attempt++) {
    ResponseLength = sizeof(Response);
    Status = mManagementTransport->SendCommand(mManagementTransport, SATA_INFO_COMMAND_HEADER, mSataSendBuffer,
                                               sizeof(SATA_INFO), Response, &ResponseLength, NULL);
    DEBUG((DEBUG_INFO, "Send Sata hdd information status = %r\n", Status));
    if (!EFI_ERROR(Status)) {
      break;
    }
  }
  return Status;
}

VOID DumpBytes(CONST UINT8 *Bytes, UINT32 Count) {
  UINT32 Index;

  for (Index = 0; Index < Count; Index++) {
    if (Index != 0 && Index % BYTES_PER_LINE == 0) {
      DEBUG((DEBUG_INFO, "\n"));
    }
    DEBUG((DEBUG_INFO, "%02x ", Bytes[Index]));
  }
}

VOID DumpSataMessage(VOID) { DumpBytes((CONST UINT8 *)mSataSendBuffer, sizeof(SATA_INFO)); }

static VOID ClearSataMessage(VOID) {
  ZeroMem(mSataSendBuffer, sizeof(SATA_INFO));
  ZeroMem(mSataInfo, sizeof(SATA_INFO));
}

static VOID PrintCharacters(CONST UINT8 *Text, UINTN Length) {
  UINTN Index;

  for (Index = 0; Index < Length; Index++) {
    DEBUG((DEBUG_INFO, "%c", Text[Index]));
  }
}

// Reports the drive on one Disk Info handle. A handle that is no AHCI disk, or whose port
// or IDENTIFY data cannot be had, is not reported and strikes no entry.
static VOID ReportDrive(EFI_HANDLE *Handles, UINTN Index, SATA_SCRATCH *Scratch) {
  EFI_STATUS Status;
  EFI_DISK_INFO_PROTOCOL *DiskInfo;
  UINT32 IdentifySize;

  DiskInfo = NULL;
  Status = HandleProtocolOf(Handles[Index], &DiskInfo);
  ASSERT_EFI_ERROR(Status);
  if (EFI_ERROR(Status) || DiskInfo == NULL) {
    return;
  }
  if (!CompareGuid(&DiskInfo->Interface, &gEfiDiskInfoAhciInterfaceGuid)) {
    return;
  }

  DEBUG((DEBUG_INFO, "Find sata device ...Index = %x\n", (UINT32)Index));
  mSataInfo->SataPresent = 1;
  if (!GetSataPortId(Handles, Index)) {
    ClearSataMessage();
    return;
  }

  // Fresh data per drive: a short answer must not leave the previous drive's bytes behind.
  ZeroMem(Scratch->Identify, IDENTIFY_DATA_SIZE);
  IdentifySize = IDENTIFY_DATA_SIZE;
  Status = DiskInfo->Identify(DiskInfo, Scratch->Identify, &IdentifySize);
  ASSERT_EFI_ERROR(Status);
  if (EFI_ERROR(Status)) {
    ClearSataMessage();
    return;
  }

  CopyMem(Scratch->Serial, Scratch->Identify + ATA_SERIAL_OFFSET, ATA_SERIAL_LENGTH);
  SwapBytePairs(Scratch->Serial, ATA_SERIAL_LENGTH);
  ParseString(Scratch->Serial, ATA_SERIAL_LENGTH);
  CopyMem(mSataInfo->SerialNumber, Scratch->Serial, ATA_SERIAL_LENGTH);
  PrintCharacters(Scratch->Serial, ATA_SERIAL_LENGTH);

  CopyMem(Scratch->Model, Scratch->Identify + ATA_MODEL_OFFSET, ATA_MODEL_LENGTH);
  SwapBytePairs(Scratch->Model, ATA_MODEL_LENGTH);
  Scratch->Model[ATA_MODEL_LENGTH - 1] = 0;
  CopyMem(mSataInfo->ModelNumber, Scratch->Model, ATA_MODEL_LENGTH);
  PrintCharacters(Scratch->Model, ATA_MODEL_LENGTH);

  GetHddSize(Scratch->Identify);
  CreateSataIndex(mSataInfo->SataPort);
  CopyMem(mSataSendBuffer, mSataInfo, sizeof(SATA_INFO));
  SendSataMessage();
  CompareSataEntry(mSataInfo->SataPort);
  DumpSataMessage();
  ClearSataMessage();
}

static VOID ReportEmptyPort(UINT8 Index) {
  DEBUG((DEBUG_INFO, "A[%x] = %x\n", Index, SataPortTable[Index]));
  if (SataPortTable[Index] == SATA_PORT_STRUCK) {
    return;
  }
  DEBUG((DEBUG_INFO, "No Sata hdd information...\n"));
  mSataInfo->SataPort = SataPortTable[Index];
  mSataInfo->SataIndex = Index;
  DEBUG((DEBUG_INFO, "SataPort = %x\n", mSataInfo->SataPort));
  DEBUG((DEBUG_INFO, "SataIndex = %x\n", mSataInfo->SataIndex));

  CopyMem(mSataSendBuffer, mSataInfo, sizeof(SATA_INFO));
  DEBUG((DEBUG_INFO, "No Sata hdd Sata Port Id = %x\n", mSataInfo->SataPort));
  SendSataMessage();
  DumpSataMessage();
  ClearSataMessage();
}

static VOID FreeIfAllocated(VOID *Buffer) {
  if (Buffer != NULL) {
    FreePool(Buffer);
  }
}

EFI_STATUS SendSataInventory(VOID) {
  EFI_STATUS Status;
  EFI_HANDLE *Handles;
  UINTN HandleCount;
  UINTN Index;
  SATA_SCRATCH Scratch;

  Handles = NULL;
  Scratch.Identify = NULL;
  Scratch.Model = NULL;
  Scratch.Serial = NULL;

  mSataInfo = (SATA_INFO *)AllocateZeroPool(sizeof(SATA_INFO));
  mSataSendBuffer = (SATA_INFO *)AllocateZeroPool(sizeof(SATA_INFO));
  if (mSataInfo == NULL || mSataSendBuffer == NULL) {
    Status = EFI_OUT_OF_RESOURCES;
    goto Done;
  }
  DEBUG((DEBUG_INFO, "Define Sata device compare data ...\n"));
  DEBUG((DEBUG_INFO, "A[0] = %x\n", SataPortTable[0]));
  DEBUG((DEBUG_INFO, "A[1] = %x\n", SataPortTable[1]));
  DEBUG((DEBUG_INFO, "Inventory Sata entry...\n"));

  HandleCount = 0;
  Status = gBS->LocateHandleBuffer(ByProtocol, &gEfiDiskInfoProtocolGuid, NULL, &HandleCount, &Handles);
  if (EFI_ERROR(Status) || Handles == NULL) {
    HandleCount = 0;
  }
  DEBUG((DEBUG_INFO, "Locate DiskInfo Protocol Status =%r...\n", Status));
  DEBUG((DEBUG_INFO, "HandleCount = %x\n", (UINT32)HandleCount));

  // Without its scratch no drive can be told apart from an empty port: report nothing.
  Scratch.Identify = (UINT8 *)AllocateZeroPool(IDENTIFY_DATA_SIZE);
  Scratch.Model = (UINT8 *)AllocateZeroPool(ATA_MODEL_LENGTH);
  Scratch.Serial = (UINT8 *)AllocateZeroPool(ATA_SERIAL_LENGTH);
  if (Scratch.Identify == NULL || Scratch.Model == NULL || Scratch.Serial == NULL) {
    Status = EFI_OUT_OF_RESOURCES;
    goto Done;
  }

  for (Index = 0; Index < HandleCount; Index++) {
    ReportDrive(Handles, Index, &Scratch);
  }

  DEBUG((DEBUG_INFO, "\n"));
  DEBUG((DEBUG_INFO, "NUMBER_OF_SATA = %d\n", NUMBER_OF_SATA));
  DEBUG((DEBUG_INFO, "sizeof(SATA_INFO) = %d\n", (UINT32)sizeof(SATA_INFO)));
  // The text stays as log readers know it; the value is the message's size.
  DEBUG((DEBUG_INFO, "sizeof(UINT8)*65 = %d\n", (UINT32)(sizeof(UINT8) * sizeof(SATA_INFO))));
  for (Index = 0; Index < NUMBER_OF_SATA; Index++) {
    ReportEmptyPort((UINT8)Index);
  }
  Status = EFI_SUCCESS;

Done:
  FreeIfAllocated(mSataInfo);
  FreeIfAllocated(Scratch.Identify);
  FreeIfAllocated(Scratch.Model);
  FreeIfAllocated(Scratch.Serial);
  FreeIfAllocated(mSataSendBuffer);
  // The handle buffer belongs to this step too.
  FreeIfAllocated(Handles);
  mSataInfo = NULL;
  mSataSendBuffer = NULL;
  return Status;
}
