#include "ModuleSnapshot.h"

#include <dlfcn.h>
#include <link.h>

#include <algorithm>

#include "FuzzInput.h"

int CollectSegments(struct dl_phdr_info *Info, size_t, void *Data) {
  auto *Module = static_cast<ModuleSnapshot *>(Data);
  if (Info->dlpi_addr != Module->LoadBase) {
    return 0;
  }
  // Relocated read-only data (RELRO) is sealed after loading and never changes.
  uintptr_t RelroStart = 0, RelroEnd = 0;
  for (int Index = 0; Index < Info->dlpi_phnum; Index++) {
    const auto &Header = Info->dlpi_phdr[Index];
    if (Header.p_type == PT_GNU_RELRO) {
      RelroStart = Info->dlpi_addr + Header.p_vaddr;
      RelroEnd = RelroStart + Header.p_memsz;
    }
  }
  for (int Index = 0; Index < Info->dlpi_phnum; Index++) {
    const auto &Header = Info->dlpi_phdr[Index];
    if (Header.p_type != PT_LOAD) {
      continue;
    }
    Module->MappedSize = std::max<uint64_t>(Module->MappedSize, Header.p_vaddr + Header.p_memsz);
    if ((Header.p_flags & PF_W) == 0) {
      continue;
    }
    uintptr_t Start = Info->dlpi_addr + Header.p_vaddr;
    uintptr_t End = Start + Header.p_memsz;
    if (Start < RelroEnd && End > RelroStart) {
      Start = std::max(Start, RelroEnd);
    }
    if (Start < End) {
      Module->Writable.push_back({Start, std::vector<uint8_t>(End - Start)});
    }
  }
  return 1;
}

namespace {

// Raw copies: the module's globals carry ASan redzones, which this copy may cross. It runs
// before every input over all of the module's writable data, so it moves whole words and
// stays out of the coverage map.
__attribute__((no_sanitize("address", "coverage"))) void RawCopy(volatile uint8_t *To, const volatile uint8_t *From,
                                                                 size_t Size) {
  size_t Index = 0;
  if (((uintptr_t)To & 7) == 0 && ((uintptr_t)From & 7) == 0) {
    for (; Index + 8 <= Size; Index += 8) {
      *(volatile uint64_t *)(To + Index) = *(const volatile uint64_t *)(From + Index);
    }
  }
  for (; Index < Size; Index++) {
    To[Index] = From[Index];
  }
}

}  // namespace

ModuleSnapshot::ModuleSnapshot(const std::string &Path) {
  Handle = dlopen(Path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (Handle == nullptr) {
    std::fprintf(stderr, "cannot load %s: %s\n", Path.c_str(), dlerror());
    std::abort();
  }
  Dl_info Info{};
  FUZZ_CHECK(dladdr(Symbol("_ModuleEntryPoint"), &Info) != 0);
  LoadBase = reinterpret_cast<uintptr_t>(Info.dli_fbase);
  dl_iterate_phdr(CollectSegments, this);
  FUZZ_CHECK(!Writable.empty());
  for (Range &Segment : Writable) {
    RawCopy(Segment.Bytes.data(), reinterpret_cast<const volatile uint8_t *>(Segment.Start), Segment.Bytes.size());
  }
}

void ModuleSnapshot::Restore() {
  for (Range &Segment : Writable) {
    RawCopy(reinterpret_cast<volatile uint8_t *>(Segment.Start), Segment.Bytes.data(), Segment.Bytes.size());
  }
}

void *ModuleSnapshot::Symbol(const char *Name) const { return dlsym(Handle, Name); }
