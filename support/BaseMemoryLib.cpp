// Memory primitives without any firmware call: usable at any TPL, in notifications and at runtime.
#include <Uefi.h>
#include <Library/BaseMemoryLib.h>

VOID *CopyMem(VOID *Destination, CONST VOID *Source, UINTN Length) {
  UINT8 *Dst = (UINT8 *)Destination;
  CONST UINT8 *Src = (CONST UINT8 *)Source;
  if (Length == 0 || Dst == Src) {
    return Destination;
  }
  // Overlapping buffers are copied in the direction that reads each byte before it is overwritten.
  if (Dst < Src || Dst >= Src + Length) {
    UINTN Index;

    for (Index = 0; Index < Length; Index++) {
      Dst[Index] = Src[Index];
    }
  } else {
    UINTN Index;

    for (Index = Length; Index > 0; Index--) {
      Dst[Index - 1] = Src[Index - 1];
    }
  }
  return Destination;
}

VOID *SetMem(VOID *Buffer, UINTN Length, UINT8 Value) {
  UINT8 *Bytes = (UINT8 *)Buffer;
  UINTN Index;

  for (Index = 0; Index < Length; Index++) {
    Bytes[Index] = Value;
  }
  return Buffer;
}

VOID *ZeroMem(VOID *Buffer, UINTN Length) { return SetMem(Buffer, Length, 0); }

INTN CompareMem(CONST VOID *First, CONST VOID *Second, UINTN Length) {
  CONST UINT8 *Left = (CONST UINT8 *)First;
  CONST UINT8 *Right = (CONST UINT8 *)Second;
  UINTN Index;

  for (Index = 0; Index < Length; Index++) {
    if (Left[Index] != Right[Index]) {
      return (INTN)Left[Index] - (INTN)Right[Index];
    }
  }
  return 0;
}

BOOLEAN CompareGuid(CONST EFI_GUID *First, CONST EFI_GUID *Second) {
  return CompareMem(First, Second, sizeof(EFI_GUID)) == 0 ? TRUE : FALSE;
}

EFI_GUID *CopyGuid(EFI_GUID *Destination, CONST EFI_GUID *Source) {
  CopyMem(Destination, Source, sizeof(EFI_GUID));
  return Destination;
}
