#include "DecodeReport.h"

#include <charconv>

#include "DecodeBytes.h"

namespace RosterDecode {
namespace {

constexpr std::string_view kLargeCall = "BMC SendLargeCommand ";
constexpr std::string_view kSmallCall = "BMC SendCommand ";

int HexDigit(char C) {
  if (C >= '0' && C <= '9') return C - '0';
  if (C >= 'a' && C <= 'f') return C - 'a' + 10;
  if (C >= 'A' && C <= 'F') return C - 'A' + 10;
  return -1;
}

// Takes "Name=" and the value after it up to the next blank; false when the field is not next.
bool TakeField(std::string_view &Rest, std::string_view Name, std::string_view &Value) {
  while (!Rest.empty() && (Rest.front() == ' ' || Rest.front() == '\t')) {
    Rest.remove_prefix(1);
  }
  if (Rest.substr(0, Name.size()) != Name) {
    return false;
  }
  Rest.remove_prefix(Name.size());
  size_t End = Rest.find_first_of(" \t");
  Value = Rest.substr(0, End);
  Rest.remove_prefix(Value.size());
  return true;
}

std::string ParseLine(std::string_view Rest, ReportMessage &Message) {
  std::string_view HeaderText;
  std::string_view LengthText;
  std::string_view DataText;
  if (!TakeField(Rest, "header=0x", HeaderText) && !TakeField(Rest, "header=0X", HeaderText)) {
    return "missing header=0x<hex>";
  }
  unsigned Header = 0;
  auto [HeaderEnd, HeaderError] = std::from_chars(HeaderText.data(), HeaderText.data() + HeaderText.size(), Header, 16);
  if (HeaderText.empty() || HeaderError != std::errc() || HeaderEnd != HeaderText.data() + HeaderText.size() ||
      Header > 0xFFFF) {
    return "header is not a 16-bit hexadecimal value";
  }
  if (!TakeField(Rest, "length=", LengthText)) {
    return "missing length=<decimal>";
  }
  uint64_t Length = 0;
  auto [LengthEnd, LengthError] = std::from_chars(LengthText.data(), LengthText.data() + LengthText.size(), Length);
  if (LengthText.empty() || LengthError != std::errc() || LengthEnd != LengthText.data() + LengthText.size()) {
    return "length is not a decimal number";
  }
  if (!TakeField(Rest, "data=", DataText)) {
    return "missing data=<hex bytes>";
  }
  while (!Rest.empty() && (Rest.front() == ' ' || Rest.front() == '\t')) {
    Rest.remove_prefix(1);
  }
  if (!Rest.empty()) {
    return "unexpected text after the data";
  }
  if (DataText.size() % 2 != 0) {
    return Format("data has an odd number of hex digits (%zu)", DataText.size());
  }
  Message.Data.reserve(DataText.size() / 2);
  for (size_t Index = 0; Index < DataText.size(); Index += 2) {
    int High = HexDigit(DataText[Index]);
    int Low = HexDigit(DataText[Index + 1]);
    if (High < 0 || Low < 0) {
      return Format("data holds a non-hex character at digit %zu", Index + (High < 0 ? 0 : 1));
    }
    Message.Data.push_back(static_cast<uint8_t>(High * 16 + Low));
  }
  if (Length != Message.Data.size()) {
    return Format("length=%llu but data holds %zu bytes", static_cast<unsigned long long>(Length), Message.Data.size());
  }
  Message.CommandHeader = static_cast<uint16_t>(Header);
  return {};
}

}  // namespace

bool LooksLikeReport(ByteView Bytes) {
  std::string_view Text(reinterpret_cast<const char *>(Bytes.data()), Bytes.size());
  return Text.find(kLargeCall) != std::string_view::npos || Text.find(kSmallCall) != std::string_view::npos;
}

ReportContents ParseReport(std::string_view Text) {
  ReportContents Contents;
  size_t LineNumber = 0;
  while (!Text.empty()) {
    size_t End = Text.find('\n');
    std::string_view Line = Text.substr(0, End);
    Text.remove_prefix(End == std::string_view::npos ? Text.size() : End + 1);
    ++LineNumber;
    if (!Line.empty() && Line.back() == '\r') {
      Line.remove_suffix(1);
    }

    ReportMessage Message;
    Message.Line = LineNumber;
    size_t At = Line.find(kLargeCall);
    std::string_view CallName = kLargeCall;
    Message.Call = TransportCall::SendLargeCommand;
    if (At == std::string_view::npos) {
      At = Line.find(kSmallCall);
      CallName = kSmallCall;
      Message.Call = TransportCall::SendCommand;
    }
    if (At == std::string_view::npos) {
      continue;
    }
    std::string Problem = ParseLine(Line.substr(At + CallName.size()), Message);
    if (!Problem.empty()) {
      Contents.Problems.push_back(Format("line %zu: unreadable %.*s line: %s", LineNumber,
                                         static_cast<int>(CallName.size() - 1), CallName.data(), Problem.c_str()));
      continue;
    }
    Contents.Messages.push_back(std::move(Message));
  }
  return Contents;
}

}  // namespace RosterDecode
