#include "BmcOptions.h"

#include <charconv>
#include <climits>

namespace RosterBmc {
namespace {

// Decimal, or hexadecimal with 0x; the whole text must be the number.
bool ParseNumber(std::string_view Text, unsigned long Max, unsigned long &Value) {
  int Base = 10;
  if (Text.size() > 2 && Text[0] == '0' && (Text[1] == 'x' || Text[1] == 'X')) {
    Text.remove_prefix(2);
    Base = 16;
  }
  if (Text.empty()) {
    return false;
  }
  auto [End, Error] = std::from_chars(Text.data(), Text.data() + Text.size(), Value, Base);
  return Error == std::errc() && End == Text.data() + Text.size() && Value <= Max;
}

bool IsBlank(char Character) { return Character == ' ' || Character == '\t' || Character == '\n'; }

}  // namespace

bool ParseOptions(std::string_view Text, BmcOptions &Options, std::string &Error) {
  BmcOptions Parsed;
  size_t At = 0;
  while (At < Text.size()) {
    if (IsBlank(Text[At])) {
      ++At;
      continue;
    }
    size_t End = At;
    while (End < Text.size() && !IsBlank(Text[End])) {
      ++End;
    }
    std::string_view Word = Text.substr(At, End - At);
    At = End;
    size_t Equals = Word.find('=');
    std::string_view Key = Word.substr(0, Equals);
    std::string_view Value = Equals == std::string_view::npos ? std::string_view() : Word.substr(Equals + 1);
    if (Key == "statedir" && !Value.empty()) {
      if (Value.find('\0') != std::string_view::npos || Value.size() > PATH_MAX) {
        Error = "statedir is not a usable path";
        return false;
      }
      Parsed.StateDir = std::string(Value);
    } else if (Key == "sata_fail" && !Value.empty()) {
      size_t Colon = Value.find(':');
      unsigned long Count = 0;
      unsigned long Code = Parsed.SataFailCode;
      if (!ParseNumber(Value.substr(0, Colon), 255, Count) ||
          (Colon != std::string_view::npos && !ParseNumber(Value.substr(Colon + 1), 0xFF, Code)) || Code == 0) {
        Error = "sata_fail takes N[:CODE], N up to 255 and CODE a nonzero completion code";
        return false;
      }
      Parsed.SataFailCount = static_cast<unsigned>(Count);
      Parsed.SataFailCode = static_cast<uint8_t>(Code);
    } else {
      Error = "unknown option '" + std::string(Word.substr(0, 64)) + "' (known: statedir=DIR, sata_fail=N[:CODE])";
      return false;
    }
  }
  Options = Parsed;
  return true;
}

std::optional<std::string> StateDirFromCommandLine(const std::vector<std::string> &Arguments) {
  for (size_t Index = 1; Index < Arguments.size(); ++Index) {
    if (Arguments[Index] == "-s" && Index + 1 < Arguments.size()) {
      return Arguments[Index + 1];
    }
  }
  return std::nullopt;
}

}  // namespace RosterBmc
