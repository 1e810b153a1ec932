// Reading SMBIOS structures safely: formatted-area fields, the string set, and the small
// text conversions the memory-device record carries.
#include <Library/BaseLib.h>
#include <Library/BaseMemoryLib.h>

#include "Roster.h"

// A string of this many characters or more cannot be stepped over, and its length is capped.
#define SMBIOS_STRING_LIMIT 255

UINT8 SmbiosByte(CONST SMBIOS_STRUCTURE *Structure, UINT8 Offset) {
  if (Offset >= Structure->Length) {
    return 0;
  }
  return ((CONST UINT8 *)Structure)[Offset];
}

UINT16 SmbiosWord(CONST SMBIOS_STRUCTURE *Structure, UINT8 Offset) {
  if ((UINT32)Offset + sizeof(UINT16) > Structure->Length) {
    return 0;
  }
  return ReadUnaligned16((CONST UINT8 *)Structure + Offset);
}

static UINT8 CountStringChars(CONST CHAR8 *String) {
  UINT8 Count;

  for (Count = 0; Count < SMBIOS_STRING_LIMIT && String[Count] != '\0'; Count++) {
  }
  return Count;
}

// The string set ends with an empty string: a number past the last string is not found,
// rather than read out of whatever follows the structure.
CHAR8 *GetSmbiosString(SMBIOS_STRUCTURE *Structure, UINT8 Length, UINT8 Number, UINT8 *StringLength) {
  CHAR8 *String;
  UINT8 Current;
  UINT8 Count;

  *StringLength = 0;
  if (Structure == NULL || Number == 0) {
    return NULL;
  }

  String = (CHAR8 *)Structure + Length;
  for (Current = 1; Current != Number; Current++) {
    Count = CountStringChars(String);
    if (Count == 0 || Count >= SMBIOS_STRING_LIMIT || Current + 1 >= SMBIOS_STRING_LIMIT) {
      return NULL;
    }
    String += Count + 1;
  }

  Count = CountStringChars(String);
  if (Count == 0) {
    return NULL;
  }
  *StringLength = Count;
  return String;
}

VOID CopySmbiosString(SMBIOS_STRUCTURE *Structure, UINT8 Number, CHAR8 *Field, UINTN FieldSize) {
  CHAR8 *String;
  UINT8 StringLength;

  String = GetSmbiosString(Structure, Structure->Length, Number, &StringLength);
  if (String != NULL) {
    CopyMem(Field, String, StringLength < FieldSize ? StringLength : FieldSize);
  }
}

// Hexadecimal digits in ASCII: '0' to '9', then 'A' to 'F' for the nibbles 10 to 15.
#define ASCII_DIGIT_ZERO 0x30
#define ASCII_PAST_DIGIT_NINE 0x3A
#define ASCII_LETTER_NIBBLE_BASE 0x37  // 'A' - 10
#define NIBBLE_BITS 4

static CHAR8 NibbleToHexAscii(UINT8 Nibble) {
  return (CHAR8)(Nibble < 10 ? ASCII_DIGIT_ZERO + Nibble : ASCII_LETTER_NIBBLE_BASE + Nibble);
}

VOID ByteToHexAscii(UINT8 Value, CHAR8 *Destination) {
  Destination[0] = NibbleToHexAscii((UINT8)(Value >> NIBBLE_BITS));
  Destination[1] = NibbleToHexAscii((UINT8)(Value & 0x0F));
}

VOID WordToHexAscii(UINT16 Value, CHAR8 *Destination) {
  ByteToHexAscii((UINT8)(Value >> 8), &Destination[0]);
  ByteToHexAscii((UINT8)(Value & 0xFF), &Destination[2]);
}

// Any character goes through the same arithmetic, as the receiver expects; a character the
// text does not have counts as the nibble 0.
static UINT8 SerialNibble(CONST CHAR8 *Serial, UINT8 SerialLength, UINT8 Position) {
  UINT8 Character;

  if (Position >= SerialLength) {
    return 0;
  }
  Character = (UINT8)Serial[Position];
  return (UINT8)(Character < ASCII_PAST_DIGIT_NINE ? Character - ASCII_DIGIT_ZERO
                                                   : Character - ASCII_LETTER_NIBBLE_BASE);
}

VOID DecodeDimmSerial(CONST CHAR8 *Serial, UINT8 SerialLength, UINT8 *Destination) {
  UINT8 Index;

  for (Index = 0; Index < DIMM_SERIAL_LENGTH; Index++) {
    Destination[Index] = (UINT8)(SerialNibble(Serial, SerialLength, (UINT8)(2 * Index)) * 16 +
                                 SerialNibble(Serial, SerialLength, (UINT8)(2 * Index + 1)));
  }
}
