#include "PeImage.h"

#include <algorithm>
#include <cstring>
#include <fstream>

namespace pe {
namespace {

constexpr size_t kDosHeaderSize = 64;
constexpr size_t kLfanewOffset = 0x3C;
constexpr size_t kFileHeaderSize = 20;
constexpr size_t kSectionHeaderSize = 40;
constexpr size_t kDebugEntrySize = 28;
constexpr size_t kMaxDirectories = 16;
// Optional-header bytes before the data directories.
constexpr size_t kPe32FixedSize = 96;
constexpr size_t kPe32PlusFixedSize = 112;
constexpr uint32_t kSignatureRsds = 0x53445352;
constexpr uint32_t kSignatureNb10 = 0x3031424E;
constexpr size_t kMaxFileSize = size_t{1} << 30;

// Little-endian reads that are only called after the range has been checked.
uint16_t Read16(std::span<const uint8_t> Bytes, size_t Offset) {
  return static_cast<uint16_t>(Bytes[Offset] | (Bytes[Offset + 1] << 8));
}

uint32_t Read32(std::span<const uint8_t> Bytes, size_t Offset) {
  return static_cast<uint32_t>(Read16(Bytes, Offset)) | (static_cast<uint32_t>(Read16(Bytes, Offset + 2)) << 16);
}

uint64_t Read64(std::span<const uint8_t> Bytes, size_t Offset) {
  return static_cast<uint64_t>(Read32(Bytes, Offset)) | (static_cast<uint64_t>(Read32(Bytes, Offset + 4)) << 32);
}

// True when [Offset, Offset + Length) lies inside a buffer of Size bytes, without overflow.
bool Fits(uint64_t Offset, uint64_t Length, uint64_t Size) { return Offset <= Size && Length <= Size - Offset; }

// A section's bytes that come from the file: its raw data, but never more than the
// loader maps (its virtual size, when one is given).
uint32_t FileBackedSize(const Section &Entry) {
  if (Entry.VirtualSize != 0) {
    return std::min(Entry.RawDataSize, Entry.VirtualSize);
  }
  return Entry.RawDataSize;
}

PeImage::ParseResult Refuse(std::string Why) { return {std::nullopt, std::move(Why)}; }

}  // namespace

PeImage::ParseResult PeImage::Parse(std::span<const uint8_t> File) {
  if (File.size() < kDosHeaderSize) {
    return Refuse("file shorter than a DOS header");
  }
  if (Read16(File, 0) != 0x5A4D) {
    return Refuse("no MZ signature");
  }
  uint32_t PeOffset = Read32(File, kLfanewOffset);
  if (!Fits(PeOffset, 4 + kFileHeaderSize, File.size())) {
    return Refuse("e_lfanew points outside the file");
  }
  if (Read32(File, PeOffset) != 0x00004550) {
    return Refuse("no PE signature at e_lfanew");
  }

  PeImage Image;
  size_t FileHeader = PeOffset + 4;
  Image.PeHeaderOffset_ = PeOffset;
  Image.Machine_ = Read16(File, FileHeader + 0);
  uint16_t NumberOfSections = Read16(File, FileHeader + 2);
  uint16_t OptionalHeaderSize = Read16(File, FileHeader + 16);
  Image.Characteristics_ = Read16(File, FileHeader + 18);

  size_t Optional = FileHeader + kFileHeaderSize;
  if (!Fits(Optional, OptionalHeaderSize, File.size()) || OptionalHeaderSize < 2) {
    return Refuse("optional header runs past the end of the file");
  }
  Image.Magic_ = Read16(File, Optional);
  size_t FixedSize = 0;
  size_t RvaCountOffset = 0;
  if (Image.Magic_ == kMagicPe32Plus) {
    FixedSize = kPe32PlusFixedSize;
    RvaCountOffset = 108;
  } else if (Image.Magic_ == kMagicPe32) {
    FixedSize = kPe32FixedSize;
    RvaCountOffset = 92;
  } else {
    return Refuse("optional header magic is neither PE32 nor PE32+");
  }
  if (OptionalHeaderSize < FixedSize) {
    return Refuse("optional header smaller than its fixed fields");
  }

  Image.AddressOfEntryPoint_ = Read32(File, Optional + 16);
  Image.ImageBase_ = Image.IsPe32Plus() ? Read64(File, Optional + 24) : Read32(File, Optional + 28);
  Image.SectionAlignment_ = Read32(File, Optional + 32);
  Image.FileAlignment_ = Read32(File, Optional + 36);
  Image.SizeOfImage_ = Read32(File, Optional + 56);
  Image.SizeOfHeaders_ = Read32(File, Optional + 60);
  Image.Subsystem_ = Read16(File, Optional + 68);
  Image.DllCharacteristics_ = Read16(File, Optional + 70);

  // The count in the header is only a claim: the directories must also fit in the
  // optional header, and no loader looks past sixteen.
  uint64_t DirectoryCount = Read32(File, Optional + RvaCountOffset);
  DirectoryCount = std::min<uint64_t>({DirectoryCount, kMaxDirectories, (OptionalHeaderSize - FixedSize) / 8});
  for (uint64_t Index = 0; Index < DirectoryCount; Index++) {
    size_t Entry = Optional + FixedSize + Index * 8;
    Image.Directories_.push_back({Read32(File, Entry), Read32(File, Entry + 4)});
  }

  size_t SectionTable = Optional + OptionalHeaderSize;
  if (!Fits(SectionTable, uint64_t{NumberOfSections} * kSectionHeaderSize, File.size())) {
    return Refuse("section table runs past the end of the file");
  }
  for (uint16_t Index = 0; Index < NumberOfSections; Index++) {
    size_t Header = SectionTable + size_t{Index} * kSectionHeaderSize;
    Section Entry;
    const char *Name = reinterpret_cast<const char *>(File.data() + Header);
    Entry.Name.assign(Name, strnlen(Name, 8));
    Entry.VirtualSize = Read32(File, Header + 8);
    Entry.VirtualAddress = Read32(File, Header + 12);
    Entry.RawDataSize = Read32(File, Header + 16);
    Entry.RawDataOffset = Read32(File, Header + 20);
    Entry.Characteristics = Read32(File, Header + 36);
    if (Entry.RawDataSize != 0 && !Fits(Entry.RawDataOffset, Entry.RawDataSize, File.size())) {
      return Refuse("raw data of section " + Entry.Name + " runs past the end of the file");
    }
    Image.Sections_.push_back(std::move(Entry));
  }

  Image.File_.assign(File.begin(), File.end());
  return {std::move(Image), {}};
}

PeImage::ParseResult PeImage::Load(const std::string &Path) {
  std::ifstream Stream(Path, std::ios::binary);
  if (!Stream) {
    return Refuse("cannot open " + Path);
  }
  std::vector<uint8_t> Bytes;
  char Chunk[65536];
  while (Stream) {
    Stream.read(Chunk, sizeof(Chunk));
    Bytes.insert(Bytes.end(), Chunk, Chunk + Stream.gcount());
    if (Bytes.size() > kMaxFileSize) {
      return Refuse(Path + " is too large to be an image");
    }
  }
  return Parse(Bytes);
}

DataDirectory PeImage::Directory(unsigned Index) const {
  return Index < Directories_.size() ? Directories_[Index] : DataDirectory{};
}

std::optional<std::span<const uint8_t>> PeImage::BytesAtRva(uint32_t Rva, uint32_t Size) const {
  std::span<const uint8_t> File(File_);
  uint64_t HeaderBytes = std::min<uint64_t>(SizeOfHeaders_, File_.size());
  if (Fits(Rva, Size, HeaderBytes)) {
    return File.subspan(Rva, Size);
  }
  for (const Section &Entry : Sections_) {
    if (Rva < Entry.VirtualAddress) {
      continue;
    }
    uint64_t Offset = uint64_t{Rva} - Entry.VirtualAddress;
    if (Fits(Offset, Size, FileBackedSize(Entry))) {
      return File.subspan(Entry.RawDataOffset + Offset, Size);
    }
  }
  return std::nullopt;
}

std::optional<std::span<const uint8_t>> PeImage::DirectoryBytes(unsigned Index) const {
  DataDirectory Entry = Directory(Index);
  if (Entry.Size == 0) {
    return std::span<const uint8_t>{};
  }
  return BytesAtRva(Entry.VirtualAddress, Entry.Size);
}

std::optional<std::vector<DebugEntry>> PeImage::DebugEntries() const {
  auto Bytes = DirectoryBytes(kDirectoryDebug);
  if (!Bytes) {
    return std::nullopt;
  }
  std::vector<DebugEntry> Entries;
  for (size_t Offset = 0; Offset + kDebugEntrySize <= Bytes->size(); Offset += kDebugEntrySize) {
    DebugEntry Entry;
    Entry.Characteristics = Read32(*Bytes, Offset + 0);
    Entry.TimeDateStamp = Read32(*Bytes, Offset + 4);
    Entry.MajorVersion = Read16(*Bytes, Offset + 8);
    Entry.MinorVersion = Read16(*Bytes, Offset + 10);
    Entry.Type = Read32(*Bytes, Offset + 12);
    Entry.SizeOfData = Read32(*Bytes, Offset + 16);
    Entry.AddressOfRawData = Read32(*Bytes, Offset + 20);
    Entry.PointerToRawData = Read32(*Bytes, Offset + 24);
    Entries.push_back(Entry);
  }
  return Entries;
}

std::optional<CodeViewInfo> PeImage::CodeView() const {
  auto Entries = DebugEntries();
  if (!Entries) {
    return std::nullopt;
  }
  for (const DebugEntry &Entry : *Entries) {
    if (Entry.Type != kDebugTypeCodeView || Entry.SizeOfData == 0) {
      continue;
    }
    std::optional<std::span<const uint8_t>> Data;
    if (Entry.AddressOfRawData != 0) {
      Data = BytesAtRva(Entry.AddressOfRawData, Entry.SizeOfData);
    } else if (Fits(Entry.PointerToRawData, Entry.SizeOfData, File_.size())) {
      Data = std::span<const uint8_t>(File_).subspan(Entry.PointerToRawData, Entry.SizeOfData);
    }
    if (!Data || Data->size() < 4) {
      continue;
    }
    uint32_t Signature = Read32(*Data, 0);
    size_t PathOffset = Signature == kSignatureRsds ? 24 : Signature == kSignatureNb10 ? 16 : 0;
    if (PathOffset == 0 || Data->size() <= PathOffset) {
      continue;
    }
    auto PathBytes = Data->subspan(PathOffset);
    auto Terminator = std::find(PathBytes.begin(), PathBytes.end(), uint8_t{0});
    if (Terminator == PathBytes.end()) {
      continue;
    }
    return CodeViewInfo{Signature, std::string(PathBytes.begin(), Terminator)};
  }
  return std::nullopt;
}

std::optional<std::vector<RelocationBlock>> PeImage::RelocationBlocks() const {
  auto Bytes = DirectoryBytes(kDirectoryBaseRelocation);
  if (!Bytes) {
    return std::nullopt;
  }
  std::vector<RelocationBlock> Blocks;
  size_t Offset = 0;
  while (Offset < Bytes->size()) {
    if (!Fits(Offset, 8, Bytes->size())) {
      return std::nullopt;
    }
    RelocationBlock Block;
    Block.PageRva = Read32(*Bytes, Offset);
    uint32_t BlockSize = Read32(*Bytes, Offset + 4);
    if (BlockSize < 8 || BlockSize % 2 != 0 || !Fits(Offset, BlockSize, Bytes->size())) {
      return std::nullopt;
    }
    for (size_t Entry = Offset + 8; Entry < Offset + BlockSize; Entry += 2) {
      Block.Entries.push_back(Read16(*Bytes, Entry));
    }
    Blocks.push_back(std::move(Block));
    Offset += BlockSize;
  }
  return Blocks;
}

std::optional<std::vector<uint8_t>> PeImage::MapAtRvas() const {
  if (SizeOfImage_ == 0 || SizeOfImage_ > kMaxMappedImageSize) {
    return std::nullopt;
  }
  std::vector<uint8_t> Mapped(SizeOfImage_, 0);
  size_t HeaderBytes = std::min<size_t>({SizeOfHeaders_, File_.size(), Mapped.size()});
  std::copy_n(File_.begin(), HeaderBytes, Mapped.begin());
  for (const Section &Entry : Sections_) {
    uint32_t Length = FileBackedSize(Entry);
    if (!Fits(Entry.VirtualAddress, Length, Mapped.size())) {
      return std::nullopt;
    }
    std::copy_n(File_.begin() + Entry.RawDataOffset, Length, Mapped.begin() + Entry.VirtualAddress);
  }
  return Mapped;
}

}  // namespace pe
