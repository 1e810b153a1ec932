// Small PE32, PE32+ and TE images in page-aligned memory, laid out as a loader maps them,
// with or without a CodeView debug entry naming a PDB path.
#pragma once

#include <Uefi.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <sys/mman.h>

namespace supporttest {

enum class ImageKind { Pe32Plus, Pe32, Te };
enum class CodeViewKind { Rsds, Nb10, Mtoc, Unknown };

class SyntheticImage {
 public:
  static constexpr size_t kPeHeaderOffset = 0x80;
  static constexpr size_t kDebugDirectoryRva = 0x200;
  static constexpr size_t kCodeViewRva = 0x300;
  static constexpr size_t kTeStrippedSize = 0x100;

  explicit SyntheticImage(size_t Size = 0x4000) : Size(Size) {
    void *Mapping = mmap(nullptr, Size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    Base = Mapping == MAP_FAILED ? nullptr : static_cast<uint8_t *>(Mapping);
  }
  ~SyntheticImage() {
    if (Base != nullptr) {
      munmap(Base, Size);
    }
  }
  SyntheticImage(const SyntheticImage &) = delete;

  uint8_t *Bytes() { return Base; }
  UINTN Address() const { return reinterpret_cast<UINTN>(Base); }

  template <class T>
  void Put(size_t Offset, T Value) {
    std::memcpy(Base + Offset, &Value, sizeof Value);
  }

  // A DOS stub, then a PE header whose debug directory holds one entry per call of AddCodeView.
  void BuildPe(ImageKind Kind, bool WithDebugDirectory = true) {
    Put<uint16_t>(0, 0x5A4D);
    Put<uint32_t>(0x3C, kPeHeaderOffset);
    size_t Pe = kPeHeaderOffset;
    Put<uint32_t>(Pe, 0x00004550);
    bool Plus = Kind == ImageKind::Pe32Plus;
    Put<uint16_t>(Pe + 4, Plus ? 0x8664 : 0x014C);
    Put<uint16_t>(Pe + 24, Plus ? 0x20B : 0x10B);
    Put<uint32_t>(Pe + (Plus ? 132 : 116), 16);
    DirectoryAt = Pe + (Plus ? 184 : 168);
    EntryBase = kDebugDirectoryRva;
    if (WithDebugDirectory) {
      Put<uint32_t>(DirectoryAt, kDebugDirectoryRva);
    }
  }

  // A TE image (no DOS header): its debug entries sit StrippedSize - 40 bytes lower.
  void BuildTe() {
    Put<uint16_t>(0, 0x5A56);
    Put<uint16_t>(2, 0x8664);
    Put<uint16_t>(6, kTeStrippedSize);
    DirectoryAt = 32;
    Put<uint32_t>(DirectoryAt, kDebugDirectoryRva);
    Adjust = static_cast<intptr_t>(40) - static_cast<intptr_t>(kTeStrippedSize);
    EntryBase = kDebugDirectoryRva + Adjust;
  }

  // Appends a debug entry of Type whose CodeView record names Path.
  void AddCodeView(const std::string &Path, CodeViewKind Kind = CodeViewKind::Rsds, uint32_t Type = 2) {
    size_t Entry = EntryBase + 28 * Entries;
    size_t Record = kCodeViewRva + 0x200 * Entries;
    uint32_t Signature = 0x53445352;
    size_t Header = 24;
    switch (Kind) {
      case CodeViewKind::Nb10:
        Signature = 0x3031424E, Header = 16;
        break;
      case CodeViewKind::Mtoc:
        Signature = 0x434F544D, Header = 20;
        break;
      case CodeViewKind::Unknown:
        Signature = 0x584F4F46;
        break;
      default:
        break;
    }
    Put<uint32_t>(Entry + 12, Type);
    Put<uint32_t>(Entry + 16, static_cast<uint32_t>(Header + Path.size() + 1));
    Put<uint32_t>(Entry + 20, static_cast<uint32_t>(Record));
    Put<uint32_t>(Record + Adjust, Signature);
    std::memcpy(Base + Record + Adjust + Header, Path.c_str(), Path.size() + 1);
    Entries++;
    Put<uint32_t>(DirectoryAt + 4, static_cast<uint32_t>(28 * Entries));
  }

  // The path PeCoffLoaderGetPdbPointer should find for the first CodeView entry.
  const char *PathOf(size_t Index, size_t Header = 24) const {
    return reinterpret_cast<const char *>(Base + kCodeViewRva + 0x200 * Index + Adjust + Header);
  }

 private:
  uint8_t *Base = nullptr;
  size_t Size;
  size_t DirectoryAt = 0;
  size_t EntryBase = 0;
  intptr_t Adjust = 0;
  size_t Entries = 0;
};

}  // namespace supporttest
