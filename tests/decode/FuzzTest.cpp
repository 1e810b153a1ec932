// Damaged input of every shape decodes and prints without a crash (ASan and UBSan watch),
// and damage inside the counted bytes is never passed off as a clean image.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <sstream>

#include "DecodeFile.h"
#include "DecodeTestImages.h"
#include "JsonCheck.h"
#include "JsonPrinter.h"
#include "TextPrinter.h"

using namespace RosterDecode;
using namespace DecodeTest;

namespace {

// Decodes and renders both ways; returns whether the decoder found anything wrong.
bool DecodeAndPrint(const Bytes &Input, bool CheckJson) {
  FileFacts File = DecodeFile("fuzz.bin", Input);
  std::ostringstream Text;
  PrintText(Text, File);
  std::string Json = JsonDocument({File});
  if (CheckJson) {
    EXPECT_TRUE(IsValidJson(Json));
  }
  return HasProblems(File);
}

TEST(Fuzz, EveryTruncationOfAnImageIsReported) {
  // All three record kinds and both area boundaries, small enough to print every cut.
  ImageParts Parts = FullBoard();
  Parts.Cpus.resize(1);
  Parts.Dimms.resize(2);
  Parts.Pcis.resize(3);
  Bytes Image = BuildImage(Parts);
  for (size_t Length = 0; Length < Image.size(); ++Length) {
    if (Length == sizeof(SATA_INFO)) continue;  // read as a SATA_INFO message, covered below
    Bytes Cut(Image.begin(), Image.begin() + static_cast<std::ptrdiff_t>(Length));
    EXPECT_TRUE(DecodeAndPrint(Cut, Length % 7 == 0)) << "truncated to " << Length;
  }
}

TEST(Fuzz, TruncationsOfTheLargestImageAreReported) {
  Bytes Image = BuildImage(FullBoard());
  for (size_t Length = 67; Length < Image.size(); Length += 13) {
    EXPECT_TRUE(HasProblems(DecodeFile("cut.bin", ByteView(Image.data(), Length)))) << "truncated to " << Length;
  }
}

TEST(Fuzz, RandomByteChangesAfterThePrefixAreReported) {
  const Bytes Clean = BuildImage(FullBoard());
  std::mt19937 Random(20240611);
  for (int Round = 0; Round < 1000; ++Round) {
    Bytes Image = Clean;
    std::set<size_t> Offsets;
    size_t Count = 1 + Random() % 8;
    while (Offsets.size() < Count) {
      // Mostly the header and record headers, where framing decisions are made.
      size_t Limit = (Round % 3 == 0) ? Image.size() : 1200;
      Offsets.insert(INVENTORY_UNCOUNTED_PREFIX + Random() % (Limit - INVENTORY_UNCOUNTED_PREFIX));
    }
    for (size_t Offset : Offsets) Image[Offset] ^= static_cast<uint8_t>(1 + Random() % 255);
    if (Round % 10 == 0) {
      EXPECT_TRUE(DecodeAndPrint(Image, Round % 50 == 0)) << "round " << Round;
    } else {
      EXPECT_TRUE(HasProblems(DecodeFile("flip.bin", Image))) << "round " << Round;
    }
  }
}

TEST(Fuzz, RandomSataMessagesAndRandomBytesNeverCrash) {
  std::mt19937 Random(7);
  for (int Round = 0; Round < 2000; ++Round) {
    Bytes Input(Round % 2 ? sizeof(SATA_INFO) : Random() % 400);
    for (auto &Byte : Input) Byte = static_cast<uint8_t>(Random());
    if (Round % 5 == 0 && Input.size() >= 7) {
      Input[3] = 'S', Input[4] = 'H', Input[5] = 'I', Input[6] = 'M';  // get past the signature
    }
    DecodeAndPrint(Input, Round % 100 == 0);
  }
}

TEST(Fuzz, MangledReportLinesNeverCrash) {
  Bytes Message = SataMessage(2, 2, 1, "MODEL", "SERIAL", 256);
  std::string Good = "BMC SendCommand header=0xA7E8 length=65 data=";
  for (uint8_t Byte : Message) {
    char Digits[3];
    std::snprintf(Digits, sizeof(Digits), "%02X", Byte);
    Good += Digits;
  }
  std::mt19937 Random(99);
  const std::string Alphabet = "0123456789abcdefxX= -\t\r\n\x00\xff";
  for (int Round = 0; Round < 3000; ++Round) {
    std::string Line = Good;
    for (int Edit = 0; Edit < 1 + Round % 6; ++Edit) {
      size_t At = Random() % Line.size();
      switch (Random() % 3) {
        case 0:
          Line[At] = Alphabet[Random() % Alphabet.size()];
          break;
        case 1:
          Line.erase(At, 1 + Random() % 4);
          break;
        default:
          Line.insert(At, 1, Alphabet[Random() % Alphabet.size()]);
          break;
      }
      if (Line.empty()) Line = "BMC SendCommand ";
    }
    std::string Report = "noise\n" + Line + "\n";
    DecodeAndPrint(Bytes(Report.begin(), Report.end()), Round % 100 == 0);
  }
}

}  // namespace
