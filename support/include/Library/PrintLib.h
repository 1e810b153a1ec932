#pragma once
#include <Uefi.h>
#include <stdarg.h>

// BasePrintLib semantics: BufferSize counts bytes with the terminator; the result is the
// number of characters written without it; %x and %X print upper-case digits.
UINTN AsciiSPrint(CHAR8 *StartOfBuffer, UINTN BufferSize, CONST CHAR8 *FormatString, ...);
UINTN AsciiVSPrint(CHAR8 *StartOfBuffer, UINTN BufferSize, CONST CHAR8 *FormatString, va_list Marker);
