// AsciiSPrint with EDK II BasePrintLib's rules for the conversions the drivers format
// themselves: %d %u %x %X %p with BasePrintLib's flags, width and precision (upper-case hex
// for %x and %X, %X zero-pads to its width), %a and %s strings, %c and %%. '\n' in the format
// becomes "\r\n", the output is cut at the buffer's end and always terminated. Within these
// conversions the rules are BasePrintLib's to the character, so a name the drivers format
// reads the same as under EDK II.
//
// %g, %t and %r are not formatted here: the drivers pass GUIDs, times and status values only
// in debug messages, which the platform's listener formats (sim/DebugRender is the host's
// reading of them), so the image carries neither the status-name table nor the composite
// conversions. Like any other unknown conversion they print their own character and take no
// argument.
#include <Uefi.h>
#include <Library/BaseLib.h>
#include <Library/DebugLib.h>
#include <Library/PrintLib.h>

// Flags of one conversion.
#define LEFT_JUSTIFY 0x01
#define PREFIX_SIGN 0x02
#define PREFIX_BLANK 0x04
#define COMMA_TYPE 0x08
#define LONG_TYPE 0x10
#define PREFIX_ZERO 0x20
#define PAD_TO_WIDTH 0x40
#define PRECISION_GIVEN 0x80
#define RADIX_HEX 0x100
#define UNSIGNED_TYPE 0x200
#define ARGUMENT_UNICODE 0x400

// Long enough for the digits of a 64-bit value; separators are added on output.
#define VALUE_CHARACTERS 20
// A ',' goes between groups of this many decimal digits.
#define DIGITS_PER_GROUP 3

typedef struct {
  CHAR8 *Next;

  CHAR8 *End;  // the terminator's place
  UINTN Count;
} PRINT_OUTPUT;

// What the flags, width and precision of one conversion ask for.
typedef struct {
  UINT32 Flags;
  UINTN Width;
  UINTN Precision;
} PRINT_CONVERSION;

static CONST CHAR8 mHexDigits[] = "0123456789ABCDEF";

// Out of line: every conversion writes through it, and one copy is smaller than many.
__attribute__((noinline)) static VOID PutCharacter(PRINT_OUTPUT *Out, CHAR8 Character) {
  if (Out->Next < Out->End) {
    *Out->Next++ = Character;
    Out->Count++;
  }
}

static VOID PutRepeated(PRINT_OUTPUT *Out, INTN Times, CHAR8 Character) {
  INTN Index;

  for (Index = 0; Index < Times; Index++) {
    PutCharacter(Out, Character);
  }
}

// The blanks that fill the field to its width, on the side its justification gives them.
// Inlined: where it is used it folds into the conversion's own tests, which is smaller
// than a call.
__attribute__((always_inline)) static VOID PutFieldPadding(PRINT_OUTPUT *Out, CONST PRINT_CONVERSION *Conversion,
                                                           UINT32 Side) {
  if ((Conversion->Flags & (PAD_TO_WIDTH | LEFT_JUSTIFY)) == (PAD_TO_WIDTH | Side)) {
    PutRepeated(Out, (INTN)(Conversion->Width - Conversion->Precision), ' ');
  }
}

// Digits of Value, least significant first.
static UINTN ValueToReversedString(CHAR8 *Buffer, UINT64 Value, UINT32 Radix) {
  UINTN Count;

  Count = 0;
  do {
    Buffer[Count++] = mHexDigits[Value % Radix];
    Value /= Radix;
  } while (Value != 0);
  return Count;
}

// Reads the flags, width and precision after the '%' at *Format and returns the conversion
// character, leaving *Format on it. A format that ends inside a conversion returns '\0' with
// a zero precision, so that nothing is printed for it, and leaves *Format before the end.
static CHAR8 ParseConversion(CONST CHAR8 **FormatPosition, va_list *Arguments, PRINT_CONVERSION *Conversion) {
  CONST CHAR8 *Format;
  UINTN Number;

  Format = *FormatPosition;

  Conversion->Flags = 0;
  Conversion->Width = 0;
  Conversion->Precision = 1;
  for (;;) {
    Format++;
    switch (*Format) {
      case '.':
        Conversion->Flags |= PRECISION_GIVEN;
        break;
      case '-':
        Conversion->Flags |= LEFT_JUSTIFY;
        break;
      case '+':
        Conversion->Flags |= PREFIX_SIGN;
        break;
      case ' ':
        Conversion->Flags |= PREFIX_BLANK;
        break;
      case ',':
        Conversion->Flags |= COMMA_TYPE;
        break;
      case 'l':
      case 'L':
        Conversion->Flags |= LONG_TYPE;
        break;
      case '*':
        if ((Conversion->Flags & PRECISION_GIVEN) == 0) {
          Conversion->Flags |= PAD_TO_WIDTH;
          Conversion->Width = va_arg(*Arguments, UINTN);
        } else {
          Conversion->Precision = va_arg(*Arguments, UINTN);
        }
        break;
      case '0':
        if ((Conversion->Flags & PRECISION_GIVEN) == 0) {
          Conversion->Flags |= PREFIX_ZERO;
        }
        [[fallthrough]];
      case '1':
      case '2':
      case '3':
      case '4':
      case '5':
      case '6':
      case '7':
      case '8':
      case '9':
        Number = 0;
        while (*Format >= '0' && *Format <= '9') {
          Number = Number * 10 + (UINTN)(*Format - '0');
          Format++;
        }
        Format--;
        if ((Conversion->Flags & PRECISION_GIVEN) == 0) {
          Conversion->Flags |= PAD_TO_WIDTH;
          Conversion->Width = Number;
        } else {
          Conversion->Precision = Number;
        }
        break;
      case '\0':
        Conversion->Precision = 0;
        *FormatPosition = Format - 1;
        return '\0';
      default:
        *FormatPosition = Format;
        return *Format;
    }
  }
}

// %d %u %x %X %p: the sign or blank, zero padding to the precision, the digits with their
// separators, the field padded to its width.
static VOID PutNumber(PRINT_OUTPUT *Out, PRINT_CONVERSION *Conversion, INT64 Value) {
  CHAR8 ValueBuffer[VALUE_CHARACTERS + 1];
  CONST CHAR8 *Digit;
  UINT64 Magnitude;
  UINT32 Radix;
  UINTN Count;
  UINTN Index;
  UINTN Digits;
  CHAR8 Prefix;
  BOOLEAN Comma;

  Prefix = 0;
  if ((Conversion->Flags & PREFIX_BLANK) != 0) {
    Prefix = ' ';
  }
  if ((Conversion->Flags & PREFIX_SIGN) != 0) {
    Prefix = '+';
  }
  Comma = (Conversion->Flags & COMMA_TYPE) != 0;
  Radix = 16;
  Magnitude = (UINT64)Value;
  if ((Conversion->Flags & RADIX_HEX) == 0) {
    Radix = 10;
    if (Comma) {
      Conversion->Flags &= ~(UINT32)PREFIX_ZERO;
      Conversion->Precision = 1;
    }
    if (Value < 0 && (Conversion->Flags & UNSIGNED_TYPE) == 0) {
      Prefix = '-';
      Magnitude = 0 - (UINT64)Value;
    } else if ((Conversion->Flags & UNSIGNED_TYPE) != 0 && (Conversion->Flags & LONG_TYPE) == 0) {
      Magnitude = (UINT32)Value;
    }
  } else {
    Comma = FALSE;
    if ((Conversion->Flags & LONG_TYPE) == 0 && Value < 0) {
      Magnitude = (UINT32)Value;
    }
  }
  Count = ValueToReversedString(ValueBuffer, Magnitude, Radix);
  if (Magnitude == 0 && Conversion->Precision == 0) {
    Count = 0;
  }
  Digit = ValueBuffer + (Count != 0 ? Count - 1 : 0);
  Digits = Count % DIGITS_PER_GROUP == 0 ? 0 : DIGITS_PER_GROUP - Count % DIGITS_PER_GROUP;
  if (Comma && Count != 0) {
    Count += (Count - 1) / DIGITS_PER_GROUP;
  }
  if (Prefix != 0) {
    Count++;
    Conversion->Precision++;
  }
  if ((Conversion->Flags & (PREFIX_ZERO | LEFT_JUSTIFY | PAD_TO_WIDTH | PRECISION_GIVEN)) ==
      (PREFIX_ZERO | PAD_TO_WIDTH)) {
    Conversion->Precision = Conversion->Width;
  }
  if (Conversion->Precision < Count) {
    Conversion->Precision = Count;
  }

  PutFieldPadding(Out, Conversion, 0);
  if (Prefix != 0) {
    PutCharacter(Out, Prefix);
  }
  PutRepeated(Out, (INTN)(Conversion->Precision - Count), '0');
  Index = Prefix != 0 ? 1 : 0;
  while (Index < Count) {
    PutCharacter(Out, *Digit);
    Digit--;
    Index++;
    if (Comma && ++Digits == DIGITS_PER_GROUP) {
      Digits = 0;
      Index++;
      if (Index < Count) {
        PutCharacter(Out, ',');
      }
    }
  }
  PutFieldPadding(Out, Conversion, LEFT_JUSTIFY);
}

// Whether a string of CharacterSize-byte characters ends at Position.
static BOOLEAN EndsAt(CONST CHAR8 *Position, UINTN CharacterSize) {
  return Position[0] == '\0' && (CharacterSize == 1 || Position[1] == '\0');
}

// %a, %s, %c and the characters printed as themselves: up to the precision's characters of
// the string (of one-byte characters or, with ARGUMENT_UNICODE, of two-byte characters whose
// low byte is printed), blank padded to the precision and then to the width.
static VOID PutString(PRINT_OUTPUT *Out, PRINT_CONVERSION *Conversion, CONST CHAR8 *Argument) {
  UINTN CharacterSize;
  UINTN Count;
  UINTN Index;

  CharacterSize = (Conversion->Flags & ARGUMENT_UNICODE) != 0 ? 2 : 1;
  Count = 0;
  while ((Count < Conversion->Precision || (Conversion->Flags & PRECISION_GIVEN) == 0) &&
         !EndsAt(Argument + Count * CharacterSize, CharacterSize)) {
    Count++;
  }
  if (Conversion->Precision < Count) {
    Conversion->Precision = Count;
  }

  PutFieldPadding(Out, Conversion, 0);
  PutRepeated(Out, (INTN)(Conversion->Precision - Count), ' ');
  for (Index = 0; Index < Count && !EndsAt(Argument, CharacterSize); Index++) {
    PutCharacter(Out, *Argument);
    Argument += CharacterSize;
  }
  PutFieldPadding(Out, Conversion, LEFT_JUSTIFY);
}

UINTN AsciiVSPrint(CHAR8 *StartOfBuffer, UINTN BufferSize, CONST CHAR8 *FormatString, va_list Marker) {
  PRINT_OUTPUT Out;
  PRINT_CONVERSION Conversion;

  va_list Arguments;
  CONST CHAR8 *Format;
  CONST CHAR8 *Argument;
  CHAR8 Character;
  INT64 Value;
  // A character printed as a one-character wide string, terminated.
  CHAR16 WideCharacter[2];

  if (BufferSize == 0) {
    return 0;
  }
  ASSERT(StartOfBuffer != NULL_FOR_ASSERT);
  ASSERT(FormatString != NULL_FOR_ASSERT);
  ASSERT(BufferSize <= PcdMaximumAsciiStringLength);
  if (StartOfBuffer == NULL || FormatString == NULL || BufferSize > PcdMaximumAsciiStringLength) {
    return 0;
  }

  Out.Next = StartOfBuffer;
  Out.End = StartOfBuffer + BufferSize - 1;
  Out.Count = 0;
  va_copy(Arguments, Marker);

  for (Format = FormatString; *Format != '\0' && Out.Next < Out.End; Format++) {
    if (*Format == '\n') {
      // '\n' and "\n\r" both leave as "\r\n".
      PutCharacter(&Out, '\r');
      PutCharacter(&Out, '\n');
      if (Format[1] == '\r') {
        Format++;
      }
      continue;
    }
    if (*Format == '\r') {
      PutCharacter(&Out, '\r');
      if (Format[1] == '\n') {
        PutCharacter(&Out, '\n');
        Format++;
      }
      continue;
    }
    if (*Format != '%') {
      PutCharacter(&Out, *Format);
      continue;
    }

    Character = ParseConversion(&Format, &Arguments, &Conversion);
    switch (Character) {
      case 'p':
        Conversion.Flags &= ~(UINT32)(PREFIX_BLANK | PREFIX_SIGN | PREFIX_ZERO | LONG_TYPE);
        Conversion.Flags |= LONG_TYPE;
        [[fallthrough]];
      case 'X':
        Conversion.Flags |= PREFIX_ZERO;
        [[fallthrough]];
      case 'x':
        Conversion.Flags |= RADIX_HEX;
        [[fallthrough]];
      case 'u':
        if ((Conversion.Flags & RADIX_HEX) == 0) {
          Conversion.Flags &= ~(UINT32)PREFIX_SIGN;
          Conversion.Flags |= UNSIGNED_TYPE;
        }
        [[fallthrough]];
      case 'd':
        Value = (Conversion.Flags & LONG_TYPE) != 0 ? va_arg(Arguments, INT64) : (INT64)va_arg(Arguments, INT32);
        PutNumber(&Out, &Conversion, Value);
        continue;
      case 's':
      case 'S':
        Conversion.Flags |= ARGUMENT_UNICODE;
        [[fallthrough]];
      case 'a':
        Argument = va_arg(Arguments, CONST CHAR8 *);
        if (Argument == NULL) {
          Conversion.Flags &= ~(UINT32)ARGUMENT_UNICODE;
          Argument = "<null string>";
        }
        if ((Conversion.Flags & PRECISION_GIVEN) == 0) {
          Conversion.Precision = 0;
        }
        break;
      case 'c':
        WideCharacter[0] = (CHAR16)(va_arg(Arguments, UINTN) & 0xFFFF);
        WideCharacter[1] = 0;
        Argument = (CONST CHAR8 *)WideCharacter;
        Conversion.Flags |= ARGUMENT_UNICODE;
        break;
      default:
        // "%%" and any unknown conversion print the character itself; a format that ends
        // inside a conversion has a zero precision and prints nothing.
        WideCharacter[0] = (CHAR16)(UINT8)Character;
        WideCharacter[1] = 0;
        Argument = (CONST CHAR8 *)WideCharacter;
        Conversion.Flags |= ARGUMENT_UNICODE;
        break;
    }
    PutString(&Out, &Conversion, Argument);
  }
  va_end(Arguments);

  *Out.Next = '\0';
  return Out.Count;
}

UINTN AsciiSPrint(CHAR8 *StartOfBuffer, UINTN BufferSize, CONST CHAR8 *FormatString, ...) {
  va_list Marker;
  UINTN Length;

  va_start(Marker, FormatString);
  Length = AsciiVSPrint(StartOfBuffer, BufferSize, FormatString, Marker);
  va_end(Marker);
  return Length;
}
