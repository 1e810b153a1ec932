// A driver module loaded once per fuzzing process whose writable data is put back as it was
// after loading before every run: each run meets zeroed module state, as a freshly loaded
// image does, without loading a new copy (libFuzzer cannot follow coverage across copies).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class ModuleSnapshot {
 public:
  explicit ModuleSnapshot(const std::string &Path);
  void Restore();
  void *Symbol(const char *Name) const;
  void *Base() const { return reinterpret_cast<void *>(LoadBase); }
  uint64_t Size() const { return MappedSize; }

 private:
  struct Range {
    uintptr_t Start;
    std::vector<uint8_t> Bytes;
  };
  void *Handle = nullptr;
  uintptr_t LoadBase = 0;
  uint64_t MappedSize = 0;
  std::vector<Range> Writable;
  friend int CollectSegments(struct dl_phdr_info *, size_t, void *);
};
