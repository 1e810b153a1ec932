// String lengths. A missing terminator within the configured maximum is an assertion, and
// the count stops there, so a runaway string cannot walk memory for ever.
#include <Uefi.h>
#include <Library/BaseLib.h>
#include <Library/DebugLib.h>

UINTN AsciiStrLen(CONST CHAR8 *String) {
  UINTN Length;

  ASSERT(String != NULL_FOR_ASSERT);
  if (String == NULL) {
    return 0;
  }
  Length = 0;
  while (String[Length] != '\0') {
    if (Length >= PcdMaximumAsciiStringLength) {
      ASSERT(Length < PcdMaximumAsciiStringLength);
      break;
    }
    Length++;
  }
  return Length;
}

UINTN AsciiStrSize(CONST CHAR8 *String) {
  if (String == NULL) {
    return 0;
  }
  return AsciiStrLen(String) + 1;
}

UINTN StrLen(CONST CHAR16 *String) {
  UINTN Length;

  ASSERT(String != NULL_FOR_ASSERT);
  if (String == NULL) {
    return 0;
  }
  Length = 0;
  while (String[Length] != u'\0') {
    if (Length >= PcdMaximumUnicodeStringLength) {
      ASSERT(Length < PcdMaximumUnicodeStringLength);
      break;
    }
    Length++;
  }
  return Length;
}

UINTN StrSize(CONST CHAR16 *String) {
  if (String == NULL) {
    return 0;
  }
  return (StrLen(String) + 1) * sizeof(CHAR16);
}
