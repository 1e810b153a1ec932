// The report writer of every board-side program: lines on ConOut, which OVMF mirrors to
// the serial port the runner reads, or on a sink of the caller's. A line may be of any
// length: it leaves in pieces and only its end writes CR LF.
#pragma once
#include <Uefi.h>

VOID BoardOutputInit(EFI_SYSTEM_TABLE *SystemTable);
// Sends the lines to Sink instead of ConOut, for a reporter that runs before the consoles.
typedef VOID (*BOARD_OUTPUT_SINK)(CONST CHAR16 *Piece, UINTN Length);
VOID BoardOutputInitSink(BOARD_OUTPUT_SINK Sink);
VOID BoardLineStart(CONST CHAR8 *Text);
VOID BoardAppendText(CONST CHAR8 *Text);
VOID BoardAppendWide(CONST CHAR16 *Text);
// Upper-case hexadecimal with a 0x prefix and no leading zeros.
VOID BoardAppendHex(UINT64 Value);
VOID BoardAppendDecimal(UINT64 Value);
// Two upper-case digits a byte, no separators: the BMC report's data form.
VOID BoardAppendBytes(CONST UINT8 *Bytes, UINTN Length);
// " Name=0x..." in one call, the report's usual field.
VOID BoardAppendField(CONST CHAR8 *Name, UINT64 Value);
VOID BoardLineEnd(VOID);
// A whole line that is only text.
VOID BoardLine(CONST CHAR8 *Text);
// "<Line> status=0x.." for one step of a run.
VOID BoardStatusLine(CONST CHAR8 *Line, EFI_STATUS Status);
