// roster-decode: shows a person, or a script with --json, what the inventory driver sent to
// the management controller. Exit status: 0 all decoded cleanly, 1 bad data, 2 usage or I/O.
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "DecodeFile.h"
#include "JsonPrinter.h"
#include "TextPrinter.h"

namespace {

constexpr int kExitBadData = 1;
constexpr int kExitUsage = 2;

void PrintUsage(std::ostream &Out) {
  Out << "usage: roster-decode [--json] FILE...\n"
         "  FILE is an inventory image, a 65-byte SATA_INFO message, or a harness report\n"
         "  holding \"BMC SendLargeCommand ...\" and \"BMC SendCommand ...\" lines.\n";
}

// C stdio rather than streams: a directory or a failing device must give an error, not throw.
std::optional<std::vector<uint8_t>> ReadWholeFile(const std::string &Path, std::string &Error) {
  std::FILE *File = std::fopen(Path.c_str(), "rb");
  if (File == nullptr) {
    Error = std::strerror(errno);
    return std::nullopt;
  }
  std::vector<uint8_t> Bytes;
  uint8_t Chunk[65536];
  size_t Got = 0;
  while ((Got = std::fread(Chunk, 1, sizeof(Chunk), File)) > 0) {
    Bytes.insert(Bytes.end(), Chunk, Chunk + Got);
  }
  bool Failed = std::ferror(File) != 0;
  int ReadErrno = errno;
  std::fclose(File);
  if (Failed) {
    Error = std::strerror(ReadErrno);
    return std::nullopt;
  }
  return Bytes;
}

void ReportProblems(const RosterDecode::FileFacts &File) {
  auto Tell = [&](const std::string &Where, const std::string &Problem) {
    std::cerr << "roster-decode: " << File.Path << ": " << (Where.empty() ? "" : Where + ": ") << Problem << "\n";
  };
  for (const auto &Problem : File.Problems) Tell("", Problem);
  for (const auto &Inventory : File.Inventories) {
    for (const auto &Problem : Inventory.Problems) Tell(Inventory.Origin, Problem);
  }
  for (const auto &Drive : File.Drives) {
    for (const auto &Problem : Drive.Problems) Tell(Drive.Origin, Problem);
  }
}

}  // namespace

int main(int Argc, char **Argv) {
  bool Json = false;
  std::vector<std::string> Paths;
  for (int Index = 1; Index < Argc; ++Index) {
    std::string Argument = Argv[Index];
    if (Argument == "--json") {
      Json = true;
    } else if (Argument == "-h" || Argument == "--help") {
      PrintUsage(std::cout);
      return 0;
    } else if (Argument.size() > 1 && Argument[0] == '-') {
      std::cerr << "roster-decode: unknown option " << Argument << "\n";
      PrintUsage(std::cerr);
      return kExitUsage;
    } else {
      Paths.push_back(Argument);
    }
  }
  if (Paths.empty()) {
    PrintUsage(std::cerr);
    return kExitUsage;
  }

  int Exit = 0;
  std::vector<RosterDecode::FileFacts> Files;
  for (const auto &Path : Paths) {
    std::string Error;
    auto Bytes = ReadWholeFile(Path, Error);
    if (!Bytes) {
      std::cerr << "roster-decode: " << Path << ": cannot read: " << Error << "\n";
      RosterDecode::FileFacts Unreadable;
      Unreadable.Path = Path;
      Unreadable.Kind = RosterDecode::InputKind::Unreadable;
      Unreadable.Problems.push_back("cannot read: " + Error);
      Files.push_back(std::move(Unreadable));
      Exit = kExitUsage;
      continue;
    }
    Files.push_back(RosterDecode::DecodeFile(Path, *Bytes));
    ReportProblems(Files.back());
    if (RosterDecode::HasProblems(Files.back()) && Exit == 0) {
      Exit = kExitBadData;
    }
  }

  if (Json) {
    std::cout << RosterDecode::JsonDocument(Files);
  } else {
    for (size_t Index = 0; Index < Files.size(); ++Index) {
      if (Files[Index].Problems.size() == 1 && Files[Index].Inventories.empty() && Files[Index].Drives.empty() &&
          Exit == kExitUsage && Files[Index].Problems[0].rfind("cannot read", 0) == 0) {
        continue;
      }
      std::cout << (Index == 0 ? "" : "\n");
      RosterDecode::PrintText(std::cout, Files[Index]);
    }
  }
  return Exit;
}
