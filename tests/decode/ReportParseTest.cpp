// Harness reports: the transport lines among everything else the harness prints.
#include <gtest/gtest.h>

#include "DecodeFile.h"
#include "DecodeReport.h"
#include "DecodeTestImages.h"

using namespace RosterDecode;
using namespace DecodeTest;

namespace {

std::string Hex(const Bytes &Data, bool Upper = true) {
  std::string Text;
  char Digits[3];
  for (uint8_t Byte : Data) {
    std::snprintf(Digits, sizeof(Digits), Upper ? "%02X" : "%02x", Byte);
    Text += Digits;
  }
  return Text;
}

std::string Line(const char *Call, const char *Header, const Bytes &Data, bool Upper = true) {
  return std::string("BMC ") + Call + " header=" + Header + " length=" + std::to_string(Data.size()) +
         " data=" + Hex(Data, Upper);
}

Bytes AsBytes(const std::string &Text) { return Bytes(Text.begin(), Text.end()); }

TEST(ReportParse, TransportLinesAmongOtherLinesAreDecoded) {
  Bytes Image = BuildImage(FullBoard());
  std::string Report =
      "Harness start\r\n"
      "Roster loaded: Success\r\n" +
      Line("SendLargeCommand", "0x5AC8", Image, false) + "\r\n" +
      Line("SendCommand", "0xA7E8", SataMessage(10, 0x12, 1, "DISK", "SER", 1000)) + "\n" + "[t=12] " +
      Line("SendCommand", "0xA7E8", SataMessage(0, 0, 0, "", "", 0)) + "\n" + "HARNESS DONE";
  FileFacts File = DecodeFile("report.txt", AsBytes(Report));
  EXPECT_EQ(File.Kind, InputKind::HarnessReport);
  EXPECT_FALSE(HasProblems(File));
  ASSERT_EQ(File.Inventories.size(), 1u);
  EXPECT_EQ(File.Inventories[0].Origin, "line 3");
  EXPECT_TRUE(File.Inventories[0].Header.CrcMatches);
  EXPECT_EQ(File.Inventories[0].PciFunctions.size(), 24u);
  ASSERT_EQ(File.Drives.size(), 2u);
  EXPECT_EQ(File.Drives[0].Origin, "line 4");
  EXPECT_EQ(File.Drives[0].HddSizeGb, 1000);
  EXPECT_EQ(File.Drives[1].Origin, "line 5");
  EXPECT_EQ(File.Drives[1].SataPresent, 0);
}

TEST(ReportParse, CommandsOfOtherHeadersAreNotedNotDecoded) {
  std::string Report = Line("SendCommand", "0x0418", Bytes{1, 2, 3}) + "\n" +
                       Line("SendCommand", "0xA7E8", SataMessage(1, 1, 0, "", "", 0)) + "\n";
  FileFacts File = DecodeFile("r.txt", AsBytes(Report));
  EXPECT_FALSE(HasProblems(File));
  ASSERT_EQ(File.Notes.size(), 1u);
  EXPECT_NE(File.Notes[0].find("line 1: command header 0x0418"), std::string::npos);
  EXPECT_EQ(File.Drives.size(), 1u);
}

TEST(ReportParse, DecodingProblemsOfAMessageNameItsLine) {
  Bytes Image = BuildImage(FullBoard());
  Image[100] ^= 1;
  std::string Report =
      "x\n" + Line("SendLargeCommand", "0x5AC8", Image) + "\n" + Line("SendCommand", "0xA7E8", Bytes(64, 0)) + "\n";
  FileFacts File = DecodeFile("r.txt", AsBytes(Report));
  ASSERT_EQ(File.Inventories.size(), 1u);
  EXPECT_EQ(File.Inventories[0].Origin, "line 2");
  EXPECT_FALSE(File.Inventories[0].Header.CrcMatches);
  ASSERT_EQ(File.Drives.size(), 1u);
  EXPECT_FALSE(File.Drives[0].Decoded);
  EXPECT_TRUE(HasProblems(File));
}

struct BadLine {
  const char *Text;
  const char *Expected;
};

class UnreadableLine : public ::testing::TestWithParam<BadLine> {};

TEST_P(UnreadableLine, IsAProblemNamingTheLine) {
  std::string Report = std::string("first line\n") + GetParam().Text + "\nlast line\n";
  ReportContents Contents = ParseReport(Report);
  EXPECT_TRUE(Contents.Messages.empty());
  ASSERT_EQ(Contents.Problems.size(), 1u);
  EXPECT_NE(Contents.Problems[0].find("line 2:"), std::string::npos) << Contents.Problems[0];
  EXPECT_NE(Contents.Problems[0].find(GetParam().Expected), std::string::npos) << Contents.Problems[0];
}

INSTANTIATE_TEST_SUITE_P(
    Report, UnreadableLine,
    ::testing::Values(BadLine{"BMC SendCommand length=1 data=00", "missing header"},
                      BadLine{"BMC SendCommand header=0xZZ length=1 data=00", "header is not"},
                      BadLine{"BMC SendCommand header=0x1A7E8 length=1 data=00", "header is not"},
                      BadLine{"BMC SendCommand header=0xA7E8 data=00", "missing length"},
                      BadLine{"BMC SendCommand header=0xA7E8 length=-1 data=00", "not a decimal"},
                      BadLine{"BMC SendCommand header=0xA7E8 length=99999999999999999999999 data=00", "not a decimal"},
                      BadLine{"BMC SendCommand header=0xA7E8 length=1", "missing data"},
                      BadLine{"BMC SendCommand header=0xA7E8 length=2 data=0G", "non-hex"},
                      BadLine{"BMC SendCommand header=0xA7E8 length=2 data=123", "odd number"},
                      BadLine{"BMC SendCommand header=0xA7E8 length=3 data=0102", "length=3 but data holds 2"},
                      BadLine{"BMC SendLargeCommand header=0x5AC8 length=1 data=00 extra", "unexpected text"}));

TEST(ReportParse, EmptyDataAndLowerCaseDigitsAreAccepted) {
  ReportContents Contents = ParseReport(
      "BMC SendLargeCommand header=0x5ac8 length=0 data=\n"
      "BMC SendCommand header=0xa7e8 length=2 data=ab0F\n");
  ASSERT_TRUE(Contents.Problems.empty()) << Contents.Problems[0];
  ASSERT_EQ(Contents.Messages.size(), 2u);
  EXPECT_EQ(Contents.Messages[0].Call, TransportCall::SendLargeCommand);
  EXPECT_EQ(Contents.Messages[0].CommandHeader, 0x5AC8);
  EXPECT_TRUE(Contents.Messages[0].Data.empty());
  EXPECT_EQ(Contents.Messages[1].Data, (Bytes{0xAB, 0x0F}));
  EXPECT_EQ(Contents.Messages[1].Line, 2u);
}

}  // namespace

namespace {

TEST(ReportParse, ImageWhoseTextSpellsATransportLineStaysAnImage) {
  ImageParts Parts;
  Parts.BiosVersion = "BMC SendCommand ";
  FileFacts File = DecodeFile("inv.bin", BuildImage(Parts));
  EXPECT_EQ(File.Kind, InputKind::InventoryImage);
  EXPECT_FALSE(HasProblems(File));
  ASSERT_EQ(File.Inventories.size(), 1u);
  EXPECT_EQ(File.Inventories[0].Header.BiosVersion, "BMC SendCommand ");
}

}  // namespace
