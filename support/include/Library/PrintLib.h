#pragma once
#include <Uefi.h>
#include <stdarg.h>

// BasePrintLib semantics: BufferSize counts bytes with the terminator; the result is the
// number of characters written without it; %x and %X print upper-case digits. Integers,
// %a and %s strings, %c and %% only: %g, %t and %r are left to the status-code listener,
// which formats debug messages (see PrintLib.cpp).
UINTN AsciiSPrint(CHAR8 *StartOfBuffer, UINTN BufferSize, CONST CHAR8 *FormatString, ...);
UINTN AsciiVSPrint(CHAR8 *StartOfBuffer, UINTN BufferSize, CONST CHAR8 *FormatString, va_list Marker);
