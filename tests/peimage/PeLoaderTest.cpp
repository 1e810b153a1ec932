// Loading the shipped images: the mapping the loaded-image protocol describes, relocations
// applied for the real base, unloading that never leaves an event pointing into freed code,
// and damaged files refused with a reason instead of being run.
#include "ImageRuns.h"

#include <pe/PeImage.h>
#include <sim/peers/Keyboard.h>
#include <sim/peers/PlatformIdentity.h>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <algorithm>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

namespace peimage_test {
namespace {

std::vector<uint8_t> FileBytes(const std::string &Path) {
  std::ifstream In(Path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(In), {});
}

uint64_t Read64(const uint8_t *Bytes) {
  uint64_t Value;
  std::memcpy(&Value, Bytes, sizeof Value);
  return Value;
}

template <class T>
void Put(std::vector<uint8_t> &Bytes, size_t Offset, T Value) {
  ASSERT_LE(Offset + sizeof Value, Bytes.size()) << "patch outside the file";
  std::memcpy(&Bytes[Offset], &Value, sizeof Value);
}
void Put16(std::vector<uint8_t> &Bytes, size_t Offset, uint16_t Value) { Put(Bytes, Offset, Value); }
void Put32(std::vector<uint8_t> &Bytes, size_t Offset, uint32_t Value) { Put(Bytes, Offset, Value); }

// A damaged copy of a file, removed again when the test is done with it.
class ScratchFile {
 public:
  explicit ScratchFile(const std::vector<uint8_t> &Bytes) {
    static unsigned Serial = 0;
    Path_ = (std::filesystem::temp_directory_path() /
             ("peimage-" + std::to_string(getpid()) + "-" + std::to_string(Serial++) + ".efi"))
                .string();
    std::ofstream(Path_, std::ios::binary)
        .write(reinterpret_cast<const char *>(Bytes.data()), (std::streamsize)Bytes.size());
  }
  ~ScratchFile() { std::filesystem::remove(Path_); }
  const std::string &Path() const { return Path_; }

 private:
  std::string Path_;
};

struct Layout {
  pe::PeImage Image;
  size_t OptionalHeader;
  size_t RelocationFileOffset;  // of the first relocation block
};

Layout LayoutOf(const std::vector<uint8_t> &Bytes) {
  auto Parsed = pe::PeImage::Parse(Bytes);
  EXPECT_TRUE(Parsed) << Parsed.Error;
  const pe::PeImage &Image = *Parsed.Image;
  const uint32_t RelocationRva = Image.Directory(pe::kDirectoryBaseRelocation).VirtualAddress;
  size_t RelocationOffset = 0;
  for (const pe::Section &Each : Image.Sections()) {
    if (RelocationRva >= Each.VirtualAddress && RelocationRva - Each.VirtualAddress < Each.RawDataSize) {
      RelocationOffset = Each.RawDataOffset + (RelocationRva - Each.VirtualAddress);
    }
  }
  EXPECT_NE(RelocationOffset, 0u) << "the shipped image carries base relocations";
  return {Image, Image.PeHeaderOffset() + 24, RelocationOffset};
}

size_t LoadedImageHandles(sim::Platform &P) { return P.HandlesWith(gEfiLoadedImageProtocolGuid).size(); }

TEST(PeLoader, TheImageIsLaidOutAtItsRvasAndRelocatedForItsRealBase) {
  const std::vector<uint8_t> File = FileBytes(ROSTER_EFI_PATH);
  const Layout L = LayoutOf(File);
  const auto Expected = L.Image.MapAtRvas();
  ASSERT_TRUE(Expected);
  const auto Blocks = L.Image.RelocationBlocks();
  ASSERT_TRUE(Blocks);

  sim::Platform P;
  sim::LoadedDriver Driver = P.LoadPeImage(ROSTER_EFI_PATH);
  const EFI_LOADED_IMAGE_PROTOCOL *Loaded = Driver.LoadedImage();
  ASSERT_NE(Loaded, nullptr);
  VOID *Interface = nullptr;
  ASSERT_EQ(P.BootServices()->HandleProtocol(Driver.ImageHandle(), &gEfiLoadedImageProtocolGuid, &Interface),
            EFI_SUCCESS);
  EXPECT_EQ(Interface, Loaded);
  EXPECT_EQ(Loaded->ImageCodeType, EfiBootServicesCode);
  EXPECT_EQ(Loaded->ImageDataType, EfiBootServicesData);
  EXPECT_EQ(Loaded->ImageSize, L.Image.SizeOfImage());
  const auto Base = reinterpret_cast<uintptr_t>(Loaded->ImageBase);
  EXPECT_EQ(Base % 4096, 0u);
  const uint64_t Delta = Base - L.Image.ImageBase();
  ASSERT_NE(Delta, 0u) << "a base equal to the preferred one would prove nothing about relocation";

  // Every byte is the file's, except the 8-byte slots relocations name (and the header's
  // ImageBase, which now names the real base).
  std::vector<uint8_t> Relocated = *Expected;
  unsigned Dir64 = 0;
  for (const pe::RelocationBlock &Block : *Blocks) {
    for (uint16_t Entry : Block.Entries) {
      if ((Entry >> 12) == 10) {
        const size_t Rva = Block.PageRva + (Entry & 0xFFF);
        const uint64_t Value = Read64(&Relocated[Rva]) + Delta;
        std::memcpy(&Relocated[Rva], &Value, sizeof Value);
        Dir64++;
      }
    }
  }
  // At least the two service pointers of the debug-mask protocol the image publishes.
  EXPECT_GE(Dir64, 2u);
  const uint64_t RealBase = Base;
  std::memcpy(&Relocated[L.OptionalHeader + 24], &RealBase, sizeof RealBase);
  EXPECT_EQ(std::memcmp(Loaded->ImageBase, Relocated.data(), Relocated.size()), 0);

  sim::LoadedDriver Runtime = P.LoadPeImage(HOTLATCH_EFI_PATH);
  ASSERT_NE(Runtime.LoadedImage(), nullptr);
  EXPECT_EQ(Runtime.LoadedImage()->ImageCodeType, EfiRuntimeServicesCode);
  EXPECT_EQ(Runtime.LoadedImage()->ImageDataType, EfiRuntimeServicesData);
  EXPECT_NE(Runtime.LoadedImage()->ImageBase, Loaded->ImageBase);
  EXPECT_EQ(Driver.Symbol("_ModuleEntryPoint"), nullptr) << "an image exports nothing to look up";
}

// Each load is a copy of its own, at its own base, with its own module state.
TEST(PeLoader, TwoLoadsOfOneImageRunSideBySide) {
  sim::Platform P;
  sim::LoadedDriver First = P.LoadPeImage(ROSTER_EFI_PATH);
  sim::LoadedDriver Second = P.LoadPeImage(ROSTER_EFI_PATH);
  ASSERT_NE(First.LoadedImage(), nullptr);
  ASSERT_NE(Second.LoadedImage(), nullptr);
  EXPECT_NE(First.LoadedImage()->ImageBase, Second.LoadedImage()->ImageBase);
  const size_t Events = P.OpenEventCount();
  EXPECT_EQ(First.Start(), EFI_SUCCESS);
  const size_t EventsOfOneStart = P.OpenEventCount() - Events;
  EXPECT_GT(EventsOfOneStart, 0u);
  EXPECT_EQ(Second.Start(), EFI_SUCCESS) << "the second copy does not see the first one's state";
  EXPECT_EQ(P.OpenEventCount(), Events + 2 * EventsOfOneStart);
}

TEST(PeLoader, EventsOfAnUnloadedImageNeverCallIntoIt) {
  sim::Platform P;
  {
    sim::LoadedDriver Driver = P.LoadPeImage(ROSTER_EFI_PATH);
    ASSERT_EQ(Driver.Start(), EFI_SUCCESS);
    ASSERT_EQ(LoadedImageHandles(P), 1u);
  }
  EXPECT_EQ(LoadedImageHandles(P), 0u) << "the loaded-image protocol went with the image";
  // The inventory's notification would now jump into unmapped memory.
  EXPECT_NONFATAL_FAILURE(sim::InstallInventoryTrigger(P), "event of an unloaded module");

  std::optional<sim::LoadedDriver> Original;
  Original.emplace(P.LoadPeImage(HOTLATCH_EFI_PATH));
  sim::LoadedDriver Moved(std::move(*Original));
  Original.reset();
  EXPECT_EQ(Moved.Start(), EFI_SUCCESS) << "a moved driver keeps its mapping";
}

// A file refused: a failure naming the reason, no handle left behind, and a Start that
// fails instead of running anything.
void ExpectRefused(const std::vector<uint8_t> &Bytes, const std::string &Reason) {
  SCOPED_TRACE(Reason);
  ScratchFile File(Bytes);
  sim::Platform P;
  std::optional<sim::LoadedDriver> Driver;
  EXPECT_NONFATAL_FAILURE(Driver.emplace(P.LoadPeImage(File.Path())), Reason);
  EXPECT_EQ(LoadedImageHandles(P), 0u);
  EFI_STATUS Status = EFI_SUCCESS;
  EXPECT_NONFATAL_FAILURE(Status = Driver->Start(), "did not load");
  EXPECT_EQ(Status, EFI_LOAD_ERROR);
}

TEST(PeLoader, DamagedFilesAreRefusedWithTheirReason) {
  const std::vector<uint8_t> Good = FileBytes(ROSTER_EFI_PATH);
  const Layout L = LayoutOf(Good);
  const size_t Relocations = L.RelocationFileOffset;

  ExpectRefused({}, "file shorter than a DOS header");
  ExpectRefused(std::vector<uint8_t>(Good.begin(), Good.begin() + 300), "past the end of the file");
  ExpectRefused(std::vector<uint8_t>(Good.begin(), Good.end() - 4096), "past the end of the file");

  std::vector<uint8_t> Short = Good;
  Put32(Short, Relocations + 4, 4);  // SizeOfBlock smaller than the block header
  ExpectRefused(Short, "malformed base relocation directory");

  std::vector<uint8_t> Long = Good;
  Put32(Long, Relocations + 4, 0x7FFFFFF0);  // a block running past the directory
  ExpectRefused(Long, "malformed base relocation directory");

  std::vector<uint8_t> HighLow = Good;
  Put16(HighLow, Relocations + 8, (uint16_t)(0x3000 | 0x008));
  ExpectRefused(HighLow, "relocation type 3");

  std::vector<uint8_t> Outside = Good;
  Put32(Outside, Relocations, 0x7FFFF000);  // page far beyond SizeOfImage
  ExpectRefused(Outside, "lies outside the image");

  std::vector<uint8_t> Application = Good;
  Put16(Application, L.OptionalHeader + 68, 10);
  ExpectRefused(Application, "only 11 and 12 are drivers");

  std::vector<uint8_t> Aarch64 = Good;
  Put16(Aarch64, L.Image.PeHeaderOffset() + 4, 0xAA64);
  ExpectRefused(Aarch64, "not an x64 PE32+ image");

  std::vector<uint8_t> Stripped = Good;
  Put16(Stripped, L.Image.PeHeaderOffset() + 4 + 18, (uint16_t)(L.Image.Characteristics() | 1));
  ExpectRefused(Stripped, "relocations stripped");

  std::vector<uint8_t> EntryInHeaders = Good;
  Put32(EntryInHeaders, L.OptionalHeader + 16, 0x10);
  ExpectRefused(EntryInHeaders, "lies in no executable section");

  std::vector<uint8_t> Huge = Good;
  Put32(Huge, L.OptionalHeader + 56, 0xFFFFF000);  // SizeOfImage
  ExpectRefused(Huge, "out of range");
}

TEST(PeLoader, AMissingFileIsRefused) {
  sim::Platform P;
  EXPECT_NONFATAL_FAILURE(sim::LoadedDriver Missing = P.LoadPeImage("/nonexistent/Driver.efi"), "cannot open");
}

// Random damage to the headers and relocations never crashes the loader: each copy is
// either refused with a failure or mapped (and then only unloaded, never run).
TEST(PeLoader, RandomDamageIsRefusedOrMappedButNeverCrashes) {
  const std::vector<uint8_t> Good = FileBytes(HOTLATCH_EFI_PATH);
  const Layout L = LayoutOf(Good);
  std::mt19937 Random(20240611);
  unsigned Refused = 0;
  const unsigned Rounds = 300;
  for (unsigned Round = 0; Round < Rounds; Round++) {
    std::vector<uint8_t> Damaged = Good;
    const bool InHeaders = Round % 2 == 0;
    const size_t Start = InHeaders ? 0 : L.RelocationFileOffset;
    // The relocation section may be the file's last few bytes: stay inside the file.
    const size_t Span = InHeaders ? L.Image.SizeOfHeaders() : std::min<size_t>(64, Good.size() - Start);
    for (int Flip = 0; Flip < 4; Flip++) {
      Damaged[Start + Random() % Span] ^= (uint8_t)(1u << (Random() % 8));
    }
    ScratchFile File(Damaged);
    sim::Platform P;
    ::testing::TestPartResultArray Failures;
    bool Mapped = false;
    {
      ::testing::ScopedFakeTestPartResultReporter Intercept(
          ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &Failures);
      sim::LoadedDriver Driver = P.LoadPeImage(File.Path());
      Mapped = Driver.LoadedImage() != nullptr;
    }
    EXPECT_NE(Mapped, Failures.size() > 0) << "round " << Round << ": exactly the refused copies are reported";
    Refused += Failures.size() > 0 ? 1 : 0;
  }
  EXPECT_GT(Refused, 0u);
  EXPECT_LT(Refused, Rounds) << "some damage is harmless to loading";
}

}  // namespace
}  // namespace peimage_test
