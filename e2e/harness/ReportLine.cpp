#include "ReportLine.h"
#include <Protocol/SimpleTextOut.h>

static VOID AppendCharacter(REPORT_LINE *Line, CHAR16 Character) {
  // Two places stay free for the CR LF and one for the terminator.
  if (Line->Length + 3 < ARRAY_SIZE(Line->Text)) {
    Line->Text[Line->Length++] = Character;
  }
}

VOID ReportLineStart(REPORT_LINE *Line, CONST CHAR8 *Text) {
  Line->Length = 0;
  ReportLineAppendText(Line, Text);
}

VOID ReportLineAppendText(REPORT_LINE *Line, CONST CHAR8 *Text) {
  for (; *Text != '\0'; Text++) {
    AppendCharacter(Line, (CHAR16)(UINT8)*Text);
  }
}

VOID ReportLineAppendWide(REPORT_LINE *Line, CONST CHAR16 *Text) {
  for (; *Text != 0; Text++) {
    AppendCharacter(Line, *Text);
  }
}

VOID ReportLineAppendHex(REPORT_LINE *Line, UINT64 Value) {
  static const CHAR8 Digits[] = "0123456789ABCDEF";
  ReportLineAppendText(Line, "0x");
  INT32 Shift = 60;
  while (Shift > 0 && ((Value >> Shift) & 0xF) == 0) {
    Shift -= 4;
  }
  for (; Shift >= 0; Shift -= 4) {
    AppendCharacter(Line, (CHAR16)Digits[(Value >> Shift) & 0xF]);
  }
}

VOID ReportLineEmit(REPORT_LINE *Line, EFI_SYSTEM_TABLE *SystemTable) {
  Line->Text[Line->Length++] = u'\r';
  Line->Text[Line->Length++] = u'\n';
  Line->Text[Line->Length] = 0;
  SystemTable->ConOut->OutputString(SystemTable->ConOut, Line->Text);
  Line->Length = 0;
}
