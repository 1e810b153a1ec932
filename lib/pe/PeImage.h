// A bounded reader for PE32 and PE32+ files, for host tools and tests. Every offset and
// size read from the file is checked against the file before use: a damaged or hostile
// file is refused with a reason, never read out of bounds.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace pe {

inline constexpr uint16_t kMachineAmd64 = 0x8664;
inline constexpr uint16_t kMachineI386 = 0x014C;
inline constexpr uint16_t kMagicPe32 = 0x10B;
inline constexpr uint16_t kMagicPe32Plus = 0x20B;
inline constexpr uint16_t kSubsystemEfiApplication = 10;
inline constexpr uint16_t kSubsystemEfiBootServiceDriver = 11;
inline constexpr uint16_t kSubsystemEfiRuntimeDriver = 12;

enum DirectoryIndex : unsigned {
  kDirectoryExport = 0,
  kDirectoryImport = 1,
  kDirectoryBaseRelocation = 5,
  kDirectoryDebug = 6,
};

inline constexpr uint16_t kFileRelocationsStripped = 0x0001;  // file header Characteristics
inline constexpr uint32_t kSectionExecute = 0x20000000;  // section Characteristics
inline constexpr uint32_t kSectionWrite = 0x80000000;
// Base relocation types (top 4 bits of an entry). Absolute is padding that keeps a block
// 32-bit aligned.
inline constexpr uint16_t kRelocationAbsolute = 0;
inline constexpr uint16_t kRelocationDir64 = 10;

inline constexpr uint32_t kDebugTypeCodeView = 2;
// Loaders refuse images larger than this; mapping one must not exhaust the host.
inline constexpr uint32_t kMaxMappedImageSize = 256u << 20;

struct DataDirectory {
  uint32_t VirtualAddress = 0;
  uint32_t Size = 0;
};

struct Section {
  std::string Name;
  uint32_t VirtualAddress = 0;
  uint32_t VirtualSize = 0;
  uint32_t RawDataOffset = 0;
  uint32_t RawDataSize = 0;
  uint32_t Characteristics = 0;
};

struct DebugEntry {
  uint32_t Characteristics = 0;
  uint32_t TimeDateStamp = 0;
  uint16_t MajorVersion = 0;
  uint16_t MinorVersion = 0;
  uint32_t Type = 0;
  uint32_t SizeOfData = 0;
  uint32_t AddressOfRawData = 0;
  uint32_t PointerToRawData = 0;
};

struct CodeViewInfo {
  uint32_t Signature = 0;  // "RSDS" or "NB10" as a little-endian value
  std::string Path;
};

struct RelocationBlock {
  uint32_t PageRva = 0;
  std::vector<uint16_t> Entries;  // type in the top 4 bits, page offset in the low 12
};

class PeImage {
 public:
  struct ParseResult;
  // Takes a copy of the bytes; the result does not refer to the caller's buffer.
  static ParseResult Parse(std::span<const uint8_t> File);
  static ParseResult Load(const std::string &Path);

  uint16_t Machine() const { return Machine_; }
  uint16_t Magic() const { return Magic_; }
  bool IsPe32Plus() const { return Magic_ == kMagicPe32Plus; }
  uint16_t Subsystem() const { return Subsystem_; }
  uint16_t Characteristics() const { return Characteristics_; }
  uint16_t DllCharacteristics() const { return DllCharacteristics_; }
  uint64_t ImageBase() const { return ImageBase_; }
  uint32_t AddressOfEntryPoint() const { return AddressOfEntryPoint_; }
  uint32_t SizeOfImage() const { return SizeOfImage_; }
  uint32_t SizeOfHeaders() const { return SizeOfHeaders_; }
  uint32_t SectionAlignment() const { return SectionAlignment_; }
  uint32_t FileAlignment() const { return FileAlignment_; }
  uint32_t PeHeaderOffset() const { return PeHeaderOffset_; }
  const std::vector<Section> &Sections() const { return Sections_; }
  const std::vector<uint8_t> &Bytes() const { return File_; }

  // An absent directory (beyond NumberOfRvaAndSizes) reads as empty.
  DataDirectory Directory(unsigned Index) const;
  // The file bytes that back [Rva, Rva + Size): in the headers or inside one section's raw
  // data. Nothing when the range is not wholly backed by the file.
  std::optional<std::span<const uint8_t>> BytesAtRva(uint32_t Rva, uint32_t Size) const;

  // Nothing when the debug directory is present but does not lie in the file.
  std::optional<std::vector<DebugEntry>> DebugEntries() const;
  // The first CodeView entry whose data holds a terminated path, as firmware's PDB lookup
  // finds it.
  std::optional<CodeViewInfo> CodeView() const;
  // Nothing when the relocation directory is malformed (a block smaller than its header
  // or running past the directory).
  std::optional<std::vector<RelocationBlock>> RelocationBlocks() const;
  bool HasImports() const { return Directory(kDirectoryImport).Size != 0; }

  // The image as a loader lays it out: headers and each section's raw data at its RVA in a
  // zero-filled buffer of SizeOfImage bytes. Nothing when a section would not fit.
  std::optional<std::vector<uint8_t>> MapAtRvas() const;

 private:
  // An absent directory gives no bytes; one not backed by the file gives nothing.
  std::optional<std::span<const uint8_t>> DirectoryBytes(unsigned Index) const;

  std::vector<uint8_t> File_;
  uint16_t Machine_ = 0;
  uint16_t Magic_ = 0;
  uint16_t Subsystem_ = 0;
  uint16_t Characteristics_ = 0;
  uint16_t DllCharacteristics_ = 0;
  uint64_t ImageBase_ = 0;
  uint32_t AddressOfEntryPoint_ = 0;
  uint32_t SizeOfImage_ = 0;
  uint32_t SizeOfHeaders_ = 0;
  uint32_t SectionAlignment_ = 0;
  uint32_t FileAlignment_ = 0;
  uint32_t PeHeaderOffset_ = 0;
  std::vector<DataDirectory> Directories_;
  std::vector<Section> Sections_;
};

struct PeImage::ParseResult {
  std::optional<PeImage> Image;
  std::string Error;  // why the file was refused; empty on success
  explicit operator bool() const { return Image.has_value(); }
};

}  // namespace pe
