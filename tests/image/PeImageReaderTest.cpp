// The PE reader against synthetic images: what a good image yields, and that every kind
// of damage is refused or bounded instead of read out of bounds (the sanitizers watch).
#include <gtest/gtest.h>

#include "SyntheticPe.h"
#include "pe/PeImage.h"

namespace {

using namespace pe_test;

pe::PeImage ParseOrFail(const std::vector<uint8_t> &Bytes) {
  auto Result = pe::PeImage::Parse(Bytes);
  EXPECT_TRUE(Result) << Result.Error;
  return Result ? *Result.Image : pe::PeImage{};
}

std::string RefusalOf(const std::vector<uint8_t> &Bytes) {
  auto Result = pe::PeImage::Parse(Bytes);
  EXPECT_FALSE(Result) << "damaged image was accepted";
  return Result.Error;
}

TEST(PeReaderGoodImage, Pe32PlusHeadersSectionsAndDirectories) {
  auto Image = ParseOrFail(BuildSyntheticPe());
  EXPECT_EQ(Image.Magic(), pe::kMagicPe32Plus);
  EXPECT_EQ(Image.Machine(), pe::kMachineAmd64);
  EXPECT_EQ(Image.Subsystem(), 11);
  EXPECT_EQ(Image.ImageBase(), 0x140000000ULL);
  EXPECT_EQ(Image.SizeOfImage(), kSizeOfImage);
  ASSERT_EQ(Image.Sections().size(), 2u);
  EXPECT_EQ(Image.Sections()[0].Name, ".text");
  EXPECT_EQ(Image.Sections()[1].Name, ".rdata");
  EXPECT_EQ(Image.Sections()[1].VirtualAddress, kRdataRva);
  EXPECT_FALSE(Image.HasImports());

  auto CodeView = Image.CodeView();
  ASSERT_TRUE(CodeView);
  EXPECT_EQ(CodeView->Signature, 0x53445352u);
  EXPECT_EQ(CodeView->Path, "C:\\Build\\X64\\Driver.pdb");

  auto Blocks = Image.RelocationBlocks();
  ASSERT_TRUE(Blocks);
  ASSERT_EQ(Blocks->size(), 1u);
  EXPECT_EQ((*Blocks)[0].PageRva, kTextRva);
  EXPECT_EQ((*Blocks)[0].Entries, (std::vector<uint16_t>{0xA008, 0x0000}));
}

TEST(PeReaderGoodImage, Pe32WithNb10PathAndThirtyTwoBitBase) {
  SyntheticOptions Options;
  Options.Pe32Plus = false;
  Options.CodeViewSignature = 0x3031424E;
  Options.PdbPath = "/build/ia32/Old.pdb";
  auto Image = ParseOrFail(BuildSyntheticPe(Options));
  EXPECT_EQ(Image.Magic(), pe::kMagicPe32);
  EXPECT_FALSE(Image.IsPe32Plus());
  EXPECT_EQ(Image.ImageBase(), 0x10000000u);
  auto CodeView = Image.CodeView();
  ASSERT_TRUE(CodeView);
  EXPECT_EQ(CodeView->Path, "/build/ia32/Old.pdb");
}

TEST(PeReaderGoodImage, MappingPlacesHeadersAndSectionsAtTheirRvas) {
  auto Bytes = BuildSyntheticPe();
  auto Mapped = ParseOrFail(Bytes).MapAtRvas();
  ASSERT_TRUE(Mapped);
  ASSERT_EQ(Mapped->size(), kSizeOfImage);
  EXPECT_TRUE(std::equal(Bytes.begin(), Bytes.begin() + 0x200, Mapped->begin()));
  EXPECT_EQ((*Mapped)[kTextRva], 0xCC);
  EXPECT_EQ((*Mapped)[kTextRva + kRawSize - 1], 0xCC);
  // The gap between the headers and .text stays zero, as a loader leaves it.
  EXPECT_EQ((*Mapped)[kTextRva - 1], 0x00);
  EXPECT_TRUE(std::equal(Bytes.begin() + kRdataRaw, Bytes.end(), Mapped->begin() + kRdataRva));
}

TEST(PeReaderRefusesDamagedHeaders, EachHeaderFault) {
  auto Good = BuildSyntheticPe();

  EXPECT_NE(RefusalOf({}), "");
  EXPECT_NE(RefusalOf(std::vector<uint8_t>(Good.begin(), Good.begin() + 63)), "");

  auto NoMz = Good;
  NoMz[0] = 'X';
  EXPECT_EQ(RefusalOf(NoMz), "no MZ signature");

  for (uint32_t Lfanew : {0xFFFFFFFFu, static_cast<uint32_t>(Good.size()), static_cast<uint32_t>(Good.size() - 23)}) {
    auto Far = Good;
    Put32(Far, 0x3C, Lfanew);
    EXPECT_EQ(RefusalOf(Far), "e_lfanew points outside the file") << "e_lfanew " << Lfanew;
  }

  auto NoPe = Good;
  NoPe[kPeOffset + 1] = 'X';
  EXPECT_EQ(RefusalOf(NoPe), "no PE signature at e_lfanew");

  auto HugeOptional = Good;
  Put16(HugeOptional, kFileHeader + 16, 0xFFFF);
  EXPECT_EQ(RefusalOf(HugeOptional), "optional header runs past the end of the file");

  auto BadMagic = Good;
  Put16(BadMagic, kOptionalHeader, 0x107);
  EXPECT_EQ(RefusalOf(BadMagic), "optional header magic is neither PE32 nor PE32+");

  auto ShortOptional = Good;
  Put16(ShortOptional, kFileHeader + 16, 100);
  EXPECT_EQ(RefusalOf(ShortOptional), "optional header smaller than its fixed fields");

  auto ManySections = Good;
  Put16(ManySections, kFileHeader + 2, 0xFFFF);
  EXPECT_EQ(RefusalOf(ManySections), "section table runs past the end of the file");

  auto FarRawData = Good;
  Put32(FarRawData, SectionTableOffset(true) + 40 + 20, 0xFFFFFF00);
  EXPECT_EQ(RefusalOf(FarRawData), "raw data of section .rdata runs past the end of the file");
}

TEST(PeReaderRefusesDamagedHeaders, EveryTruncationIsRefusedOrReadSafely) {
  for (bool Plus : {true, false}) {
    SyntheticOptions Options;
    Options.Pe32Plus = Plus;
    auto Good = BuildSyntheticPe(Options);
    for (size_t Length = 0; Length < Good.size(); Length++) {
      auto Result = pe::PeImage::Parse(std::span(Good.data(), Length));
      if (Result) {
        // Whatever survives must still answer without reading past its bytes.
        Result.Image->CodeView();
        Result.Image->RelocationBlocks();
        Result.Image->MapAtRvas();
      }
    }
    // The last section ends the file: any cut into it must be refused.
    EXPECT_FALSE(pe::PeImage::Parse(std::span(Good.data(), Good.size() - 1)));
  }
}

TEST(PeReaderBoundsDirectories, ClaimedCountsAreCappedByWhatFits) {
  auto Bytes = BuildSyntheticPe();
  Put32(Bytes, RvaCountOffset(true), 0xFFFFFFFF);
  auto Image = ParseOrFail(Bytes);
  EXPECT_EQ(Image.Directory(6).VirtualAddress, kDebugDirectoryRva);
  EXPECT_EQ(Image.Directory(16).Size, 0u);
  EXPECT_EQ(Image.Directory(0xFFFFFFFF).Size, 0u);

  // Only six directories claimed: the debug directory (index 6) is absent, not misread.
  Put32(Bytes, RvaCountOffset(true), 6);
  auto Short = ParseOrFail(Bytes);
  EXPECT_EQ(Short.Directory(5).VirtualAddress, kRelocationRva);
  EXPECT_EQ(Short.Directory(6).Size, 0u);
  EXPECT_FALSE(Short.CodeView());
}

TEST(PeReaderBoundsDirectories, DebugDataOutsideTheFileYieldsNothing) {
  auto Outside = BuildSyntheticPe();
  Put32(Outside, DirectoryOffset(true, 6), 0x2F00);
  Put32(Outside, DirectoryOffset(true, 6) + 4, 0x200);
  auto Image = ParseOrFail(Outside);
  EXPECT_FALSE(Image.DebugEntries());
  EXPECT_FALSE(Image.CodeView());

  // An RVA whose end wraps around 32 bits must not look like a small range.
  auto Wrapping = BuildSyntheticPe();
  Put32(Wrapping, DirectoryOffset(true, 6), 0xFFFFFFF0);
  Put32(Wrapping, DirectoryOffset(true, 6) + 4, 0x20);
  EXPECT_FALSE(ParseOrFail(Wrapping).DebugEntries());
  EXPECT_FALSE(ParseOrFail(BuildSyntheticPe()).BytesAtRva(0xFFFFFFF0, 0x20));
}

TEST(PeReaderBoundsDirectories, CodeViewPathMustBeTerminatedInsideItsData) {
  auto Bytes = BuildSyntheticPe();
  size_t Entry = kRdataRaw + (kDebugDirectoryRva - kRdataRva);
  // Cut the data size so the path's NUL falls outside it.
  Put32(Bytes, Entry + 16, 24 + 5);
  EXPECT_FALSE(ParseOrFail(Bytes).CodeView());

  auto Unknown = BuildSyntheticPe();
  Put32(Unknown, kRdataRaw + (kCodeViewRva - kRdataRva), 0x434F544D);  // "MTOC": not written by this toolchain
  EXPECT_FALSE(ParseOrFail(Unknown).CodeView());
}

TEST(PeReaderBoundsDirectories, MalformedRelocationBlocksAreRefusedWithoutLooping) {
  size_t Block = kRdataRaw + (kRelocationRva - kRdataRva);
  for (uint32_t BlockSize : {0u, 4u, 7u, 13u, 0x1000u}) {
    auto Bytes = BuildSyntheticPe();
    Put32(Bytes, Block + 4, BlockSize);
    EXPECT_FALSE(ParseOrFail(Bytes).RelocationBlocks()) << "block size " << BlockSize;
  }
  // A directory that ends inside a block header.
  auto Ragged = BuildSyntheticPe();
  Put32(Ragged, DirectoryOffset(true, 5) + 4, 16);
  EXPECT_FALSE(ParseOrFail(Ragged).RelocationBlocks());
}

TEST(PeReaderBoundsDirectories, MappingRefusesSectionsOutsideTheImage) {
  auto TooLarge = BuildSyntheticPe();
  Put32(TooLarge, kOptionalHeader + 56, 0xFFFFFFFF);
  EXPECT_FALSE(ParseOrFail(TooLarge).MapAtRvas());

  auto SectionPastEnd = BuildSyntheticPe();
  Put32(SectionPastEnd, SectionTableOffset(true) + 40 + 12, kSizeOfImage - 0x10);
  EXPECT_FALSE(ParseOrFail(SectionPastEnd).MapAtRvas());
}

TEST(PeReaderLoad, MissingFileIsRefusedWithItsName) {
  auto Result = pe::PeImage::Load("/nonexistent/Nothing.efi");
  EXPECT_FALSE(Result);
  EXPECT_NE(Result.Error.find("/nonexistent/Nothing.efi"), std::string::npos);
}

}  // namespace
