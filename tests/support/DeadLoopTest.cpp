// The dead loop's caller report: the image found below an address, its module name from
// the CodeView path (or the image's file GUID), and the spin a debugger releases.
#include "ProbeFixture.h"
#include "SyntheticImage.h"

#include "pe/PeImage.h"

#include <cstdio>
#include <filesystem>

namespace supporttest {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::string Hex32(UINTN Value) {
  char Text[16];
  std::snprintf(Text, sizeof Text, "%X", static_cast<unsigned>(Value & 0xFFFFFFFF));
  return Text;
}

constexpr const char *kProbeGuidText = "5E2C1A77-3B0D-4F6A-9C11-7D2045ABC318";

class DeadLoopTest : public ProbeTest {
 protected:
  void SetUp() override {
    ProbeTest::SetUp();
    ASSERT_EQ(Start(), EFI_SUCCESS);  // no variable: only the dead-loop level passes
    Transcript->Clear();
  }

  std::vector<std::string> ReportFor(UINTN Address) {
    Transcript->Clear();
    Probe->ReportCallerModule(Address);
    return Transcript->Lines();
  }

  std::string NameOf(SyntheticImage &Image, EFI_STATUS *Status = nullptr, UINTN BufferSize = 256) {
    std::vector<CHAR8> Name(BufferSize + 16, '#');
    std::fill(Name.begin(), Name.begin() + static_cast<ptrdiff_t>(BufferSize), '\0');
    EFI_STATUS Result = Probe->GetModuleNameFromPdb(Image.Bytes(), Name.data(), BufferSize);
    if (Status != nullptr) {
      *Status = Result;
    }
    for (size_t Index = BufferSize; Index < Name.size(); Index++) {
      EXPECT_EQ(Name[Index], '#') << "written past the buffer at " << Index;
    }
    return std::string(Name.data(), strnlen(Name.data(), BufferSize));
  }
};

TEST_F(DeadLoopTest, Pe32PlusImageIsReportedByItsPdbName) {
  SyntheticImage Image;
  Image.BuildPe(ImageKind::Pe32Plus);
  Image.AddCodeView("c:\\work\\Build\\X64\\Driver.pdb");
  EXPECT_THAT(ReportFor(Image.Address() + 0x1234),
              ElementsAre("Module[Driver.efi], 0x" + Hex32(Image.Address()) + ":0x1234"));
}

TEST_F(DeadLoopTest, EachHeaderKindAndCodeViewSignatureLeadsToThePath) {
  struct Case {
    ImageKind Kind;
    CodeViewKind CodeView;
    size_t Header;
  };
  for (Case C : {Case{ImageKind::Pe32Plus, CodeViewKind::Rsds, 24}, Case{ImageKind::Pe32Plus, CodeViewKind::Nb10, 16},
                 Case{ImageKind::Pe32, CodeViewKind::Mtoc, 20}, Case{ImageKind::Pe32, CodeViewKind::Rsds, 24},
                 Case{ImageKind::Te, CodeViewKind::Nb10, 16}, Case{ImageKind::Te, CodeViewKind::Rsds, 24}}) {
    SyntheticImage Image;
    if (C.Kind == ImageKind::Te) {
      Image.BuildTe();
    } else {
      Image.BuildPe(C.Kind);
    }
    Image.AddCodeView("/build/Kind.pdb", C.CodeView);
    EXPECT_EQ(Probe->PeCoffLoaderGetPdbPointer(Image.Bytes()), Image.PathOf(0, C.Header));
    EXPECT_EQ(NameOf(Image), "Kind.efi");
  }
}

TEST_F(DeadLoopTest, FirstUsableCodeViewEntryWins) {
  SyntheticImage Image;
  Image.BuildPe(ImageKind::Pe32Plus);
  Image.AddCodeView("/skip/NotCodeView.pdb", CodeViewKind::Rsds, /*Type=*/4);
  Image.AddCodeView("/skip/Unknown.pdb", CodeViewKind::Unknown);
  Image.AddCodeView("/take/Third.pdb", CodeViewKind::Rsds);
  Image.AddCodeView("/late/Fourth.pdb", CodeViewKind::Rsds);
  EXPECT_EQ(NameOf(Image), "Third.efi");
}

TEST_F(DeadLoopTest, ImagesWithoutAUsablePathAreReportedByGuid) {
  SyntheticImage NoDirectory;
  NoDirectory.BuildPe(ImageKind::Pe32Plus, /*WithDebugDirectory=*/false);
  SyntheticImage ShortOptionalHeader;
  ShortOptionalHeader.BuildPe(ImageKind::Pe32Plus);
  ShortOptionalHeader.AddCodeView("/x/Short.pdb");
  ShortOptionalHeader.Put<uint32_t>(SyntheticImage::kPeHeaderOffset + 132, 6);  // no debug directory slot
  SyntheticImage WrongMagic;
  WrongMagic.BuildPe(ImageKind::Pe32Plus);
  WrongMagic.AddCodeView("/x/Magic.pdb");
  WrongMagic.Put<uint16_t>(SyntheticImage::kPeHeaderOffset + 24, 0x10B);  // x64 machine, PE32 magic
  SyntheticImage EndsInSeparator;
  EndsInSeparator.BuildPe(ImageKind::Pe32Plus);
  EndsInSeparator.AddCodeView("c:\\build\\");
  SyntheticImage NoDot;
  NoDot.BuildPe(ImageKind::Pe32Plus);
  NoDot.AddCodeView("/build/Driver");
  SyntheticImage TooLong;
  TooLong.BuildPe(ImageKind::Pe32Plus);
  TooLong.AddCodeView("/build/" + std::string(246, 'n') + ".pdb");

  for (SyntheticImage *Image : {&NoDirectory, &ShortOptionalHeader, &WrongMagic, &EndsInSeparator, &NoDot, &TooLong}) {
    EXPECT_THAT(ReportFor(Image->Address() + 0x40),
                ElementsAre(std::string("Module[") + kProbeGuidText + "], 0x" + Hex32(Image->Address()) + ":0x40"));
  }
}

TEST_F(DeadLoopTest, ModuleNameRules) {
  struct Case {
    std::string Path;
    EFI_STATUS Status;
    std::string Name;
  };
  const Case Cases[] = {
      {"a.b.pdb", EFI_SUCCESS, "a.efi"},
      {"dir/sub\\Mixed.pdb", EFI_SUCCESS, "Mixed.efi"},
      {".pdb", EFI_SUCCESS, ".efi"},
      {"c:\\build\\", EFI_NOT_FOUND, ""},
      {"/build/NoDot", EFI_NOT_FOUND, "NoDot"},
      // The longest name that fits: 245 characters and its dot, then "efi".
      {std::string(245, 'k') + ".pdb", EFI_SUCCESS, std::string(245, 'k') + ".efi"},
      // One more and the dot lies past the limit: what was copied stays, unterminated by us.
      {std::string(246, 'k') + ".pdb", EFI_NOT_FOUND, std::string(246, 'k')},
  };
  for (const auto &C : Cases) {
    SyntheticImage Image;
    Image.BuildPe(ImageKind::Pe32Plus);
    Image.AddCodeView(C.Path);
    EFI_STATUS Status;
    EXPECT_EQ(NameOf(Image, &Status), C.Name) << C.Path;
    EXPECT_EQ(Status, C.Status) << C.Path;
  }
}

TEST_F(DeadLoopTest, ModuleNameArgumentsAndTinyBuffers) {
  SyntheticImage Image;
  Image.BuildPe(ImageKind::Pe32Plus);
  Image.AddCodeView("/build/Drv.pdb");
  CHAR8 Name[16];
  EXPECT_EQ(Probe->GetModuleNameFromPdb(nullptr, Name, sizeof Name), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Probe->GetModuleNameFromPdb(Image.Bytes(), nullptr, sizeof Name), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Probe->GetModuleNameFromPdb(Image.Bytes(), Name, 0), EFI_INVALID_PARAMETER);
  // Buffers too small for any name copy nothing and never write past their end.
  for (UINTN Size : {1u, 5u, 10u}) {
    EFI_STATUS Status;
    EXPECT_EQ(NameOf(Image, &Status, Size), "") << Size;
    EXPECT_EQ(Status, EFI_NOT_FOUND) << Size;
  }
  // Separators at or past the limit are not seen: with 16 bytes the last '/' (at 6) is missed.
  EFI_STATUS Status;
  EXPECT_EQ(NameOf(Image, &Status, 16), "build/");
  EXPECT_EQ(Status, EFI_NOT_FOUND);
  EXPECT_EQ(NameOf(Image, &Status, 17), "Drv.efi");
  EXPECT_EQ(Status, EFI_SUCCESS);
}

TEST_F(DeadLoopTest, AbsurdDebugDirectorySizeIsNotFollowedFarAndFindsNothing) {
  SyntheticImage Image(0x10000);
  Image.BuildPe(ImageKind::Pe32Plus);
  Image.AddCodeView("/x/Never.pdb", CodeViewKind::Rsds, /*Type=*/9);
  Image.Put<uint32_t>(SyntheticImage::kPeHeaderOffset + 188, 0xFFFFFFFF);
  EXPECT_EQ(Probe->PeCoffLoaderGetPdbPointer(Image.Bytes()), nullptr);
}

TEST_F(DeadLoopTest, SearchWindowIsTwoMebibytesOfSixteenByteSteps) {
  SyntheticImage Memory(0x201000);
  const UINTN Address = Memory.Address() + 0x200100 + 0x8;
  // Positions Address&~15 down to 131071 steps below it are searched; one step further is not.
  Memory.Put<uint16_t>(0x100, 0x5A4D);
  EXPECT_THAT(ReportFor(Address), ElementsAre("Cannot find Module base address..."));
  Memory.Put<uint16_t>(0x110 + 8, 0x5A4D);  // not on a 16-byte boundary
  EXPECT_THAT(ReportFor(Address), ElementsAre("Cannot find Module base address..."));
  Memory.Put<uint16_t>(0x110, 0x5A4D);
  EXPECT_THAT(ReportFor(Address),
              ElementsAre(std::string("Module[") + kProbeGuidText + "], 0x" + Hex32(Memory.Address() + 0x110) + ":0x" +
                          Hex32(Address - Memory.Address() - 0x110)));
}

TEST_F(DeadLoopTest, AddressZeroGivesNoOutput) { EXPECT_THAT(ReportFor(0), IsEmpty()); }

TEST_F(ProbeTest, PresetSevenSilencesTheReports) {
  SetConfig(Config({{0, 7}}));
  ASSERT_EQ(Start(), EFI_SUCCESS);
  SyntheticImage Image;
  Image.BuildPe(ImageKind::Pe32Plus);
  Image.AddCodeView("/x/Quiet.pdb");
  Transcript->Clear();
  Probe->ReportCallerModule(Image.Address() + 0x10);
  EXPECT_TRUE(Transcript->Text().empty());
}

TEST_F(DeadLoopTest, CpuDeadLoopReportsItsCallerAndSpinsUntilReleased) {
  // The caller is a stub placed inside a synthetic image, so the report has an image to find.
  SyntheticImage Image;
  Image.BuildPe(ImageKind::Pe32Plus);
  Image.AddCodeView("D:\\fw\\Caller.pdb");
  const uint8_t Stub[] = {0x48, 0x83, 0xEC, 0x08, 0xFF, 0xD7,
                          0x48, 0x83, 0xC4, 0x08, 0xC3};  // sub rsp,8; call rdi; add rsp,8; ret
  std::memcpy(Image.Bytes() + 0x800, Stub, sizeof Stub);
  ASSERT_EQ(mprotect(Image.Bytes(), 0x4000, PROT_READ | PROT_EXEC), 0);

  unsigned Reads = 0;
  Platform.OnSpinRead = [&](volatile UINT64 *Flag) {
    EXPECT_EQ(*Flag, 0u) << "the spin flag starts at 0";
    if (++Reads == 3) {
      *Flag = 1;  // the debugger's write
    }
  };
  auto CallThroughStub = reinterpret_cast<void (*)(void *)>(Image.Bytes() + 0x800);
  CallThroughStub(reinterpret_cast<void *>(Probe->CpuDeadLoop));

  EXPECT_EQ(Reads, 3u);
  const UINTN Caller = Image.Address() + 0x806;
  EXPECT_THAT(Transcript->Lines(), ElementsAre("CpuDeadLoop, Caller address: 0x" + Hex32(Caller),
                                               "Module[Caller.efi], 0x" + Hex32(Image.Address()) + ":0x806"));
}

void ExpectRealImageNamesItself(ProbeTest &Test, const SUPPORT_PROBE *Probe, sim::DebugTranscript &Transcript,
                                const std::string &Path, const std::string &Name) {
  if (!std::filesystem::exists(Path)) {
    GTEST_SKIP() << Path << " is not built yet";
  }
  auto Parsed = pe::PeImage::Load(Path);
  ASSERT_TRUE(Parsed) << Parsed.Error;
  auto Mapped = Parsed.Image->MapAtRvas();
  ASSERT_TRUE(Mapped);
  SyntheticImage Image((Mapped->size() + 0xFFF) & ~size_t(0xFFF));
  std::memcpy(Image.Bytes(), Mapped->data(), Mapped->size());
  const UINTN Entry = Parsed.Image->AddressOfEntryPoint();
  Transcript.Clear();
  Probe->ReportCallerModule(Image.Address() + Entry);
  EXPECT_THAT(Transcript.Lines(),
              ElementsAre("Module[" + Name + "], 0x" + Hex32(Image.Address()) + ":0x" + Hex32(Entry)));
}

TEST_F(DeadLoopTest, BuiltRosterImageReportsItsOwnName) {
  ExpectRealImageNamesItself(*this, Probe, *Transcript, ROSTER_EFI_PATH, "Roster.efi");
}

TEST_F(DeadLoopTest, BuiltHotlatchImageReportsItsOwnName) {
  ExpectRealImageNamesItself(*this, Probe, *Transcript, HOTLATCH_EFI_PATH, "Hotlatch.efi");
}

}  // namespace
}  // namespace supporttest
