// What the BMC tests share: a private state directory per test, and a host that speaks the
// chunked large command step by step, building each step from the shared wire layout.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <Crc16.h>
#include <InventoryBmc.h>
#include <LargeCommandTransfer.h>

namespace BmcTest {

using Bytes = std::vector<uint8_t>;

class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::filesystem::path &Path() const { return Root; }

 private:
  std::filesystem::path Root;
};

Bytes ReadFile(const std::filesystem::path &Path);
// Names of the files in a folder, sorted.
std::vector<std::string> Listing(const std::filesystem::path &Folder);

Bytes OpenStep(uint32_t TotalLength, uint16_t TargetHeader);
Bytes WriteStep(uint16_t Session, uint32_t Offset, const uint8_t *Chunk, size_t Size);
Bytes CommitStep(uint16_t Session, uint32_t Crc32);
Bytes AbortStep(uint16_t Session);

// The host side of one transfer, against an InventoryBmc.
struct Host {
  RosterBmc::InventoryBmc &Bmc;

  Bytes Send(const Bytes &Request);
  // OPEN; the session id, or 0 when the BMC refused (LastCode holds its answer).
  uint16_t Open(uint32_t TotalLength);
  uint8_t Write(uint16_t Session, uint32_t Offset, const uint8_t *Chunk, size_t Size);
  uint8_t Commit(uint16_t Session, const Bytes &Data);
  // Every step of a whole transfer in Chunk-sized writes; the COMMIT's completion code.
  uint8_t Transfer(const Bytes &Data, size_t Chunk = LARGE_COMMAND_MAX_CHUNK);
  uint8_t Sata(const Bytes &Message);

  uint8_t LastCode = 0;
};

}  // namespace BmcTest
