// SATA_INFO messages: drives, empty ports, and messages that do not hold together.
#include <gtest/gtest.h>

#include "DecodeFile.h"
#include "DecodeSataInfo.h"
#include "DecodeTestImages.h"
#include "TextPrinter.h"

#include <sstream>

using namespace RosterDecode;
using namespace DecodeTest;

namespace {

TEST(SataInfoDecode, DriveMessageGivesPortModelSerialAndSize) {
  // As the driver sends it: model with trailing blanks and its last byte 0, HddSize big-endian.
  Bytes Message = SataMessage(10, 0x12, 1, "TEST DISK 2TB" + std::string(26, ' '), "WD-ABC123", 2199);
  ASSERT_EQ(Message[63], 0x08);
  ASSERT_EQ(Message[64], 0x97);
  SataDriveFacts Drive = DecodeSataInfo(Message);
  EXPECT_TRUE(Drive.Problems.empty());
  ASSERT_TRUE(Drive.Decoded);
  EXPECT_EQ(Drive.SataIndex, 10);
  EXPECT_EQ(Drive.SataPort, 0x12);
  EXPECT_EQ(Drive.SataPresent, 1);
  EXPECT_EQ(Drive.ModelNumber, "TEST DISK 2TB");
  EXPECT_EQ(Drive.SerialNumber, "WD-ABC123");
  EXPECT_EQ(Drive.HddSizeGb, 2199);
}

TEST(SataInfoDecode, FullWidthStringsStopAtTheirFields) {
  // 40 model characters would run into the serial, 20 serial characters into HddSize.
  Bytes Message = SataMessage(0, 0, 1, std::string(40, 'M'), std::string(20, 'S'), 0x4142);
  SataDriveFacts Drive = DecodeSataInfo(Message);
  EXPECT_EQ(Drive.ModelNumber, std::string(40, 'M'));
  EXPECT_EQ(Drive.SerialNumber, std::string(20, 'S'));
  EXPECT_EQ(Drive.HddSizeGb, 0x4142);
}

TEST(SataInfoDecode, EmptyPortCarriesOnlyIndexAndPort) {
  SataDriveFacts Drive = DecodeSataInfo(SataMessage(13, 0x15, 0, "", "", 0));
  EXPECT_TRUE(Drive.Problems.empty());
  EXPECT_EQ(Drive.SataIndex, 13);
  EXPECT_EQ(Drive.SataPort, 0x15);
  EXPECT_EQ(Drive.SataPresent, 0);
  EXPECT_TRUE(Drive.ModelNumber.empty() && Drive.SerialNumber.empty());
}

TEST(SataInfoDecode, ImpossibleValuesAndWrongSizesAreProblems) {
  Bytes Message = SataMessage(14, 0x03, 2, "X", "Y", 1);
  SataDriveFacts Drive = DecodeSataInfo(Message);
  ASSERT_EQ(Drive.Problems.size(), 2u);
  EXPECT_NE(Drive.Problems[0].find("SataPresent 2"), std::string::npos);
  EXPECT_NE(Drive.Problems[1].find("SataIndex 14"), std::string::npos);

  for (size_t Size : {0, 1, 64, 66}) {
    Bytes Odd(Size, 0x11);
    SataDriveFacts Bad = DecodeSataInfo(Odd);
    EXPECT_FALSE(Bad.Decoded) << Size;
    ASSERT_EQ(Bad.Problems.size(), 1u) << Size;
    EXPECT_NE(Bad.Problems[0].find("65 bytes"), std::string::npos);
  }
}

TEST(SataInfoDecode, FileOfSixtyFiveBytesIsOneMessage) {
  FileFacts File = DecodeFile("port.bin", SataMessage(3, 3, 0, "", "", 0));
  EXPECT_EQ(File.Kind, InputKind::SataInfo);
  ASSERT_EQ(File.Drives.size(), 1u);
  EXPECT_TRUE(File.Inventories.empty());
  EXPECT_FALSE(HasProblems(File));

  FileFacts Other = DecodeFile("other.bin", Bytes(66, 0));
  EXPECT_EQ(Other.Kind, InputKind::InventoryImage);
  EXPECT_TRUE(HasProblems(Other));
}

TEST(SataInfoDecode, SixtyFiveBytesWithImpossibleFieldsAreNotDecoded) {
  FileFacts File = DecodeFile("guess.bin", SataMessage(14, 0x03, 2, "MODEL", "SERIAL", 512));
  ASSERT_EQ(File.Drives.size(), 1u);
  EXPECT_FALSE(File.Drives[0].Decoded);
  EXPECT_TRUE(HasProblems(File));
  std::ostringstream Text;
  PrintText(Text, File);
  EXPECT_NE(Text.str().find("not decoded"), std::string::npos) << Text.str();
  EXPECT_EQ(Text.str().find("MODEL"), std::string::npos) << Text.str();
}

}  // namespace
