// debug-render: the text a serial status-code listener prints for debug and assert records
// captured on real firmware. The records are rendered by lib/debug_render, as the
// simulator's listener renders them, so the host has one reading of the format grammar.
//
// Input (FILE or standard input): one record a line, "TYPE VALUE INSTANCE DATA" in
// hexadecimal, DATA being the whole EFI_STATUS_CODE_DATA, header and payload. Pointer
// arguments print as "<a@0x1234>": the memory they pointed to is gone.
// Output: the listener's text with plain line ends; with --records one line a record,
// "debug|assert|other HEX", HEX being that record's text as hexadecimal bytes (nothing for
// a record no listener prints), for scripts.
// Exit status: 0 every line was a record, 1 a line that is not, 2 usage or I/O.
#include <debug_render/DebugRender.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>

#include "RecordLine.h"

namespace {

constexpr int kExitBadLine = 1;
constexpr int kExitUsage = 2;

void PrintUsage(std::ostream &Out) {
  Out << "usage: debug-render [--records] [FILE]\n"
         "  Each line of FILE (or standard input) is one status code: TYPE VALUE INSTANCE DATA\n"
         "  in hexadecimal, DATA the whole EFI_STATUS_CODE_DATA. Prints what a serial\n"
         "  listener prints for its debug and assert records.\n"
         "  --records  one line a record: \"debug|assert|other HEX\" with the text as hex bytes\n"
         "exit status: 0 all lines read, 1 a line that is no record, 2 usage or I/O\n";
}

const char *KindOf(const debug_render::StatusCodeReport &Report) {
  if (debug_render::DecodeAssertMessage(Report)) {
    return "assert";
  }
  return debug_render::DecodeDebugMessage(Report) ? "debug" : "other";
}

std::string HexBytes(const std::string &Text) {
  static const char Digits[] = "0123456789ABCDEF";
  std::string Hex;
  for (unsigned char Character : Text) {
    Hex.push_back(Digits[Character >> 4]);
    Hex.push_back(Digits[Character & 0xF]);
  }
  return Hex;
}

}  // namespace

int main(int Argc, char **Argv) {
  bool PerRecord = false;
  std::optional<std::string> Path;
  for (int Index = 1; Index < Argc; Index++) {
    std::string Argument = Argv[Index];
    if (Argument == "--help" || Argument == "-h") {
      PrintUsage(std::cout);
      return 0;
    }
    if (Argument == "--records") {
      PerRecord = true;
    } else if (!Argument.empty() && Argument[0] == '-' && Argument != "-") {
      std::cerr << "debug-render: unknown option " << Argument << "\n";
      PrintUsage(std::cerr);
      return kExitUsage;
    } else if (Path) {
      PrintUsage(std::cerr);
      return kExitUsage;
    } else if (Argument != "-") {
      Path = Argument;
    }
  }

  std::ifstream File;
  if (Path) {
    File.open(*Path);
    if (!File) {
      std::cerr << "debug-render: cannot read " << *Path << "\n";
      return kExitUsage;
    }
  }
  std::istream &In = Path ? static_cast<std::istream &>(File) : std::cin;

  int Status = 0;
  unsigned LineNumber = 0;
  for (std::string Line; std::getline(In, Line);) {
    LineNumber++;
    if (Line.find_first_not_of(" \t\r") == std::string::npos) {
      continue;
    }
    std::optional<debug_render::StatusCodeReport> Report = debug_render::ParseRecordLine(Line);
    if (!Report) {
      std::cerr << "debug-render: line " << LineNumber << " is not TYPE VALUE INSTANCE DATA in hexadecimal\n";
      Status = kExitBadLine;
      continue;
    }
    const char *Kind = KindOf(*Report);
    std::string Text = std::string(Kind) == "other" ? std::string()
                                                    : debug_render::PlainLineEnds(debug_render::RenderStatusCode(
                                                          *Report, debug_render::PointerArguments::AddressOnly));
    if (PerRecord) {
      std::cout << Kind << (Text.empty() ? "" : " ") << HexBytes(Text) << "\n";
    } else {
      std::cout << Text;
    }
  }
  if (In.bad()) {
    std::cerr << "debug-render: read error\n";
    return kExitUsage;
  }
  return Status;
}
