// Little-endian access at any byte address (record fields are packed without alignment).
#include <Uefi.h>
#include <Library/BaseLib.h>

static UINT64 ReadLittleEndian(CONST VOID *Buffer, UINTN Bytes) {
  CONST UINT8 *Source = (CONST UINT8 *)Buffer;
  UINT64 Value = 0;
  UINTN Index;

  for (Index = Bytes; Index > 0; Index--) {
    Value = (Value << 8) | Source[Index - 1];
  }
  return Value;
}

static VOID WriteLittleEndian(VOID *Buffer, UINTN Bytes, UINT64 Value) {
  UINT8 *Target = (UINT8 *)Buffer;
  UINTN Index;

  for (Index = 0; Index < Bytes; Index++) {
    Target[Index] = (UINT8)(Value >> (8 * Index));
  }
}

UINT16 ReadUnaligned16(CONST VOID *Buffer) { return (UINT16)ReadLittleEndian(Buffer, 2); }
UINT32 ReadUnaligned32(CONST VOID *Buffer) { return (UINT32)ReadLittleEndian(Buffer, 4); }
UINT64 ReadUnaligned64(CONST VOID *Buffer) { return ReadLittleEndian(Buffer, 8); }

UINT16 WriteUnaligned16(VOID *Buffer, UINT16 Value) {
  WriteLittleEndian(Buffer, 2, Value);
  return Value;
}

UINT32 WriteUnaligned32(VOID *Buffer, UINT32 Value) {
  WriteLittleEndian(Buffer, 4, Value);
  return Value;
}

UINT64 WriteUnaligned64(VOID *Buffer, UINT64 Value) {
  WriteLittleEndian(Buffer, 8, Value);
  return Value;
}
