// What a person and a script see: the text lines and the JSON document.
#include <gtest/gtest.h>

#include <sstream>

#include "DecodeFile.h"
#include "DecodeTestImages.h"
#include "JsonCheck.h"
#include "JsonPrinter.h"
#include "JsonWriter.h"
#include "TextPrinter.h"

using namespace RosterDecode;
using namespace DecodeTest;

namespace {

std::string TextOf(const FileFacts &File) {
  std::ostringstream Out;
  PrintText(Out, File);
  return Out.str();
}

::testing::AssertionResult Has(const std::string &Text, const std::string &Part) {
  if (Text.find(Part) != std::string::npos) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "missing: " << Part << "\nin:\n" << Text;
}

TEST(TextPrinter, FullImageReadsAsAPersonExpects) {
  std::string Text = TextOf(DecodeFile("inv.bin", BuildImage(FullBoard())));
  EXPECT_TRUE(Has(Text, "== inv.bin: inventory image\n"));
  EXPECT_TRUE(Has(Text, "HeaderSize      23060 (image of 23063 bytes)"));
  EXPECT_TRUE(Has(Text, ": OK\n"));
  EXPECT_TRUE(Has(Text, "BIOS version    \"R01.02.0003\""));
  EXPECT_TRUE(Has(Text, "Identity words  1234 5678 9ABC DEF0 (0x56781234 0xDEF09ABC)\n  Identity copy   same"));
  EXPECT_TRUE(Has(Text, "2 processors, 12 memory devices, 24 PCI functions (RecordCount 38)"));
  EXPECT_TRUE(Has(Text, "#0 \"(CPU_0)\" present: 28 cores, 56 threads, max 4000 MHz"));
  EXPECT_TRUE(Has(Text, "version \"Xeon Test CPU @ 2.70GHz\""));
  EXPECT_TRUE(Has(Text, "#0 \"DIMM_A1\": 16384 MB (16 GB), 2933 MT/s, DDR4 (1A), detail 0x0080 [Synchronous]"));
  EXPECT_TRUE(Has(Text, "serial 1A2B3C4D, part \"ACM16G-2933R\""));
  EXPECT_TRUE(Has(Text, "#1 \"DIMM_A2\": empty\n"));
  EXPECT_TRUE(
      Has(Text,
          "32 GB or more (extended size not recorded), 4800 MT/s, DDR5 (22), detail 0x2080 [Synchronous, Registered]"));
  EXPECT_TRUE(Has(Text, "serial 0000ABCD"));
  EXPECT_TRUE(Has(Text, "  3b:00.1 [8086:10d3] class 0200 subsys 8086:0000 link 8GT/s x16\n"));
  EXPECT_TRUE(Has(Text, "  47:00.0 [1af4:1041] class 0108 subsys 1af4:1100 no link\n"));  // Instance 7: code 0
}

TEST(TextPrinter, MismatchDifferingCopiesAndOddBytesAreVisible) {
  Bytes Image = BuildImage(FullBoard());
  Image[51] = 0x00;
  Image[25] = 0x01;  // a control byte inside the BIOS version
  Image[26] = '"';
  std::string Text = TextOf(DecodeFile("inv.bin", Image));
  EXPECT_TRUE(Has(Text, ": CRC MISMATCH\n"));
  EXPECT_TRUE(Has(Text, "DIFFERS from the first copy"));
  EXPECT_TRUE(Has(Text, "BIOS version    \"\\x01\\\"1.02.0003\""));
}

TEST(TextPrinter, DrivesShowPortPresenceAndSmartctlCapacity) {
  FileFacts File = DecodeFile("d.bin", SataMessage(10, 0x12, 1, "TEST DISK", "  SER1  ", 2199));
  EXPECT_TRUE(Has(TextOf(File),
                  "  [10] sSATA 2  present, model \"TEST DISK\", serial \"SER1\", User Capacity: 2199 GB [2.19 TB]\n"));
  FileFacts Empty = DecodeFile("e.bin", SataMessage(3, 3, 0, "", "", 0));
  EXPECT_TRUE(Has(TextOf(Empty), "  [ 3] SATA 3   empty\n"));
}

TEST(TextPrinter, UndecodableImageSaysSo) {
  std::string Text = TextOf(DecodeFile("short.bin", Bytes(10, 0)));
  EXPECT_TRUE(Has(Text, "Inventory image, 10 bytes\n  not decoded\n"));
}

TEST(JsonPrinter, FullImageDocumentParsesAndCarriesTheFacts) {
  std::string Json = JsonDocument({DecodeFile("inv.bin", BuildImage(FullBoard()))});
  ASSERT_TRUE(IsValidJson(Json)) << Json.substr(0, 400);
  EXPECT_TRUE(Has(Json, "{\"files\":[{\"file\":\"inv.bin\",\"kind\":\"inventory_image\",\"problems\":[]"));
  EXPECT_TRUE(Has(Json, "\"crc\":{\"stored\":\"0x"));
  EXPECT_TRUE(Has(Json, "\"verdict\":\"OK\""));
  EXPECT_TRUE(Has(Json, "\"identity_words\":[\"1234\",\"5678\",\"9abc\",\"def0\"]"));
  EXPECT_TRUE(Has(Json, "\"record_count\":38"));
  EXPECT_TRUE(Has(Json, "\"cores\":28,\"threads\":56,\"max_speed_mhz\":4000"));
  EXPECT_TRUE(Has(Json,
                  "\"size_mb\":16384,\"size_text\":\"16384 MB (16 GB)\",\"speed_mts\":2933,"
                  "\"type_text\":\"1A\",\"type\":\"DDR4\""));
  EXPECT_TRUE(Has(Json, "\"serial\":\"1A2B3C4D\""));
  EXPECT_TRUE(Has(Json, "\"slot\":\"3b:00.1\""));
  EXPECT_TRUE(Has(Json, "\"vendor_id\":\"8086\",\"device_id\":\"10d3\",\"class\":\"0200\""));
  EXPECT_TRUE(Has(Json, "\"link_speed_code\":3,\"link_speed\":\"8GT/s\",\"link_width\":16"));
}

TEST(JsonPrinter, ProblemsDrivesAndUnreadableFilesStayValid) {
  Bytes Image = BuildImage(FullBoard());
  Image[200] ^= 0x40;
  FileFacts Unreadable;
  Unreadable.Path = "gone\".bin";
  Unreadable.Kind = InputKind::Unreadable;
  Unreadable.Problems.push_back("cannot read: No such file or directory");
  std::string Json =
      JsonDocument({DecodeFile("bad.bin", Image), DecodeFile("d.bin", SataMessage(0, 0x10, 1, "M", "S", 500)),
                    Unreadable, DecodeFile("short.bin", Bytes(3, 0))});
  ASSERT_TRUE(IsValidJson(Json)) << Json.substr(0, 400);
  EXPECT_TRUE(Has(Json, "\"verdict\":\"CRC MISMATCH\""));
  EXPECT_TRUE(Has(Json, "\"problems\":[\"CRC MISMATCH: stored 0x"));
  EXPECT_TRUE(Has(Json,
                  "\"port\":\"sSATA 0\",\"present\":true,\"model\":\"M\",\"serial\":\"S\",\"capacity_gb\":500,"
                  "\"capacity_text\":\"500 GB\""));
  EXPECT_TRUE(Has(Json, "{\"file\":\"gone\\\".bin\",\"kind\":\"unreadable\""));
  EXPECT_TRUE(Has(Json, "\"image_size\":3,\"decoded\":false,\"problems\":[\"too short"));
}

TEST(JsonPrinter, EveryByteValueBecomesValidJson) {
  std::string AllBytes;
  for (int Byte = 0; Byte < 256; ++Byte) AllBytes += static_cast<char>(Byte);
  std::string Quoted = JsonQuoted(AllBytes);
  EXPECT_TRUE(IsValidJson(Quoted)) << Quoted;
  EXPECT_TRUE(Has(Quoted, "\\u0001"));
  EXPECT_TRUE(Has(Quoted, "\\u00ff"));
  EXPECT_TRUE(Has(Quoted, "\\u007f"));
  EXPECT_TRUE(Has(Quoted, "\\\"") && Has(Quoted, "\\\\") && Has(Quoted, "\\n"));
}

TEST(JsonCheck, RejectsWhatIsNotJson) {
  // The checker itself must fail on broken documents, or the tests above prove nothing.
  EXPECT_TRUE(IsValidJson("{\"a\":[1,true,null,\"x\"]}"));
  EXPECT_FALSE(IsValidJson("{\"a\":1,}"));
  EXPECT_FALSE(IsValidJson("{\"a\" 1}"));
  EXPECT_FALSE(IsValidJson("[1,2"));
  EXPECT_FALSE(IsValidJson("\"a\x01\""));
  EXPECT_FALSE(IsValidJson("{} {}"));
  EXPECT_FALSE(IsValidJson("[01]"));
}

}  // namespace
