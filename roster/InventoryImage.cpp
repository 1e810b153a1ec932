// The inventory image: header seal (signature, sizes, CRC), assembly from the record areas
// and delivery to the management controller, followed by the SATA step.
#include <Library/BaseLib.h>
#include <Library/BaseMemoryLib.h>
#include <Library/DebugLib.h>
#include <Library/UefiBootServicesTableLib.h>

#include "Roster.h"

MANAGEMENT_TRANSPORT_PROTOCOL *mManagementTransport;

// Only so many image bytes are dumped: enough to show the header.
#define IMAGE_DUMP_LIMIT 100

// The identity group holds the word at 6, then 4, then 10, then 8: two 32-bit values whose
// high halves are the words at 4 and 8.
VOID ReadPlatformIdentity(VOID) {
  EFI_STATUS Status;
  PLATFORM_IDENTITY_PROTOCOL *Identity;
  UINT8 Group[8];

  Identity = NULL;
  Status = LocateProtocolOf(&Identity);
  if (EFI_ERROR(Status) || Identity == NULL) {
    return;
  }

  WriteUnaligned16(&Group[0], Identity->Word6);
  WriteUnaligned16(&Group[2], Identity->Word4);
  WriteUnaligned16(&Group[4], Identity->Word10);
  WriteUnaligned16(&Group[6], Identity->Word8);
  CopyMem(mInventoryHeader.IdentityWords, Group, sizeof(Group));
  CopyMem(mInventoryHeader.IdentityWordsCopy, Group, sizeof(Group));
  mInventoryHeader.IdentityPresent = 1;
}

// A line break first, then the bytes as DumpBytes prints them. Unlike the other dumps this
// one also breaks after a last full line: its breaks follow every sixteenth byte rather
// than precede the seventeenth.
static VOID DumpImageStart(CONST UINT8 *Image, UINT32 TotalSize) {
  UINT32 Shown;

  Shown = TotalSize < IMAGE_DUMP_LIMIT ? TotalSize : IMAGE_DUMP_LIMIT;
  DEBUG((DEBUG_INFO, "\n"));
  DumpBytes(Image, Shown);
  if (Shown != 0 && Shown % BYTES_PER_LINE == 0) {
    DEBUG((DEBUG_INFO, "\n"));
  }
}

// Copies Count records of RecordSize bytes from Area to Image at Offset; returns the next offset.
static UINT32 AppendArea(UINT8 *Image, UINT32 Offset, CONST VOID *Area, UINT8 Count, UINT32 RecordSize) {
  if (Count != 0 && Area != NULL) {
    CopyMem(Image + Offset, Area, (UINTN)Count * RecordSize);
    Offset += (UINT32)Count * RecordSize;
  }
  return Offset;
}

EFI_STATUS AssembleAndSendInventory(VOID) {
  EFI_STATUS Status;
  UINT32 TotalSize;
  UINT32 Offset;
  UINT32 Crc;
  UINT8 *Image;
  UINT8 Response[1];
  UINT8 ResponseLength;

  TotalSize = InventoryImageSize(mCpuCount, mDimmCount, mPciCount);
  mInventoryHeader.Crc32 = 0;
  mInventoryHeader.Reserved19 = 0;
  mInventoryHeader.Signature = INVENTORY_SIGNATURE;
  mInventoryHeader.HeaderVersion = INVENTORY_HEADER_VERSION;
  mInventoryHeader.HeaderSize = TotalSize - INVENTORY_UNCOUNTED_PREFIX;

  DEBUG((DEBUG_INFO, "Inventory data TotalSize = %d\n", TotalSize));
  DEBUG((DEBUG_INFO, "Inventory data HeaderSize = %d\n", TotalSize - INVENTORY_UNCOUNTED_PREFIX));

  Image = NULL;
  Status = gBS->AllocatePool(EfiBootServicesData, TotalSize, (VOID **)&Image);
  ASSERT_EFI_ERROR(Status);
  if (EFI_ERROR(Status) || Image == NULL) {
    return EFI_ERROR(Status) ? Status : EFI_OUT_OF_RESOURCES;
  }

  CopyMem(Image, &mInventoryHeader, sizeof(mInventoryHeader));
  Offset = sizeof(mInventoryHeader);
  Offset = AppendArea(Image, Offset, mCpuArea, mCpuCount, sizeof(CPU_RECORD));
  Offset = AppendArea(Image, Offset, mDimmArea, mDimmCount, sizeof(DIMM_RECORD));
  AppendArea(Image, Offset, mPciArea, mPciCount, sizeof(PCI_RECORD));

  DumpImageStart(Image, TotalSize);

  Crc = 0;
  Status = gBS->CalculateCrc32(Image + INVENTORY_UNCOUNTED_PREFIX, TotalSize - INVENTORY_UNCOUNTED_PREFIX, &Crc);
  DEBUG((DEBUG_INFO, "InvData CalCrc32 Status = %r\n", Status));
  DEBUG((DEBUG_INFO, "CalCrc32 = %d\n", Crc));
  if (!EFI_ERROR(Status)) {
    mInventoryHeader.Crc32 = Crc;
  }
  DEBUG((DEBUG_INFO, "CalCrc32 = %x\n", Crc));
  CopyMem(Image, &mInventoryHeader, sizeof(mInventoryHeader));

  mManagementTransport = NULL;
  Status = LocateProtocolOf(&mManagementTransport);
  if (!EFI_ERROR(Status) && mManagementTransport != NULL) {
    ResponseLength = sizeof(Response);
    Status = mManagementTransport->SendLargeCommand(mManagementTransport, INVENTORY_COMMAND_HEADER, Image, TotalSize,
                                                    Response, &ResponseLength, NULL);
    DEBUG((DEBUG_INFO, "Inventory Status = %r\n", Status));
    SendSataInventory();
  } else {
    mManagementTransport = NULL;
  }

  gBS->FreePool(Image);
  return Status;
}
