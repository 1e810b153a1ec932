#include "PortIo.h"
#include <Protocol/CpuIo2.h>

namespace {

constexpr UINT64 kDebugConsolePort = 0x402;
constexpr UINT64 kFwCfgSelectorPort = 0x510;
constexpr UINT64 kFwCfgDataPort = 0x511;
constexpr UINT16 kFwCfgSignatureItem = 0x0000;
constexpr UINT16 kFwCfgFileDirectoryItem = 0x0019;
// A directory entry: size (big-endian 32), selector (big-endian 16), reserved, name[56].
constexpr UINTN kFwCfgFileEntrySize = 64;
constexpr UINTN kFwCfgFileNameSize = 56;
// QEMU keeps far fewer files than this; the bound only stops a bad count.
constexpr UINT32 kFwCfgFileCountMax = 0x1000;

EFI_CPU_IO2_PROTOCOL *mCpuIo = NULL;
CHAR8 mLine[256];

UINT32 BigEndian32(CONST UINT8 *Bytes) {
  return ((UINT32)Bytes[0] << 24) | ((UINT32)Bytes[1] << 16) | ((UINT32)Bytes[2] << 8) | Bytes[3];
}

VOID FwCfgSelect(UINT16 Item) { mCpuIo->Io.Write(mCpuIo, EfiCpuIoWidthUint16, kFwCfgSelectorPort, 1, &Item); }

VOID FwCfgRead(VOID *Buffer, UINTN Length) {
  if (Length != 0) {
    mCpuIo->Io.Read(mCpuIo, EfiCpuIoWidthFifoUint8, kFwCfgDataPort, Length, Buffer);
  }
}

BOOLEAN SameName(CONST CHAR8 *Entry, CONST CHAR8 *Name) {
  UINTN Index = 0;
  for (; Index < kFwCfgFileNameSize && Name[Index] != '\0'; Index++) {
    if (Entry[Index] != Name[Index]) {
      return FALSE;
    }
  }
  return Index < kFwCfgFileNameSize && Entry[Index] == '\0';
}

}  // namespace

EFI_STATUS PortIoInit(EFI_BOOT_SERVICES *BootServices) {
  return BootServices->LocateProtocol(&gEfiCpuIo2ProtocolGuid, NULL, (VOID **)&mCpuIo);
}

VOID DebugConsoleWrite(CONST CHAR16 *Piece, UINTN Length) {
  if (mCpuIo == NULL) {
    return;
  }
  while (Length > 0) {
    UINTN Count = Length < sizeof(mLine) ? Length : sizeof(mLine);
    for (UINTN Index = 0; Index < Count; Index++) {
      mLine[Index] = (CHAR8)Piece[Index];
    }
    mCpuIo->Io.Write(mCpuIo, EfiCpuIoWidthFifoUint8, kDebugConsolePort, Count, mLine);
    Piece += Count;
    Length -= Count;
  }
}

VOID DebugConsoleWriteDirect(CONST CHAR16 *Piece, UINTN Length) {
  UINTN Index;
  for (Index = 0; Index < Length; Index++) {
    UINT8 Byte = (UINT8)Piece[Index];
    __asm__ __volatile__("outb %0, %1" : : "a"(Byte), "Nd"((UINT16)kDebugConsolePort));
  }
}

EFI_STATUS FwCfgReadFile(CONST CHAR8 *Name, VOID *Buffer, UINTN Capacity, UINTN *Size) {
  if (mCpuIo == NULL) {
    return EFI_NOT_READY;
  }
  UINT8 Signature[4];
  FwCfgSelect(kFwCfgSignatureItem);
  FwCfgRead(Signature, sizeof(Signature));
  if (Signature[0] != 'Q' || Signature[1] != 'E' || Signature[2] != 'M' || Signature[3] != 'U') {
    return EFI_UNSUPPORTED;
  }
  UINT8 CountBytes[4];
  FwCfgSelect(kFwCfgFileDirectoryItem);
  FwCfgRead(CountBytes, sizeof(CountBytes));
  UINT32 Count = BigEndian32(CountBytes);
  if (Count > kFwCfgFileCountMax) {
    return EFI_VOLUME_CORRUPTED;
  }
  for (UINT32 Index = 0; Index < Count; Index++) {
    UINT8 Entry[kFwCfgFileEntrySize];
    FwCfgRead(Entry, sizeof(Entry));
    if (!SameName((CONST CHAR8 *)&Entry[8], Name)) {
      continue;
    }
    UINT32 FileSize = BigEndian32(&Entry[0]);
    UINT16 Item = (UINT16)((Entry[4] << 8) | Entry[5]);
    *Size = FileSize;
    FwCfgSelect(Item);
    FwCfgRead(Buffer, FileSize < Capacity ? FileSize : Capacity);
    return FileSize <= Capacity ? EFI_SUCCESS : EFI_BUFFER_TOO_SMALL;
  }
  return EFI_NOT_FOUND;
}
