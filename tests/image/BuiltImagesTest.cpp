// The images the firmware build produced, read as the firmware's loader will read them.
// A missing image fails: nothing here is skipped.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "pe/PeImage.h"

namespace {

using pe::kRelocationAbsolute;
using pe::kRelocationDir64;
using pe::kSectionExecute;
using pe::kSectionWrite;

struct BuiltImage {
  const char *Path;
  uint16_t Subsystem;
  const char *PdbName;
};

std::ostream &operator<<(std::ostream &Stream, const BuiltImage &Image) { return Stream << Image.Path; }

class BuiltImageTest : public testing::TestWithParam<BuiltImage> {
 protected:
  void SetUp() override {
    auto Result = pe::PeImage::Load(GetParam().Path);
    ASSERT_TRUE(Result) << Result.Error;
    Image = std::move(*Result.Image);
  }
  pe::PeImage Image;
};

TEST_P(BuiltImageTest, IsAnX64Pe32PlusOfItsSubsystem) {
  EXPECT_EQ(Image.Magic(), pe::kMagicPe32Plus);
  EXPECT_EQ(Image.Machine(), pe::kMachineAmd64);
  EXPECT_EQ(Image.Subsystem(), GetParam().Subsystem);
}

TEST_P(BuiltImageTest, IsSelfContainedAndRelocatable) {
  EXPECT_FALSE(Image.HasImports()) << "an image must import nothing";
  EXPECT_EQ(Image.Characteristics() & pe::kFileRelocationsStripped, 0) << "relocations stripped";
  auto Blocks = Image.RelocationBlocks();
  ASSERT_TRUE(Blocks) << "malformed base-relocation directory";
  ASSERT_FALSE(Blocks->empty()) << "no base relocations: the image could only load at its preferred base";
  for (const auto &Block : *Blocks) {
    EXPECT_EQ(Block.PageRva % 0x1000, 0u);
    EXPECT_LT(Block.PageRva, Image.SizeOfImage());
    for (uint16_t Entry : Block.Entries) {
      uint16_t Type = Entry >> 12;
      EXPECT_TRUE(Type == kRelocationDir64 || Type == kRelocationAbsolute) << "relocation type " << Type;
    }
  }
}

TEST_P(BuiltImageTest, NamesItsPdbInAnRsdsCodeViewEntry) {
  auto CodeView = Image.CodeView();
  ASSERT_TRUE(CodeView) << "no CodeView entry";
  EXPECT_EQ(CodeView->Signature, 0x53445352u) << "not RSDS";
  const std::string &Path = CodeView->Path;
  std::string Name = GetParam().PdbName;
  ASSERT_GE(Path.size(), Name.size()) << Path;
  EXPECT_EQ(Path.substr(Path.size() - Name.size()), Name) << Path;
  // The module name is taken from what follows the last separator.
  if (Path.size() > Name.size()) {
    char Separator = Path[Path.size() - Name.size() - 1];
    EXPECT_TRUE(Separator == '/' || Separator == '\\') << Path;
  }
}

TEST_P(BuiltImageTest, SectionsAreNeverWritableAndExecutableAndEntryIsCode) {
  // Firmware memory protection maps each section with its own attributes; a section that
  // is both writable and executable defeats it.
  bool EntryInCode = false;
  for (const auto &Section : Image.Sections()) {
    EXPECT_FALSE((Section.Characteristics & kSectionExecute) && (Section.Characteristics & kSectionWrite))
        << Section.Name;
    EXPECT_EQ(Section.VirtualAddress % Image.SectionAlignment(), 0u) << Section.Name;
    if ((Section.Characteristics & kSectionExecute) && Image.AddressOfEntryPoint() >= Section.VirtualAddress &&
        Image.AddressOfEntryPoint() < Section.VirtualAddress + Section.VirtualSize) {
      EntryInCode = true;
    }
  }
  EXPECT_TRUE(EntryInCode) << "entry point outside every executable section";
  if (GetParam().Subsystem == pe::kSubsystemEfiRuntimeDriver) {
    // Runtime memory is described to the OS in 4 KiB pages.
    EXPECT_EQ(Image.SectionAlignment() % 0x1000, 0u);
  } else {
    // Boot-service images are packed for flash; 32 bytes is the least EDK II's loader and
    // its own drivers use.
    EXPECT_EQ(Image.SectionAlignment() % 32, 0u);
  }
}

TEST_P(BuiltImageTest, MapsAtItsRvasWithTheDebugPathInPlace) {
  auto Mapped = Image.MapAtRvas();
  ASSERT_TRUE(Mapped);
  ASSERT_EQ(Mapped->size(), Image.SizeOfImage());
  EXPECT_EQ((*Mapped)[0], 'M');
  EXPECT_EQ((*Mapped)[1], 'Z');
  auto Entries = Image.DebugEntries();
  ASSERT_TRUE(Entries);
  auto CodeView = std::find_if(Entries->begin(), Entries->end(),
                               [](const pe::DebugEntry &Entry) { return Entry.Type == pe::kDebugTypeCodeView; });
  ASSERT_NE(CodeView, Entries->end());
  ASSERT_LE(uint64_t{CodeView->AddressOfRawData} + CodeView->SizeOfData, Mapped->size());
  std::string MappedPath(reinterpret_cast<const char *>(Mapped->data() + CodeView->AddressOfRawData + 24));
  EXPECT_EQ(MappedPath, Image.CodeView()->Path);
}

TEST_P(BuiltImageTest, DamagedCopiesAreRefusedOrReadSafely) {
  const auto &Good = Image.Bytes();
  // Every cut through the headers and a coarse walk through the rest.
  for (size_t Length = 0; Length < Good.size(); Length += Length < 0x400 ? 1 : 61) {
    auto Result = pe::PeImage::Parse(std::span(Good.data(), Length));
    if (Result) {
      Result.Image->CodeView();
      Result.Image->RelocationBlocks();
    }
  }
  // Random bytes in the headers: the reader must answer, whatever it answers.
  std::mt19937 Random(0x5EED);
  for (int Round = 0; Round < 2000; Round++) {
    auto Damaged = Good;
    for (int Flip = 0; Flip < 4; Flip++) {
      Damaged[Random() % std::min<size_t>(Damaged.size(), 0x400)] = static_cast<uint8_t>(Random());
    }
    auto Result = pe::PeImage::Parse(Damaged);
    if (Result) {
      Result.Image->CodeView();
      Result.Image->RelocationBlocks();
      Result.Image->MapAtRvas();
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Drivers, BuiltImageTest,
    testing::Values(BuiltImage{ROSTER_EFI_PATH, pe::kSubsystemEfiBootServiceDriver, "Roster.pdb"},
                    BuiltImage{HOTLATCH_EFI_PATH, pe::kSubsystemEfiRuntimeDriver, "Hotlatch.pdb"},
                    BuiltImage{KCS_TRANSPORT_EFI_PATH, pe::kSubsystemEfiBootServiceDriver, "KcsTransport.pdb"},
                    BuiltImage{HARNESS_EFI_PATH, pe::kSubsystemEfiApplication, "SmokeHarness.pdb"}),
    [](const testing::TestParamInfo<BuiltImage> &Info) {
      std::string Pdb = Info.param.PdbName;
      return Pdb.substr(0, Pdb.find('.'));
    });

}  // namespace
