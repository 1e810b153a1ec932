#include "DebugRender.h"

#include "StatusNames.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace debug_render {

namespace {

// An EDK II listener renders into a 200-byte line; no field can be wider than that.
constexpr size_t kMaxFieldWidth = 200;


constexpr size_t kStatusCodeHeaderSize = sizeof(EFI_STATUS_CODE_DATA);

std::string HexText(UINT64 Value) {
  char Buffer[24];
  std::snprintf(Buffer, sizeof Buffer, "%llX", static_cast<unsigned long long>(Value));
  return Buffer;
}

bool HasType(const StatusCodeReport &Report, const EFI_GUID &Type) {
  if (Report.Data.size() < kStatusCodeHeaderSize) {
    return false;
  }
  EFI_GUID Recorded;
  std::memcpy(&Recorded, Report.Data.data() + OFFSET_OF(EFI_STATUS_CODE_DATA, Type), sizeof Recorded);
  return GuidEquals(Recorded, Type);
}

// A terminated string starting at Offset of the recorded bytes, cut at their end.
std::string StringAt(const std::vector<UINT8> &Bytes, size_t Offset) {
  std::string Text;
  for (size_t Index = Offset; Index < Bytes.size() && Bytes[Index] != 0; Index++) {
    Text.push_back(static_cast<char>(Bytes[Index]));
  }
  return Text;
}

template <class T>
T Read(const std::vector<UINT8> &Bytes, size_t Offset) {
  T Value{};
  if (Offset + sizeof(T) <= Bytes.size()) {
    std::memcpy(&Value, Bytes.data() + Offset, sizeof(T));
  }
  return Value;
}

// The flags, width and precision of one conversion, as BasePrintLib reads them.
struct FieldLayout {
  bool LeftJustify = false, Sign = false, Blank = false, Comma = false, Long = false, ZeroFlag = false;
  bool HasWidth = false, HasPrecision = false;
  size_t Width = 0;
  size_t Precision = 1;
};

class Formatter {
 public:
  Formatter(std::span<const UINT64> Slots, size_t Capacity, PointerArguments Pointers)
      : Slots(Slots), Limit(Capacity == 0 ? 0 : Capacity - 1), Pointers(Pointers) {}

  std::string Run(std::string_view Format) {
    for (size_t At = 0; At < Format.size() && Format[At] != '\0' && Out.size() < Limit; At++) {
      char Character = Format[At];
      if (Character == '\n') {
        Emit("\r\n");
        if (At + 1 < Format.size() && Format[At + 1] == '\r') {
          At++;
        }
      } else if (Character == '\r') {
        Emit(At + 1 < Format.size() && Format[At + 1] == '\n' ? (At++, "\r\n") : "\r");
      } else if (Character != '%') {
        Emit(std::string(1, Character));
      } else {
        At = Conversion(Format, At + 1);
      }
    }
    return Out;
  }

 private:
  UINT64 NextSlot() { return Next < Slots.size() ? Slots[Next++] : 0; }

  void Emit(std::string_view Text) {
    for (char Character : Text) {
      if (Out.size() < Limit) {
        Out.push_back(Character);
      }
    }
  }

  // Lays out Body (its Count characters, Prefix separate) with width and precision as
  // BasePrintLib does; Numeric selects zero padding of the precision.
  void Place(const FieldLayout &Field, std::string_view Body, char Prefix, size_t Precision, bool Numeric) {
    size_t Count = Body.size() + (Prefix != 0 ? 1 : 0);
    Precision = std::max(Precision, Count);
    std::string Padding = Field.HasWidth && Field.Width > Precision ? std::string(Field.Width - Precision, ' ') : "";
    if (!Field.LeftJustify) {
      Emit(Padding);
    }
    std::string Fill(Precision - Count, Numeric ? '0' : ' ');
    std::string Sign = Prefix != 0 ? std::string(1, Prefix) : "";
    Emit(Numeric ? Sign + Fill : Fill + Sign);
    Emit(Body);
    if (Field.LeftJustify) {
      Emit(Padding);
    }
  }

  void Number(FieldLayout Field, char Type) {
    bool Hex = Type == 'x' || Type == 'X' || Type == 'p';
    bool Unsigned = Type == 'u';
    if (Type == 'p') {
      Field.Sign = Field.Blank = false;
      Field.Long = true;
    }
    bool ZeroFlag = Field.ZeroFlag || Type == 'X' || Type == 'p';
    UINT64 Raw = NextSlot();
    INT64 Value = Field.Long ? static_cast<INT64>(Raw) : static_cast<INT64>(static_cast<INT32>(Raw));
    char Prefix = Field.Blank ? ' ' : 0;
    if (Field.Sign && !Unsigned) {
      Prefix = '+';
    }
    UINT64 Magnitude = static_cast<UINT64>(Value);
    bool Comma = Field.Comma && !Hex;
    size_t Precision = Field.Precision;
    if (!Hex) {
      if (Comma) {
        ZeroFlag = false;
        Precision = 1;
      }
      if (Value < 0 && !Unsigned) {
        Prefix = '-';
        Magnitude = 0 - static_cast<UINT64>(Value);
      } else if (Unsigned && !Field.Long) {
        Magnitude = static_cast<UINT32>(Value);
      }
    } else if (!Field.Long && Value < 0) {
      Magnitude = static_cast<UINT32>(Value);
    }
    std::string Digits;
    if (!(Magnitude == 0 && Precision == 0)) {
      do {
        Digits.insert(Digits.begin(), "0123456789ABCDEF"[Magnitude % (Hex ? 16 : 10)]);
        Magnitude /= Hex ? 16 : 10;
      } while (Magnitude != 0);
    }
    if (Comma) {
      for (size_t Position = Digits.size(); Position > 3; Position -= 3) {
        Digits.insert(Position - 3, ",");
      }
    }
    if (Prefix != 0) {
      Precision++;
    }
    if (ZeroFlag && !Field.LeftJustify && Field.HasWidth && !Field.HasPrecision) {
      Precision = Field.Width;
    }
    Place(Field, Digits, Prefix, Precision, true);
  }

  void Text(const FieldLayout &Field, std::string Body) {
    if (Field.HasPrecision && Body.size() > Field.Precision) {
      Body.resize(Field.Precision);
    }
    Place(Field, Body, 0, Field.HasPrecision ? Field.Precision : 0, false);
  }

  static std::string AsciiString(UINT64 Address, size_t Bound) {
    std::string Text;
    for (const char *Character = reinterpret_cast<const char *>(Address); *Character != '\0' && Text.size() < Bound;
         Character++) {
      Text.push_back(*Character);
    }
    return Text;
  }

  static std::string WideString(UINT64 Address, size_t Bound) {
    std::string Text;
    for (const CHAR16 *Character = reinterpret_cast<const CHAR16 *>(Address); *Character != 0 && Text.size() < Bound;
         Character++) {
      Text.push_back(static_cast<char>(*Character & 0xFF));
    }
    return Text;
  }

  static std::string Hex(UINT64 Value, int Digits) {
    std::string Text;
    for (int Index = Digits - 1; Index >= 0; Index--) {
      Text.push_back("0123456789ABCDEF"[(Value >> (4 * Index)) & 0xF]);
    }
    return Text;
  }

  static std::string Decimal(UINT64 Value, size_t Digits) {
    std::string Text = std::to_string(Value);
    return Text.size() < Digits ? std::string(Digits - Text.size(), '0') + Text : Text;
  }

  size_t Conversion(std::string_view Format, size_t At) {
    FieldLayout Field;
    for (;; At++) {
      char Flag = At < Format.size() ? Format[At] : '\0';
      if (Flag == '.') {
        Field.HasPrecision = true;
      } else if (Flag == '-') {
        Field.LeftJustify = true;
      } else if (Flag == '+') {
        Field.Sign = true;
      } else if (Flag == ' ') {
        Field.Blank = true;
      } else if (Flag == ',') {
        Field.Comma = true;
      } else if (Flag == 'l' || Flag == 'L') {
        Field.Long = true;
      } else if (Flag == '*') {
        // The listener's line buffer bounds every field, so a wild width cannot run away.
        (Field.HasPrecision ? Field.Precision : Field.Width) = std::min<size_t>(NextSlot(), kMaxFieldWidth);
        Field.HasWidth = Field.HasWidth || !Field.HasPrecision;
      } else if (Flag >= '0' && Flag <= '9') {
        if (Flag == '0' && !Field.HasPrecision) {
          Field.ZeroFlag = true;
        }
        size_t Number = 0;
        while (At < Format.size() && Format[At] >= '0' && Format[At] <= '9') {
          Number = std::min<size_t>(Number * 10 + static_cast<size_t>(Format[At++] - '0'), kMaxFieldWidth);
        }
        At--;
        if (Field.HasPrecision) {
          Field.Precision = Number;
        } else {
          Field.HasWidth = true;
          Field.Width = Number;
        }
      } else if (Flag == '\0') {
        return At - 1;  // a format ending inside a conversion prints nothing for it
      } else {
        break;
      }
    }

    char Type = Format[At];
    if (Pointers == PointerArguments::AddressOnly &&
        (Type == 'a' || Type == 's' || Type == 'S' || Type == 'g' || Type == 't')) {
      Text(Field, std::string("<") + Type + "@0x" + HexText(NextSlot()) + ">");
      return At;
    }
    switch (Type) {
      case 'd':
      case 'u':
      case 'x':
      case 'X':
      case 'p':
        Number(Field, Type);
        break;
      case 'a':
      case 's':
      case 'S': {
        UINT64 Address = NextSlot();
        Text(Field, Address == 0  ? "<null string>"
                    : Type == 'a' ? AsciiString(Address, Limit)
                                  : WideString(Address, Limit));
        break;
      }
      case 'c':
        Place(Field, std::string(1, static_cast<char>(NextSlot() & 0xFF)), 0, Field.Precision, false);
        break;
      case 'g': {
        UINT64 Address = NextSlot();
        if (Address == 0) {
          Place(Field, "<null guid>", 0, Field.Precision, false);
          break;
        }
        EFI_GUID Guid;
        std::memcpy(&Guid, reinterpret_cast<const void *>(Address), sizeof Guid);
        std::string Body = Hex(Guid.Data1, 8) + "-" + Hex(Guid.Data2, 4) + "-" + Hex(Guid.Data3, 4) + "-" +
                           Hex(Guid.Data4[0], 2) + Hex(Guid.Data4[1], 2) + "-";
        for (int Index = 2; Index < 8; Index++) {
          Body += Hex(Guid.Data4[Index], 2);
        }
        Place(Field, Body, 0, Field.Precision, false);
        break;
      }
      case 't': {
        UINT64 Address = NextSlot();
        if (Address == 0) {
          Place(Field, "<null time>", 0, Field.Precision, false);
          break;
        }
        EFI_TIME Time;
        std::memcpy(&Time, reinterpret_cast<const void *>(Address), sizeof Time);
        Place(Field,
              Decimal(Time.Month, 2) + "/" + Decimal(Time.Day, 2) + "/" + Decimal(Time.Year, 4) + "  " +
                  Decimal(Time.Hour, 2) + ":" + Decimal(Time.Minute, 2),
              0, Field.Precision, false);
        break;
      }
      case 'r': {
        EFI_STATUS Status = NextSlot();
        const CHAR8 *Name = StatusName(Status);
        Place(Field, Name != nullptr ? std::string(Name) : Hex(Status & 0xFFFFFFFF, 8), 0, Field.Precision, false);
        break;
      }
      default:
        // "%%" and unknown conversions print the character.
        Place(Field, std::string(1, Type), 0, Field.Precision, false);
        break;
    }
    return At;
  }

  std::span<const UINT64> Slots;
  size_t Next = 0;
  size_t Limit;
  PointerArguments Pointers;
  std::string Out;
};

}  // namespace

std::optional<DebugMessage> DecodeDebugMessage(const StatusCodeReport &Report) {
  if (!HasType(Report, gEfiStatusCodeDataTypeDebugGuid)) {
    return std::nullopt;
  }
  DebugMessage Message{};
  Message.ErrorLevel = Read<UINT32>(Report.Data, kStatusCodeHeaderSize + OFFSET_OF(DEBUG_INFO_RECORD, ErrorLevel));
  for (size_t Index = 0; Index < kDebugInfoSlotCount; Index++) {
    Message.Slots[Index] =
        Read<UINT64>(Report.Data, kStatusCodeHeaderSize + OFFSET_OF(DEBUG_INFO_RECORD, Slots) + 8 * Index);
  }
  Message.Format = StringAt(Report.Data, kStatusCodeHeaderSize + OFFSET_OF(DEBUG_INFO_RECORD, Format));
  return Message;
}

std::optional<AssertMessage> DecodeAssertMessage(const StatusCodeReport &Report) {
  if ((Report.Type & 0xFF) != EFI_ERROR_CODE || (Report.Type & 0xFF000000) != EFI_ERROR_UNRECOVERED ||
      (Report.Value & 0xFFFF) != EFI_SW_EC_ILLEGAL_SOFTWARE_STATE) {
    return std::nullopt;
  }
  const size_t AssertData = kStatusCodeHeaderSize;
  AssertMessage Message{};
  Message.LineNumber = Read<UINT32>(Report.Data, AssertData + OFFSET_OF(EFI_DEBUG_ASSERT_DATA, LineNumber));
  const size_t FileName = AssertData + sizeof(EFI_DEBUG_ASSERT_DATA);
  Message.FileName = StringAt(Report.Data, FileName);
  Message.Description = StringAt(Report.Data, FileName + Message.FileName.size() + 1);
  return Message;
}

std::string FormatDebugMessage(std::string_view Format, std::span<const UINT64> Slots, size_t Capacity,
                               PointerArguments Pointers) {
  return Formatter(Slots, Capacity, Pointers).Run(Format);
}

std::string RenderStatusCode(const StatusCodeReport &Report, PointerArguments Pointers) {
  if (auto Assert = DecodeAssertMessage(Report)) {
    std::string Text = "\n\rDXE_ASSERT!: " + Assert->FileName + " (" + std::to_string(Assert->LineNumber) +
                       "): " + Assert->Description + "\n\r";
    return Text.substr(0, kStatusCodeDataMaxSize - 1);
  }
  if (auto Debug = DecodeDebugMessage(Report)) {
    return FormatDebugMessage(Debug->Format, Debug->Slots, kStatusCodeDataMaxSize, Pointers);
  }
  std::string Codes = "V" + HexText(Report.Value) + " I" + HexText(Report.Instance);
  switch (Report.Type & EFI_STATUS_CODE_TYPE_MASK) {
    case EFI_ERROR_CODE: {
      std::string Text = "ERROR: C" + HexText(Report.Type) + ":" + Codes;
      if (Report.CallerId) {
        const UINT64 Guid = reinterpret_cast<UINT64>(&*Report.CallerId);
        Text += " " + FormatDebugMessage("%g", std::span<const UINT64>(&Guid, 1));
      }
      return Text + "\n\r";
    }
    case EFI_PROGRESS_CODE:
      return "PROGRESS CODE: " + Codes + "\n\r";
    default:
      return "Undefined: C" + HexText(Report.Type) + ":" + Codes + "\n\r";
  }
}

std::string PlainLineEnds(std::string_view Text) {
  std::string Plain;
  for (size_t Index = 0; Index < Text.size(); Index++) {
    char Character = Text[Index];
    if (Character == '\r' && Index + 1 < Text.size() && Text[Index + 1] == '\n') {
      continue;  // "\r\n" -> "\n"
    }
    if (Character == '\n' && Index + 1 < Text.size() && Text[Index + 1] == '\r') {
      Index++;  // "\n\r" -> "\n"
    }
    Plain.push_back(Character);
  }
  return Plain;
}

}  // namespace debug_render
