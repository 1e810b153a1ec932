#include "MemoryRoutinesCheck.h"

extern "C" {
VOID *memcpy(VOID *Destination, CONST VOID *Source, size_t Length);
VOID *memmove(VOID *Destination, CONST VOID *Source, size_t Length);
VOID *memset(VOID *Buffer, int Value, size_t Length);
int memcmp(CONST VOID *First, CONST VOID *Second, size_t Length);
}

namespace {

constexpr UINTN kLength = 64;

VOID FillCounting(UINT8 *Buffer, UINTN Length) {
  for (UINTN Index = 0; Index < Length; Index++) {
    Buffer[Index] = (UINT8)(Index + 1);
  }
}

// After moving Length bytes from Buffer + From to Buffer + To, each destination byte
// must hold the value the source had before the move.
BOOLEAN OverlappingMoveKeepsSource(UINTN From, UINTN To, UINTN Length) {
  UINT8 Buffer[kLength];
  FillCounting(Buffer, kLength);
  memmove(Buffer + To, Buffer + From, Length);
  for (UINTN Index = 0; Index < Length; Index++) {
    if (Buffer[To + Index] != (UINT8)(From + Index + 1)) {
      return FALSE;
    }
  }
  return TRUE;
}

BOOLEAN CopySetCompareWork(VOID) {
  UINT8 Source[kLength];
  UINT8 Destination[kLength];
  FillCounting(Source, kLength);
  // Odd lengths and offsets reach the byte tails that wide copies leave over.
  memset(Destination, 0xA5, kLength);
  memcpy(Destination + 3, Source + 1, 37);
  if (Destination[2] != 0xA5 || Destination[3] != 2 || Destination[39] != 38 || Destination[40] != 0xA5) {
    return FALSE;
  }
  memset(Destination + 5, 0, 33);
  if (Destination[4] != 3 || Destination[5] != 0 || Destination[37] != 0 || Destination[38] != 37) {
    return FALSE;
  }
  UINT8 Low[3] = {1, 2, 3};
  UINT8 High[3] = {1, 2, 0xF0};
  return memcmp(Low, High, 3) < 0 && memcmp(High, Low, 3) > 0 && memcmp(Low, Low, 3) == 0 && memcmp(Low, High, 2) == 0;
}

}  // namespace

BOOLEAN MemoryRoutinesWork(VOID) {
  return CopySetCompareWork() && OverlappingMoveKeepsSource(0, 7, 41) &&  // destination above the source
         OverlappingMoveKeepsSource(9, 2, 45) &&  // destination below the source
         OverlappingMoveKeepsSource(4, 4, 20);  // the same place
}
