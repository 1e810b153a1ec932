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

namespace {

enum : UINT32 {
  LeftJustify = 0x01,
  PrefixSign = 0x02,
  PrefixBlank = 0x04,
  CommaType = 0x08,
  LongType = 0x10,
  PrefixZero = 0x20,
  PadToWidth = 0x40,
  PrecisionGiven = 0x80,
  RadixHex = 0x100,
  UnsignedType = 0x200,
  Unicode = 0x400,
};

// Long enough for the digits of a 64-bit value; separators are added on output.
constexpr UINTN kValueCharacters = 20;

struct OutputBuffer {
  CHAR8 *Next;
  CHAR8 *End;  // the terminator's place
  UINTN Count;
  // Out of line: every conversion writes through it, and one copy is smaller than many.
  __attribute__((noinline)) VOID Put(CHAR8 Character) {
    if (Next < End) {
      *Next++ = Character;
      Count++;
    }
  }
  VOID Fill(INTN Times, CHAR8 Character) {
    for (INTN Index = 0; Index < Times; Index++) {
      Put(Character);
    }
  }
};

CONST CHAR8 kHexDigits[] = "0123456789ABCDEF";

// Digits of Value, least significant first.
UINTN ValueToReversedString(CHAR8 *Buffer, UINT64 Value, UINT32 Radix) {
  UINTN Count = 0;
  do {
    Buffer[Count++] = kHexDigits[Value % Radix];
    Value /= Radix;
  } while (Value != 0);
  return Count;
}

}  // namespace

UINTN AsciiVSPrint(CHAR8 *StartOfBuffer, UINTN BufferSize, CONST CHAR8 *FormatString, va_list Marker) {
  if (BufferSize == 0) {
    return 0;
  }
  ASSERT(StartOfBuffer != NULL_FOR_ASSERT);
  ASSERT(FormatString != NULL_FOR_ASSERT);
  ASSERT(BufferSize <= PcdMaximumAsciiStringLength);
  if (StartOfBuffer == nullptr || FormatString == nullptr || BufferSize > PcdMaximumAsciiStringLength) {
    return 0;
  }

  OutputBuffer Out = {StartOfBuffer, StartOfBuffer + BufferSize - 1, 0};
  va_list Arguments;
  va_copy(Arguments, Marker);

  for (CONST CHAR8 *Format = FormatString; *Format != '\0' && Out.Next < Out.End; Format++) {
    CHAR8 ValueBuffer[kValueCharacters + 1];
    CONST CHAR8 *Argument = nullptr;
    UINTN Count = 0;
    BOOLEAN Reversed = FALSE;
    BOOLEAN ZeroPad = FALSE;
    BOOLEAN Comma = FALSE;
    CHAR8 Prefix = 0;
    UINT32 Flags = 0;
    UINTN Width = 0;
    UINTN Precision = 1;
    UINTN Digits = 0;
    // A character printed as a one-character wide string, terminated.
    CHAR16 WideCharacter[2] = {0, 0};
    CHAR8 Character = *Format;

    if (Character == '\n') {
      // '\n' and "\n\r" both leave as "\r\n".
      Out.Put('\r');
      Out.Put('\n');
      if (Format[1] == '\r') {
        Format++;
      }
      continue;
    }
    if (Character == '\r') {
      Out.Put('\r');
      if (Format[1] == '\n') {
        Out.Put('\n');
        Format++;
      }
      continue;
    }
    if (Character != '%') {
      Out.Put(Character);
      continue;
    }

    // Flags, width and precision.
    for (BOOLEAN Done = FALSE; !Done;) {
      Character = *++Format;
      switch (Character) {
        case '.':
          Flags |= PrecisionGiven;
          break;
        case '-':
          Flags |= LeftJustify;
          break;
        case '+':
          Flags |= PrefixSign;
          break;
        case ' ':
          Flags |= PrefixBlank;
          break;
        case ',':
          Flags |= CommaType;
          break;
        case 'l':
        case 'L':
          Flags |= LongType;
          break;
        case '*':
          if ((Flags & PrecisionGiven) == 0) {
            Flags |= PadToWidth;
            Width = va_arg(Arguments, UINTN);
          } else {
            Precision = va_arg(Arguments, UINTN);
          }
          break;
        case '0':
          if ((Flags & PrecisionGiven) == 0) {
            Flags |= PrefixZero;
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
        case '9': {
          UINTN Number = 0;
          while (*Format >= '0' && *Format <= '9') {
            Number = Number * 10 + (UINTN)(*Format - '0');
            Format++;
          }
          Format--;
          if ((Flags & PrecisionGiven) == 0) {
            Flags |= PadToWidth;
            Width = Number;
          } else {
            Precision = Number;
          }
          break;
        }
        case '\0':
          // A format ending inside a conversion prints nothing for it.
          Format--;
          Precision = 0;
          Done = TRUE;
          break;
        default:
          Done = TRUE;
          break;
      }
    }

    switch (Character) {
      case 'p':
        Flags &= ~(UINT32)(PrefixBlank | PrefixSign | PrefixZero | LongType);
        Flags |= LongType;
        [[fallthrough]];
      case 'X':
        Flags |= PrefixZero;
        [[fallthrough]];
      case 'x':
        Flags |= RadixHex;
        [[fallthrough]];
      case 'u':
        if ((Flags & RadixHex) == 0) {
          Flags &= ~(UINT32)PrefixSign;
          Flags |= UnsignedType;
        }
        [[fallthrough]];
      case 'd': {
        INT64 Value = (Flags & LongType) != 0 ? va_arg(Arguments, INT64) : (INT64)va_arg(Arguments, int);
        if ((Flags & PrefixBlank) != 0) {
          Prefix = ' ';
        }
        if ((Flags & PrefixSign) != 0) {
          Prefix = '+';
        }
        Comma = (Flags & CommaType) != 0;
        UINT32 Radix = 16;
        UINT64 Magnitude = (UINT64)Value;
        if ((Flags & RadixHex) == 0) {
          Radix = 10;
          if (Comma) {
            Flags &= ~(UINT32)PrefixZero;
            Precision = 1;
          }
          if (Value < 0 && (Flags & UnsignedType) == 0) {
            Prefix = '-';
            Magnitude = 0 - (UINT64)Value;
          } else if ((Flags & UnsignedType) != 0 && (Flags & LongType) == 0) {
            Magnitude = (UINT32)Value;
          }
        } else {
          Comma = FALSE;
          if ((Flags & LongType) == 0 && Value < 0) {
            Magnitude = (UINT32)Value;
          }
        }
        Count = ValueToReversedString(ValueBuffer, Magnitude, Radix);
        if (Magnitude == 0 && Precision == 0) {
          Count = 0;
        }
        Argument = ValueBuffer + (Count != 0 ? Count - 1 : 0);
        Digits = Count % 3 == 0 ? 0 : 3 - Count % 3;
        Reversed = TRUE;
        if (Comma && Count != 0) {
          Count += (Count - 1) / 3;
        }
        if (Prefix != 0) {
          Count++;
          Precision++;
        }
        ZeroPad = TRUE;
        if ((Flags & (PrefixZero | LeftJustify | PadToWidth | PrecisionGiven)) == (PrefixZero | PadToWidth)) {
          Precision = Width;
        }
        break;
      }
      case 's':
      case 'S':
        Flags |= Unicode;
        [[fallthrough]];
      case 'a':
        Argument = va_arg(Arguments, CONST CHAR8 *);
        if (Argument == nullptr) {
          Flags &= ~(UINT32)Unicode;
          Argument = "<null string>";
        }
        if ((Flags & PrecisionGiven) == 0) {
          Precision = 0;
        }
        break;
      case 'c':
        WideCharacter[0] = (CHAR16)(va_arg(Arguments, UINTN) & 0xFFFF);
        Argument = reinterpret_cast<CONST CHAR8 *>(WideCharacter);
        Flags |= Unicode;
        break;
      default:
        // "%%" and any unknown conversion print the character itself.
        WideCharacter[0] = (CHAR16)(UINT8)Character;
        Argument = reinterpret_cast<CONST CHAR8 *>(WideCharacter);
        Flags |= Unicode;
        break;
    }

    UINTN Step = (Flags & Unicode) != 0 ? 2 : 1;
    auto EndsAt = [&](CONST CHAR8 *Position) { return Position[0] == '\0' && (Step == 1 || Position[1] == '\0'); };
    if (!Reversed) {
      while ((Count < Precision || (Flags & PrecisionGiven) == 0) && !EndsAt(Argument + Count * Step)) {
        Count++;
      }
    }
    if (Precision < Count) {
      Precision = Count;
    }

    if ((Flags & (PadToWidth | LeftJustify)) == PadToWidth) {
      Out.Fill((INTN)(Width - Precision), ' ');
    }
    if (ZeroPad) {
      if (Prefix != 0) {
        Out.Put(Prefix);
      }
      Out.Fill((INTN)(Precision - Count), '0');
    } else {
      Out.Fill((INTN)(Precision - Count), ' ');
      if (Prefix != 0) {
        Out.Put(Prefix);
      }
    }

    UINTN Index = Prefix != 0 ? 1 : 0;
    while (Index < Count) {
      if (!Reversed && EndsAt(Argument)) {
        break;
      }
      Out.Put(*Argument);
      Argument = Reversed ? Argument - 1 : Argument + Step;
      Index++;
      if (Comma && ++Digits == 3) {
        Digits = 0;
        Index++;
        if (Index < Count) {
          Out.Put(',');
        }
      }
    }

    if ((Flags & (PadToWidth | LeftJustify)) == (PadToWidth | LeftJustify)) {
      Out.Fill((INTN)(Width - Precision), ' ');
    }
  }
  va_end(Arguments);

  *Out.Next = '\0';
  return Out.Count;
}

UINTN AsciiSPrint(CHAR8 *StartOfBuffer, UINTN BufferSize, CONST CHAR8 *FormatString, ...) {
  va_list Marker;
  va_start(Marker, FormatString);
  UINTN Length = AsciiVSPrint(StartOfBuffer, BufferSize, FormatString, Marker);
  va_end(Marker);
  return Length;
}
