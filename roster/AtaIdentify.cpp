// ATA IDENTIFY data: capacity arithmetic and the string handling of model and serial.
#include <Library/BaseLib.h>
#include <Library/BaseMemoryLib.h>
#include <Library/DebugLib.h>
#include <Library/MemoryAllocationLib.h>

#include "Roster.h"

#define ATA_WORD_GENERAL_CONFIG 0
#define ATA_WORD_TOTAL_SECTORS_28 60
#define ATA_WORD_COMMAND_SET_SUPPORTED 83
#define ATA_WORD_TOTAL_SECTORS_48 100
#define ATA_WORD_SECTOR_SIZE_INFO 106
#define ATA_WORD_LOGICAL_SECTOR_SIZE 117

#define ATA_GENERAL_CONFIG_NOT_ATA 0x8000
#define ATA_COMMAND_SET_48BIT_ADDRESS 0x0400
#define ATA_SECTOR_SIZE_INFO_VALID_MASK 0xC000
#define ATA_SECTOR_SIZE_INFO_VALID 0x4000
#define ATA_SECTOR_SIZE_INFO_LONG_LOGICAL 0x1000
#define ATA_DEFAULT_SECTOR_SIZE 512

static UINT16 IdentifyWord(CONST UINT8 *IdentifyData, UINTN Word) { return ReadUnaligned16(IdentifyData + 2 * Word); }

static UINT32 IdentifyDword(CONST UINT8 *IdentifyData, UINTN Word) {
  return (UINT32)IdentifyWord(IdentifyData, Word) | ((UINT32)IdentifyWord(IdentifyData, Word + 1) << 16);
}

// Decimal gigabytes, most significant byte first. Sizes wrap to 16 bits as the receiver
// expects; an ATAPI device is left at 0.
VOID GetHddSize(UINT8 *IdentifyData) {
  UINT64 Sectors;
  UINT64 SectorSize;
  UINT16 SizeInfo;
  UINT32 DriveSize;
  UINT16 Gigabytes;
  UINT16 Stored;

  if ((IdentifyWord(IdentifyData, ATA_WORD_GENERAL_CONFIG) & ATA_GENERAL_CONFIG_NOT_ATA) != 0) {
    return;
  }

  if ((IdentifyWord(IdentifyData, ATA_WORD_COMMAND_SET_SUPPORTED) & ATA_COMMAND_SET_48BIT_ADDRESS) != 0) {
    Sectors = (UINT64)IdentifyDword(IdentifyData, ATA_WORD_TOTAL_SECTORS_48) |
              ((UINT64)IdentifyDword(IdentifyData, ATA_WORD_TOTAL_SECTORS_48 + 2) << 32);
  } else {
    Sectors = IdentifyDword(IdentifyData, ATA_WORD_TOTAL_SECTORS_28);
  }

  SizeInfo = IdentifyWord(IdentifyData, ATA_WORD_SECTOR_SIZE_INFO);
  if ((SizeInfo & ATA_SECTOR_SIZE_INFO_VALID_MASK) == ATA_SECTOR_SIZE_INFO_VALID &&
      (SizeInfo & ATA_SECTOR_SIZE_INFO_LONG_LOGICAL) != 0) {
    // Words 117 and 118 count 16-bit words.
    SectorSize = 2 * (UINT64)IdentifyDword(IdentifyData, ATA_WORD_LOGICAL_SECTOR_SIZE);
  } else {
    SectorSize = ATA_DEFAULT_SECTOR_SIZE;
  }

  DriveSize = (UINT32)(((Sectors / 1000) * SectorSize) / 1000);
  DEBUG((DEBUG_INFO, "\nDriveSize = %d\n", DriveSize));

  Gigabytes = (UINT16)(DriveSize / 1000);
  mSataInfo->HddSize[0] = (UINT8)(Gigabytes >> 8);
  mSataInfo->HddSize[1] = (UINT8)(Gigabytes & 0xFF);
  Stored = ReadUnaligned16(mSataInfo->HddSize);
  DEBUG((DEBUG_INFO, "\nTemp = %d\n", Stored));
  DEBUG((DEBUG_INFO, "HddSize = %d\n", Stored));
}

// ATA strings hold two characters per word, the first in the high byte.
VOID SwapBytePairs(UINT8 *Buffer, UINT16 Length) {
  UINT16 Index;
  UINT8 First;

  for (Index = 0; Index + 1 < Length; Index += 2) {
    First = Buffer[Index];
    Buffer[Index] = Buffer[Index + 1];
    Buffer[Index + 1] = First;
  }
}

static VOID DumpParsedBytes(CONST UINT8 *Buffer, UINT8 Length) {
  DumpBytes(Buffer, Length);
  DEBUG((DEBUG_INFO, "\n"));
}

// Moves the text over its leading blanks and NULs and fills the end with zero bytes. A
// buffer of nothing but blanks and NULs stays as it is.
VOID ParseString(UINT8 *Buffer, UINT8 Length) {
  UINT8 *Scratch;
  UINT8 Count;
  UINT8 Index;
  UINT8 Moved;

  if (Length == 0) {
    return;
  }
  Scratch = (UINT8 *)AllocateZeroPool(Length);
  DEBUG((DEBUG_INFO, "Parse string before....\n"));
  DumpParsedBytes(Buffer, Length);

  for (Count = 0; Count < Length && (Buffer[Count] == ' ' || Buffer[Count] == '\0'); Count++) {
  }
  if (Count == Length) {
    Count = 0;
  }

  // Without the scratch the move runs forward in place: every byte is read before it is
  // overwritten, so the result is the same.
  for (Index = 0; Index < Length; Index++) {
    Moved = (UINT8)((UINT32)Index + Count < Length ? Buffer[Index + Count] : 0);
    if (Scratch != NULL) {
      Scratch[Index] = Moved;
    } else {
      Buffer[Index] = Moved;
    }
  }
  DEBUG((DEBUG_INFO, "Count = %x\n", Count));

  if (Scratch != NULL) {
    CopyMem(Buffer, Scratch, Length);
    FreePool(Scratch);
  }
  DEBUG((DEBUG_INFO, "Parse string after......\n"));
  DumpParsedBytes(Buffer, Length);
}
