// The CodeView debug path of a loaded PE32, PE32+ or TE image, following EDK II's walk:
// DOS header, then the PE or TE header, the debug data directory, the first CodeView entry.
// The image's size is not known here, so only what the headers themselves can betray is
// checked: a debug directory claiming an absurd number of entries is not followed.
#include <Uefi.h>
#include <Library/BaseLib.h>
#include <Library/PeCoffGetEntryPointLib.h>

static constexpr UINT16 kDosSignature = 0x5A4D;  // "MZ"
static constexpr UINT16 kTeSignature = 0x5A56;  // "VZ"
static constexpr UINT32 kPeSignature = 0x00004550;  // "PE\0\0"
static constexpr UINTN kDosNewHeaderOffset = 0x3C;

static constexpr UINT16 kMachineIa32 = 0x014C;
static constexpr UINT16 kMachineX64 = 0x8664;
static constexpr UINT16 kMachineIa64 = 0x0200;
static constexpr UINT16 kPe32Magic = 0x10B;
static constexpr UINT16 kPe32PlusMagic = 0x20B;

// PE header offsets (from the "PE\0\0" signature).
static constexpr UINTN kPeMachineOffset = 4;
static constexpr UINTN kPeMagicOffset = 24;
static constexpr UINTN kPe32NumberOfRvaAndSizesOffset = 116;
static constexpr UINTN kPe32DebugDirectoryOffset = 168;
static constexpr UINTN kPe32PlusNumberOfRvaAndSizesOffset = 132;
static constexpr UINTN kPe32PlusDebugDirectoryOffset = 184;
static constexpr UINT32 kDebugDirectoryIndex = 6;

// TE header: 40 bytes; StrippedSize at 6, the debug data directory at 32.
static constexpr UINTN kTeHeaderSize = 40;
static constexpr UINTN kTeStrippedSizeOffset = 6;
static constexpr UINTN kTeDebugDirectoryOffset = 32;

// Debug directory entry: 28 bytes; Type at 12, SizeOfData at 16, RVA at 20.
static constexpr UINTN kDebugEntrySize = 28;
static constexpr UINTN kDebugEntryTypeOffset = 12;
static constexpr UINTN kDebugEntrySizeOfDataOffset = 16;
static constexpr UINTN kDebugEntryRvaOffset = 20;
static constexpr UINT32 kDebugTypeCodeView = 2;
static constexpr UINTN kMaxDebugEntries = 256;

// CodeView signatures and the header each puts before the path.
static constexpr UINT32 kCodeViewNb10 = 0x3031424E;
static constexpr UINT32 kCodeViewRsds = 0x53445352;
static constexpr UINT32 kCodeViewMtoc = 0x434F544D;
static constexpr UINTN kCodeViewNb10HeaderSize = 16;
static constexpr UINTN kCodeViewRsdsHeaderSize = 24;
static constexpr UINTN kCodeViewMtocHeaderSize = 20;

// Addresses are kept as integers: a TE image's adjustment is negative, and integer
// arithmetic wraps where pointer arithmetic may not.
static UINT16 Read16(UINTN Address) { return ReadUnaligned16((CONST VOID *)Address); }
static UINT32 Read32(UINTN Address) { return ReadUnaligned32((CONST VOID *)Address); }

VOID *PeCoffLoaderGetPdbPointer(VOID *Pe32Data) {
  UINTN Base;
  UINTN Header;
  UINTN DebugEntry;
  UINT32 DirectorySize;
  UINTN TeAdjust;
  UINTN Offset;
  UINTN Count;

  if (Pe32Data == NULL) {
    return NULL;
  }
  Base = (UINTN)Pe32Data;
  Header = Base;
  if (Read16(Base) == kDosSignature) {
    Header = Base + (Read32(Base + kDosNewHeaderOffset) & 0xFFFF);
  }

  DebugEntry = 0;
  DirectorySize = 0;
  TeAdjust = 0;

  if (Read16(Header) == kTeSignature) {
    UINT32 DirectoryRva = Read32(Header + kTeDebugDirectoryOffset);
    if (DirectoryRva != 0) {
      TeAdjust = kTeHeaderSize - (UINTN)Read16(Header + kTeStrippedSizeOffset);
      DirectorySize = Read32(Header + kTeDebugDirectoryOffset + 4);
      DebugEntry = Header + DirectoryRva + TeAdjust;
    }
  } else if (Read32(Header) == kPeSignature) {
    // The machine decides which optional-header layout is read, as EDK II does it; a PE32+
    // layout is only read when the header really says PE32+.
    UINT16 RealMagic = Read16(Header + kPeMagicOffset);
    UINT16 Machine = Read16(Header + kPeMachineOffset);
    UINT16 Magic = RealMagic;
    UINT32 NumberOfRvaAndSizes;
    UINTN Directory;

    if (Machine == kMachineIa32) {
      Magic = kPe32Magic;
    } else if (Machine == kMachineX64 || Machine == kMachineIa64) {
      Magic = kPe32PlusMagic;
    }

    NumberOfRvaAndSizes = 0;
    Directory = 0;
    if (Magic == kPe32Magic) {
      NumberOfRvaAndSizes = Read32(Header + kPe32NumberOfRvaAndSizesOffset);
      Directory = Header + kPe32DebugDirectoryOffset;
    } else if (RealMagic == kPe32PlusMagic) {
      NumberOfRvaAndSizes = Read32(Header + kPe32PlusNumberOfRvaAndSizesOffset);
      Directory = Header + kPe32PlusDebugDirectoryOffset;
    }
    if (Directory != 0 && NumberOfRvaAndSizes > kDebugDirectoryIndex) {
      UINT32 DirectoryRva = Read32(Directory);
      if (DirectoryRva != 0) {
        DirectorySize = Read32(Directory + 4);
        DebugEntry = Base + DirectoryRva;
      }
    }
  }

  if (DebugEntry == 0) {
    return NULL;
  }

  for (Offset = 0, Count = 0; Offset < DirectorySize && Count < kMaxDebugEntries; Offset += kDebugEntrySize, Count++) {
    UINTN Entry = DebugEntry + Offset;
    UINTN CodeView;

    if (Read32(Entry + kDebugEntryTypeOffset) != kDebugTypeCodeView ||
        Read32(Entry + kDebugEntrySizeOfDataOffset) == 0) {
      continue;
    }
    CodeView = Base + Read32(Entry + kDebugEntryRvaOffset) + TeAdjust;
    switch (Read32(CodeView)) {
      case kCodeViewNb10:
        return (VOID *)(CodeView + kCodeViewNb10HeaderSize);
      case kCodeViewRsds:
        return (VOID *)(CodeView + kCodeViewRsdsHeaderSize);
      case kCodeViewMtoc:
        return (VOID *)(CodeView + kCodeViewMtocHeaderSize);
      default:
        break;
    }
  }
  return NULL;
}
