// The BMC's state directory: the last inventory image (inventory.bin) and the SATA_INFO
// messages of the same boot (sata-00.bin, sata-01.bin, ...), each the raw bytes as received,
// so roster-decode reads them as they are. Every file is replaced atomically (temporary
// file, fsync, rename, fsync of the directory): a BMC killed mid-write keeps the previous
// file whole. Names are the store's own, never taken from what the host sent, and every
// file is reached relative to the directory opened once, so nothing lands outside it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace RosterBmc {

inline constexpr char kInventoryFile[] = "inventory.bin";
// A boot's SATA messages: enough for every port and drive handle a boot can report.
inline constexpr unsigned kMaxSataMessages = 64;

// Where a store step can be made to fail, for tests of what a failure leaves behind.
enum class StoreStage { Create, Write, Sync, Rename, SyncDirectory };

class StateStore {
 public:
  StateStore() = default;
  ~StateStore();
  StateStore(const StateStore &) = delete;
  StateStore &operator=(const StateStore &) = delete;

  // Opens (creating it if missing, one level) the directory, removes temporary files a
  // killed BMC left behind and counts the SATA messages stored so far. False with a
  // message in Error when the directory cannot be used.
  bool Open(const std::string &Directory, std::string &Error);

  // Replaces the stored inventory; a new inventory starts a new boot's SATA set.
  bool StoreInventory(std::span<const uint8_t> Image);
  // Adds the next SATA message of the boot; false when the set is full or the write fails.
  bool StoreSata(std::span<const uint8_t> Message);

  std::optional<std::vector<uint8_t>> ReadInventory() const;
  unsigned SataCount() const { return SataMessages; }
  static std::string SataFileName(unsigned Index);

  // Test hook: called before each step; returning false makes that step fail.
  std::function<bool(StoreStage)> FailBefore;

 private:
  // Replaced: the rename happened, so the new content is in place even when false is returned.
  bool WriteAtomically(const std::string &Name, std::span<const uint8_t> Content, bool &Replaced);
  bool Allowed(StoreStage Stage) const { return !FailBefore || FailBefore(Stage); }
  void RemoveSataSet();

  int DirFd = -1;
  unsigned SataMessages = 0;
};

}  // namespace RosterBmc
