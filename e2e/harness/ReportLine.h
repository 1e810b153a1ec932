// One line of the harness report on ConOut, which OVMF mirrors to the serial port the
// host runner reads. Fixed buffer: an over-long line is cut, never overrun.
#pragma once
#include <Uefi.h>

struct REPORT_LINE {
  CHAR16 Text[192];
  UINTN Length;
};

VOID ReportLineStart(REPORT_LINE *Line, CONST CHAR8 *Text);
VOID ReportLineAppendText(REPORT_LINE *Line, CONST CHAR8 *Text);
VOID ReportLineAppendWide(REPORT_LINE *Line, CONST CHAR16 *Text);
// Upper-case hexadecimal with a 0x prefix and no leading zeros, as the runner parses it.
VOID ReportLineAppendHex(REPORT_LINE *Line, UINT64 Value);
// Ends the line with CR LF and writes it to the console.
VOID ReportLineEmit(REPORT_LINE *Line, EFI_SYSTEM_TABLE *SystemTable);
