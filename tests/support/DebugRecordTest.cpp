// The bytes a message and a failed assertion leave the image in, and what a listener makes
// of them.
#include "ProbeFixture.h"

#include <DebugRecords.h>

namespace supporttest {
namespace {

constexpr EFI_GUID kSomeGuid = {0x12345678, 0x9ABC, 0xDEF0, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};

UINT64 Slot(const sim::StatusCodeReport &Report, size_t Index) {
  UINT64 Value;
  std::memcpy(&Value,
              Report.Data.data() + sizeof(EFI_STATUS_CODE_DATA) + OFFSET_OF(DEBUG_INFO_RECORD, Slots) + 8 * Index,
              sizeof Value);
  return Value;
}

UINT16 Field16(const sim::StatusCodeReport &Report, size_t Offset) {
  UINT16 Value;
  std::memcpy(&Value, Report.Data.data() + Offset, sizeof Value);
  return Value;
}

class DebugRecordTest : public ProbeTest {
 protected:
  void SetUp() override {
    ProbeTest::SetUp();
    ASSERT_EQ(StartWithEverything(), EFI_SUCCESS);
    Platform.ClearStatusCodes();
    Transcript->Clear();
  }
};

TEST_F(DebugRecordTest, TwelveSlotsOfEveryKindRenderBack) {
  static const char16_t Wide[] = u"wide";
  Probe->DebugPrint(DEBUG_INFO, "%d %u %x %4X %ld %lx %p %a %s %c %g %r\n", -5, 7u, 0xAB, 0x1F, (INT64)-3000000000LL,
                    (UINT64)0x123456789ULL, (VOID *)0x1234, "ascii", Wide, (UINTN)'Z', &kSomeGuid, EFI_NOT_FOUND);
  EXPECT_EQ(Transcript->Text(),
            "-5 7 AB 001F -3000000000 123456789 1234 ascii wide Z 12345678-9ABC-DEF0-0123-456789ABCDEF Not Found\n");

  auto Reports = DebugReports();
  ASSERT_EQ(Reports.size(), 1u);
  const auto &Report = Reports[0];
  EXPECT_EQ(Report.Type, 0x00000003u);
  EXPECT_EQ(Report.Value, 0x03050000u);
  EXPECT_EQ(Report.Instance, 0u);
  ASSERT_TRUE(Report.CallerId.has_value());
  EXPECT_TRUE(GuidEquals(*Report.CallerId, kProbeCallerId));

  // 32-bit conversions fill the low half of their slot; the rest carry 64 bits.
  EXPECT_EQ(Slot(Report, 0), 0xFFFFFFFBu);
  EXPECT_EQ(Slot(Report, 1), 7u);
  EXPECT_EQ(Slot(Report, 3), 0x1Fu);
  EXPECT_EQ(Slot(Report, 4), (UINT64)-3000000000LL);
  EXPECT_EQ(Slot(Report, 5), 0x123456789ULL);
  EXPECT_EQ(Slot(Report, 6), 0x1234u);
  EXPECT_EQ(Slot(Report, 9), (UINT64)'Z');
  EXPECT_EQ(Slot(Report, 10), reinterpret_cast<UINT64>(&kSomeGuid));
  EXPECT_EQ(Slot(Report, 11), EFI_NOT_FOUND);

  auto Message = debug_render::DecodeDebugMessage(Report);
  ASSERT_TRUE(Message);
  EXPECT_EQ(Message->ErrorLevel, DEBUG_INFO);
  EXPECT_EQ(Message->Format, "%d %u %x %4X %ld %lx %p %a %s %c %g %r\n");
}

TEST_F(DebugRecordTest, StarsTakeSlotsAndPercentTakesNone) {
  // '*' takes a UINTN, as in EDK II: an int would leave the slot's upper half undefined.
  Probe->DebugPrint(DEBUG_INFO, "[%*d][%-*a][%.*a][%%][%d]\n", (UINTN)5, 42, (UINTN)4, "ab", (UINTN)2, "xyz", 9);
  EXPECT_EQ(Transcript->Text(), "[   42][ab  ][xy][%][9]\n");
}

TEST_F(DebugRecordTest, WildStarWidthIsBoundedByTheListenerLine) {
  Probe->DebugPrint(DEBUG_INFO, "[%*d]\n", (UINTN)0x556100000000ULL, 7);
  const std::string Text = Transcript->Text();
  EXPECT_LE(Text.size(), 210u);
  EXPECT_EQ(Text.rfind("[ ", 0), 0u) << "padded, then cut at the line's end";
}

TEST_F(DebugRecordTest, ThousandsSeparatorPacksNoSlotButTheListenerReadsOne) {
  // The packer does not know ',' as a flag, the listener does: "%,d" packs nothing, so the
  // next conversion packs its argument and the last argument is lost. Messages must not
  // use "%,d".
  Probe->DebugPrint(DEBUG_INFO, "%d %,d %d\n", 1, 1234567, 3);
  EXPECT_EQ(Transcript->Text(), "1 1,234,567 0\n");
}

TEST_F(DebugRecordTest, HeaderAndReportedSizeCarryFourBytesPastTheTerminator) {
  Probe->DebugPrint(DEBUG_INFO, "Hello\n");
  auto Reports = DebugReports();
  ASSERT_EQ(Reports.size(), 1u);
  EXPECT_EQ(Field16(Reports[0], 0), 20u);
  EXPECT_EQ(Field16(Reports[0], 2), 111u);
  EXPECT_EQ(Reports[0].Data.size(), 20u + 111u);
  UINT32 Level;
  std::memcpy(&Level, Reports[0].Data.data() + 20, sizeof Level);
  EXPECT_EQ(Level, DEBUG_INFO);
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(Reports[0].Data.data() + 120)), "Hello\n");
}

TEST_F(DebugRecordTest, ThirteenthSlotRaisesTheAssertionAndDropsTheMessage) {
  Probe->DebugPrint(DEBUG_INFO, "%d%d%d%d%d%d%d%d%d%d%d%d\n", 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12);
  EXPECT_EQ(Transcript->Text(), "123456789101112\n");
  EXPECT_TRUE(Asserts().empty());

  Platform.ClearStatusCodes();
  Probe->DebugPrint(DEBUG_INFO, "%d%d%d%d%d%d%d%d%d%d%d%d%d\n", 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13);
  EXPECT_TRUE(DebugReports().empty());
  auto Failed = Asserts();
  ASSERT_EQ(Failed.size(), 1u);
  EXPECT_EQ(Failed[0].Description, "(CHAR8 *)BaseListMarker <= FormatString");
  EXPECT_NE(Failed[0].FileName.find("DebugLib.cpp"), std::string::npos);
}

TEST_F(DebugRecordTest, RunOfStarsCannotWritePastTheRecord) {
  // Forty width arguments would overrun the record if stored before the check.
  std::string Format = "%" + std::string(40, '*') + "d";
  Probe->DebugPrint(DEBUG_INFO, Format.c_str(), 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20,
                    21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41);
  EXPECT_TRUE(DebugReports().empty());
  EXPECT_EQ(Asserts().size(), 1u);
}

TEST_F(DebugRecordTest, FormatOf104BytesPassesAnd105IsDroppedSilently) {
  std::string Fits(103, 'a');  // 104 bytes with the terminator
  Probe->DebugPrint(DEBUG_INFO, Fits.c_str());
  auto Reports = DebugReports();
  ASSERT_EQ(Reports.size(), 1u);
  EXPECT_EQ(Field16(Reports[0], 2), 208u);
  EXPECT_EQ(Transcript->Text(), Fits);

  Platform.ClearStatusCodes();
  std::string TooLong(104, 'b');
  Probe->DebugPrint(DEBUG_INFO, TooLong.c_str());
  EXPECT_TRUE(Platform.StatusCodes().empty()) << "dropped without any report";
}

TEST_F(DebugRecordTest, ListenerCutsItsLineAt199Characters) {
  Probe->DebugPrint(DEBUG_INFO, "%a%a", std::string(120, 'x').c_str(), std::string(120, 'y').c_str());
  EXPECT_EQ(Transcript->Text(), std::string(120, 'x') + std::string(79, 'y'));
}

TEST_F(DebugRecordTest, AssertRecordHoldsLineFileAndDescription) {
  Probe->DebugAssert("dir/File.c", 1234, "Pointer != NULL");
  ASSERT_EQ(Platform.StatusCodes().size(), 1u);
  const auto &Report = Platform.StatusCodes()[0];
  EXPECT_EQ(Report.Type, 0x90000002u);
  EXPECT_EQ(Report.Value, 0x03050007u);
  ASSERT_TRUE(Report.CallerId.has_value());
  EXPECT_TRUE(GuidEquals(*Report.CallerId, kProbeCallerId));

  std::vector<UINT8> Expected(20 + 40, 0);
  Expected[0] = 20;
  Expected[2] = 40 + 11 + 16;
  std::memcpy(Expected.data() + 4, &gEfiStatusCodeSpecificDataGuid, sizeof(EFI_GUID));
  UINT32 Line = 1234;
  std::memcpy(Expected.data() + 40, &Line, sizeof Line);
  for (char Character : std::string("dir/File.c\0Pointer != NULL\0", 27)) {
    Expected.push_back(static_cast<UINT8>(Character));
  }
  EXPECT_EQ(Report.Data, Expected);
  EXPECT_EQ(Transcript->Text(), "\nDXE_ASSERT!: dir/File.c (1234): Pointer != NULL\n");
}

struct AssertSizeCase {
  size_t FileLength;
  size_t DescriptionLength;
  size_t KeptFile;
  size_t KeptDescription;
};

TEST_F(DebugRecordTest, AssertRecordStaysWithin200BytesCuttingTheDescriptionFirst) {
  const AssertSizeCase Cases[] = {
      {100, 58, 100, 58},  // exactly 200 bytes
      {100, 59, 100, 58},  // one over: the description gives way
      {158, 10, 158, 0},  // the path alone leaves room only for an empty description
      {159, 10, 158, 0},  // the path itself is cut
      {500, 500, 158, 0},
  };
  for (const auto &Case : Cases) {
    Platform.ClearStatusCodes();
    std::string File(Case.FileLength, 'f');
    std::string Description(Case.DescriptionLength, 'd');
    Probe->DebugAssert(File.c_str(), 7, Description.c_str());
    ASSERT_EQ(Platform.StatusCodes().size(), 1u);
    const auto &Report = Platform.StatusCodes()[0];
    EXPECT_LE(Report.Data.size(), 20u + 200u);
    EXPECT_EQ(Report.Data.size(), 20u + 40u + Case.KeptFile + 1 + Case.KeptDescription + 1) << Case.FileLength;
    auto Message = debug_render::DecodeAssertMessage(Report);
    ASSERT_TRUE(Message);
    EXPECT_EQ(Message->FileName, File.substr(0, Case.KeptFile));
    EXPECT_EQ(Message->Description, Description.substr(0, Case.KeptDescription));
    EXPECT_EQ(Message->LineNumber, 7u);
  }
}

TEST_F(DebugRecordTest, MissingAssertStringsAreReportedEmpty) {
  Probe->DebugAssert(nullptr, 3, nullptr);
  auto Failed = Asserts();
  ASSERT_EQ(Failed.size(), 1u);
  EXPECT_EQ(Failed[0].FileName, "");
  EXPECT_EQ(Failed[0].Description, "");
}

TEST_F(DebugRecordTest, AssertEfiErrorPrintsOnceReportsOnceAndReturns) {
  UINT32 Line = Probe->AssertEfiError(EFI_NOT_FOUND);
  EXPECT_EQ(Transcript->Lines()[1], "ASSERT_EFI_ERROR (Status = Not Found)");
  ASSERT_EQ(DebugReports().size(), 1u);
  auto Failed = Asserts();
  ASSERT_EQ(Failed.size(), 1u);
  EXPECT_EQ(Failed[0].Description, "!EFI_ERROR (Status)");
  EXPECT_EQ(Failed[0].LineNumber, Line);
  EXPECT_NE(Failed[0].FileName.find("tests/support/ProbeAutoGen.cpp"), std::string::npos);

  Platform.ClearStatusCodes();
  Probe->AssertEfiError(EFI_SUCCESS);
  Probe->AssertEfiError(EFI_WARN_STALE_DATA);
  EXPECT_TRUE(Platform.StatusCodes().empty());
}

TEST_F(ProbeTest, AssertIsReportedEvenWhenTheMaskHidesTheMessage) {
  ASSERT_EQ(Start(), EFI_SUCCESS);  // default mask: DEBUG_ERROR does not pass
  Platform.ClearStatusCodes();
  Probe->AssertEfiError(EFI_DEVICE_ERROR);
  EXPECT_TRUE(DebugReports().empty());
  EXPECT_EQ(Asserts().size(), 1u);
}

}  // namespace
}  // namespace supporttest
