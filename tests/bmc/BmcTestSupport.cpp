#include "BmcTestSupport.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include <InventoryLayout.h>
#include <crc32/Crc32.h>

namespace BmcTest {
namespace {

template <typename T>
Bytes Raw(const T &Value) {
  const auto *Start = reinterpret_cast<const uint8_t *>(&Value);
  return Bytes(Start, Start + sizeof(T));
}

}  // namespace

TempDir::TempDir() {
  std::string Pattern = (std::filesystem::temp_directory_path() / "bmc-test-XXXXXX").string();
  Root = mkdtemp(Pattern.data());
}

TempDir::~TempDir() {
  std::error_code Ignored;
  std::filesystem::remove_all(Root, Ignored);
}

Bytes ReadFile(const std::filesystem::path &Path) {
  std::ifstream In(Path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
}

std::vector<std::string> Listing(const std::filesystem::path &Folder) {
  std::vector<std::string> Names;
  for (const auto &Entry : std::filesystem::directory_iterator(Folder)) {
    Names.push_back(Entry.path().filename().string());
  }
  std::sort(Names.begin(), Names.end());
  return Names;
}

Bytes OpenStep(uint32_t TotalLength, uint16_t TargetHeader) {
  LARGE_COMMAND_OPEN_REQUEST Request{LARGE_COMMAND_STEP_OPEN, 0, TargetHeader, TotalLength};
  return Raw(Request);
}

Bytes WriteStep(uint16_t Session, uint32_t Offset, const uint8_t *Chunk, size_t Size) {
  LARGE_COMMAND_WRITE_REQUEST Request{LARGE_COMMAND_STEP_WRITE, 0, Session, Offset,
                                      RosterBmc::Crc16CcittFalse({Chunk, Size})};
  Bytes Step = Raw(Request);
  Step.insert(Step.end(), Chunk, Chunk + Size);
  return Step;
}

Bytes CommitStep(uint16_t Session, uint32_t Crc32) {
  LARGE_COMMAND_COMMIT_REQUEST Request{LARGE_COMMAND_STEP_COMMIT, 0, Session, Crc32};
  return Raw(Request);
}

Bytes AbortStep(uint16_t Session) {
  LARGE_COMMAND_ABORT_REQUEST Request{LARGE_COMMAND_STEP_ABORT, 0, Session};
  return Raw(Request);
}

Bytes Host::Send(const Bytes &Request) {
  Bytes Response = Bmc.Handle(INVENTORY_NETFN, INVENTORY_COMMAND, Request);
  LastCode = Response.empty() ? 0xEE : Response[0];
  return Response;
}

uint16_t Host::Open(uint32_t TotalLength) {
  Bytes Response = Send(OpenStep(TotalLength, INVENTORY_COMMAND_HEADER));
  if (LastCode != IPMI_CC_SUCCESS || Response.size() != sizeof(LARGE_COMMAND_OPEN_RESPONSE)) {
    return 0;
  }
  LARGE_COMMAND_OPEN_RESPONSE Open;
  std::memcpy(&Open, Response.data(), sizeof(Open));
  return Open.SessionId;
}

uint8_t Host::Write(uint16_t Session, uint32_t Offset, const uint8_t *Chunk, size_t Size) {
  Send(WriteStep(Session, Offset, Chunk, Size));
  return LastCode;
}

uint8_t Host::Commit(uint16_t Session, const Bytes &Data) {
  Send(CommitStep(Session, crc32::Crc32(Data.data(), Data.size())));
  return LastCode;
}

uint8_t Host::Transfer(const Bytes &Data, size_t Chunk) {
  uint16_t Session = Open(static_cast<uint32_t>(Data.size()));
  if (Session == 0) {
    return LastCode;
  }
  for (size_t Offset = 0; Offset < Data.size(); Offset += Chunk) {
    size_t Size = std::min(Chunk, Data.size() - Offset);
    if (Write(Session, static_cast<uint32_t>(Offset), Data.data() + Offset, Size) != IPMI_CC_SUCCESS) {
      return LastCode;
    }
  }
  return Commit(Session, Data);
}

uint8_t Host::Sata(const Bytes &Message) {
  Bytes Response = Bmc.Handle(SATA_INFO_NETFN, SATA_INFO_COMMAND, Message);
  LastCode = Response.empty() ? 0xEE : Response[0];
  return LastCode;
}

}  // namespace BmcTest
