// The dead-loop report's image lookup (PeCoffLoaderGetPdbPointer, then GetModuleNameFromPdb)
// over whatever follows an "MZ": the report scans memory backwards for that signature, so
// the bytes it lands on may be any data at all.
//
// The lookup cannot know the image's size, so every offset it follows is at most a 32-bit
// RVA (plus a 16-bit header offset) away from the base, as in flat firmware memory. The
// input is placed at the start of a readable, zero-filled reservation that covers all of
// that, so the property tested is the one firmware depends on: the walk stays within what
// the headers can reach, ends, and never writes outside the name buffer it was given.
//
// Input: byte 0 chooses the name buffer size (1..256), the rest is the image.
#include <DeadLoopReport.h>
#include <Library/PeCoffGetEntryPointLib.h>
#include <Uefi.h>

#include <sys/mman.h>

#include <cstring>
#include <vector>

#include "FuzzInput.h"

namespace {

constexpr size_t kBelowBase = 0x10000 + 0x1000;  // a TE image's stripped size reaches below it
constexpr size_t kReachAbove = (size_t{1} << 32) + 0x40000;
constexpr size_t kInputLimit = 0x10000;

UINT8 *ImageBase() {
  static UINT8 *Base = [] {
    void *Region =
        mmap(nullptr, kBelowBase + kReachAbove, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    FUZZ_CHECK(Region != MAP_FAILED);
    auto *Start = static_cast<UINT8 *>(Region) + kBelowBase;
    FUZZ_CHECK(mprotect(Start, kInputLimit, PROT_READ | PROT_WRITE) == 0);
    return Start;
  }();
  return Base;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  if (Size < 1 || Size - 1 > kInputLimit) {
    return 0;
  }
  const UINTN BufferSize = UINTN{Data[0]} + 1;
  UINT8 *Base = ImageBase();
  std::memcpy(Base, Data + 1, Size - 1);

  VOID *Path = PeCoffLoaderGetPdbPointer(Base);
  if (Path != nullptr) {
    FUZZ_CHECK(static_cast<UINT8 *>(Path) + 1 >= Base - kBelowBase + 1);
    FUZZ_CHECK(static_cast<UINT8 *>(Path) < Base + kReachAbove);
  }

  // The name buffer sits alone on the heap: a write past BufferSize is an ASan report.
  std::vector<CHAR8> Name(BufferSize, '\x5A');
  EFI_STATUS Status = GetModuleNameFromPdb(Base, Name.data(), BufferSize);
  if (!EFI_ERROR(Status)) {
    FUZZ_CHECK(Path != nullptr);
    const size_t Length = strnlen(Name.data(), BufferSize);
    FUZZ_CHECK(Length < BufferSize);
    FUZZ_CHECK(Length >= 3 && std::memcmp(Name.data() + Length - 3, "efi", 3) == 0);
  } else {
    FUZZ_CHECK(Status == EFI_NOT_FOUND);
  }
  FUZZ_CHECK(Path != nullptr || Status == EFI_NOT_FOUND);

  std::memset(Base, 0, Size - 1);
  return 0;
}
