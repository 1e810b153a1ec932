#pragma once
#include <Uefi.h>

UINTN AsciiStrLen(CONST CHAR8 *String);
UINTN AsciiStrSize(CONST CHAR8 *String);
UINTN StrLen(CONST CHAR16 *String);
UINTN StrSize(CONST CHAR16 *String);

UINT16 ReadUnaligned16(CONST VOID *Buffer);
UINT32 ReadUnaligned32(CONST VOID *Buffer);
UINT64 ReadUnaligned64(CONST VOID *Buffer);
UINT16 WriteUnaligned16(VOID *Buffer, UINT16 Value);
UINT32 WriteUnaligned32(VOID *Buffer, UINT32 Value);
UINT64 WriteUnaligned64(VOID *Buffer, UINT64 Value);

UINT64 MultU64x32(UINT64 Multiplicand, UINT32 Multiplier);
UINT64 DivU64x32(UINT64 Dividend, UINT32 Divisor);
UINT64 DivU64x64Remainder(UINT64 Dividend, UINT64 Divisor, UINT64 *Remainder);
UINT64 LShiftU64(UINT64 Operand, UINTN Count);
UINT64 RShiftU64(UINT64 Operand, UINTN Count);

// One breakpoint instruction, then return.
VOID CpuBreakpoint(VOID);
// Reports its caller and spins until a debugger releases it.
VOID CpuDeadLoop(VOID);
