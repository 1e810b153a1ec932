// 64-bit arithmetic. Where the C++ operator would be undefined (a zero divisor, a shift of
// 64 or more) the call asserts and returns 0 instead of faulting.
#include <Uefi.h>
#include <Library/BaseLib.h>
#include <Library/DebugLib.h>

UINT64 MultU64x32(UINT64 Multiplicand, UINT32 Multiplier) { return Multiplicand * Multiplier; }

UINT64 DivU64x32(UINT64 Dividend, UINT32 Divisor) {
  ASSERT(Divisor != 0);
  if (Divisor == 0) {
    return 0;
  }
  return Dividend / Divisor;
}

UINT64 DivU64x64Remainder(UINT64 Dividend, UINT64 Divisor, UINT64 *Remainder) {
  ASSERT(Divisor != 0);
  if (Divisor == 0) {
    if (Remainder != NULL) {
      *Remainder = 0;
    }
    return 0;
  }
  if (Remainder != NULL) {
    *Remainder = Dividend % Divisor;
  }
  return Dividend / Divisor;
}

UINT64 LShiftU64(UINT64 Operand, UINTN Count) {
  ASSERT(Count < 64);
  return Count < 64 ? Operand << Count : 0;
}

UINT64 RShiftU64(UINT64 Operand, UINTN Count) {
  ASSERT(Count < 64);
  return Count < 64 ? Operand >> Count : 0;
}
