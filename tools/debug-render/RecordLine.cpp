#include "RecordLine.h"

#include <charconv>
#include <vector>

namespace debug_render {

namespace {

std::vector<std::string_view> Words(std::string_view Line) {
  std::vector<std::string_view> Result;
  size_t At = 0;
  while (At < Line.size()) {
    size_t Start = Line.find_first_not_of(" \t\r", At);
    if (Start == std::string_view::npos) {
      break;
    }
    size_t End = Line.find_first_of(" \t\r", Start);
    End = End == std::string_view::npos ? Line.size() : End;
    Result.push_back(Line.substr(Start, End - Start));
    At = End;
  }
  return Result;
}

template <class T>
std::optional<T> HexNumber(std::string_view Text) {
  if (Text.size() > 2 && Text[0] == '0' && (Text[1] == 'x' || Text[1] == 'X')) {
    Text.remove_prefix(2);
  }
  T Value{};
  auto [End, Error] = std::from_chars(Text.data(), Text.data() + Text.size(), Value, 16);
  if (Text.empty() || Error != std::errc() || End != Text.data() + Text.size()) {
    return std::nullopt;
  }
  return Value;
}

}  // namespace

std::optional<debug_render::StatusCodeReport> ParseRecordLine(std::string_view Line) {
  std::vector<std::string_view> Fields = Words(Line);
  if (Fields.size() != 3 && Fields.size() != 4) {
    return std::nullopt;
  }
  auto Type = HexNumber<UINT32>(Fields[0]);
  auto Value = HexNumber<UINT32>(Fields[1]);
  auto Instance = HexNumber<UINT32>(Fields[2]);
  if (!Type || !Value || !Instance) {
    return std::nullopt;
  }
  debug_render::StatusCodeReport Report{*Type, *Value, *Instance, std::nullopt, {}};
  std::string_view Data = Fields.size() == 4 ? Fields[3] : std::string_view();
  if (Data.size() % 2 != 0) {
    return std::nullopt;
  }
  for (size_t At = 0; At < Data.size(); At += 2) {
    auto Byte = HexNumber<UINT8>(Data.substr(At, 2));
    if (!Byte) {
      return std::nullopt;
    }
    Report.Data.push_back(*Byte);
  }
  return Report;
}

}  // namespace debug_render
