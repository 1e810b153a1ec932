#include "BoardOutput.h"
#include <Protocol/SimpleTextOut.h>

namespace {

EFI_SYSTEM_TABLE *mSystemTable = NULL;
BOARD_OUTPUT_SINK mSink = NULL;
// One console call per piece keeps the terminal driver's per-call cost low without
// bounding the line.
CHAR16 mPiece[256];
UINTN mPieceLength = 0;

VOID FlushPiece(VOID) {
  if (mPieceLength == 0 || (mSystemTable == NULL && mSink == NULL)) {
    mPieceLength = 0;
    return;
  }
  mPiece[mPieceLength] = 0;
  if (mSink != NULL) {
    mSink(mPiece, mPieceLength);
  } else {
    mSystemTable->ConOut->OutputString(mSystemTable->ConOut, mPiece);
  }
  mPieceLength = 0;
}

VOID PutCharacter(CHAR16 Character) {
  if (mPieceLength + 1 >= ARRAY_SIZE(mPiece)) {
    FlushPiece();
  }
  mPiece[mPieceLength++] = Character;
}

CONST CHAR8 kDigits[] = "0123456789ABCDEF";

}  // namespace

VOID BoardOutputInit(EFI_SYSTEM_TABLE *SystemTable) {
  mSystemTable = SystemTable;
  mSink = NULL;
  mPieceLength = 0;
}

VOID BoardOutputInitSink(BOARD_OUTPUT_SINK Sink) {
  mSystemTable = NULL;
  mSink = Sink;
  mPieceLength = 0;
}

VOID BoardLineStart(CONST CHAR8 *Text) {
  mPieceLength = 0;
  BoardAppendText(Text);
}

VOID BoardAppendText(CONST CHAR8 *Text) {
  for (; *Text != '\0'; Text++) {
    PutCharacter((CHAR16)(UINT8)*Text);
  }
}

VOID BoardAppendWide(CONST CHAR16 *Text) {
  for (; *Text != 0; Text++) {
    PutCharacter(*Text);
  }
}

VOID BoardAppendHex(UINT64 Value) {
  BoardAppendText("0x");
  INT32 Shift = 60;
  while (Shift > 0 && ((Value >> Shift) & 0xF) == 0) {
    Shift -= 4;
  }
  for (; Shift >= 0; Shift -= 4) {
    PutCharacter((CHAR16)kDigits[(Value >> Shift) & 0xF]);
  }
}

VOID BoardAppendDecimal(UINT64 Value) {
  CHAR8 Digits[21];
  UINTN Count = 0;
  do {
    Digits[Count++] = (CHAR8)('0' + (Value % 10));
    Value /= 10;
  } while (Value != 0);
  while (Count > 0) {
    PutCharacter((CHAR16)Digits[--Count]);
  }
}

VOID BoardAppendBytes(CONST UINT8 *Bytes, UINTN Length) {
  for (UINTN Index = 0; Index < Length; Index++) {
    PutCharacter((CHAR16)kDigits[Bytes[Index] >> 4]);
    PutCharacter((CHAR16)kDigits[Bytes[Index] & 0xF]);
  }
}

VOID BoardAppendField(CONST CHAR8 *Name, UINT64 Value) {
  BoardAppendText(" ");
  BoardAppendText(Name);
  BoardAppendText("=");
  BoardAppendHex(Value);
}

VOID BoardLineEnd(VOID) {
  PutCharacter(u'\r');
  PutCharacter(u'\n');
  FlushPiece();
}

VOID BoardLine(CONST CHAR8 *Text) {
  BoardLineStart(Text);
  BoardLineEnd();
}

VOID BoardStatusLine(CONST CHAR8 *Line, EFI_STATUS Status) {
  BoardLineStart(Line);
  BoardAppendField("status", Status);
  BoardLineEnd();
}
