// Each class of damaged image is named by its own problem, and nothing else is blamed.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "DecodeInventory.h"
#include "DecodeTestImages.h"

using namespace RosterDecode;
using namespace DecodeTest;

namespace {

bool Mentions(const InventoryFacts &Facts, const std::string &Text) {
  for (const auto &Problem : Facts.Problems) {
    if (Problem.find(Text) != std::string::npos) return true;
  }
  return false;
}

std::string AllProblems(const InventoryFacts &Facts) {
  std::string Joined;
  for (const auto &Problem : Facts.Problems) Joined += Problem + "\n";
  return Joined;
}

ImageParts SmallBoard() {
  ImageParts Parts;
  Parts.Cpus.push_back(MakeCpu(0, 8, 16, 3000, "v"));
  Parts.Dimms.push_back(MakeDimm(0, "DIMM_A1", 8192, 2666, "M", "1A", "0080", {1, 2, 3, 4}, "P"));
  Parts.Pcis.push_back(MakePci(0, 0x3B, 0, 0x8086, 0x1234, 0, 0, 2, 0, 3, 8));
  Parts.Pcis.push_back(MakePci(1, 0x3B, 1, 0x8086, 0x1234, 0, 0, 2, 0, 3, 8));
  return Parts;
}

constexpr size_t kCpuAt = 67;
constexpr size_t kDimmAt = kCpuAt + sizeof(CPU_RECORD);
constexpr size_t kPciAt = kDimmAt + sizeof(DIMM_RECORD);

struct DamageCase {
  const char *Name;
  std::function<void(Bytes &)> Damage;
  bool Reseal;  // seal again so that only the intended damage shows
  const char *Expected;  // text the problem must carry
};

class DamagedImage : public ::testing::TestWithParam<DamageCase> {};

TEST_P(DamagedImage, IsNamedByItsOwnProblem) {
  const DamageCase &Case = GetParam();
  Bytes Image = BuildImage(SmallBoard());
  Case.Damage(Image);
  if (Case.Reseal) Seal(Image);
  InventoryFacts Facts = DecodeInventory(Image);
  EXPECT_TRUE(Mentions(Facts, Case.Expected)) << AllProblems(Facts);
  if (Case.Reseal) {
    EXPECT_FALSE(Mentions(Facts, "CRC MISMATCH")) << AllProblems(Facts);
  }
}

void PutU16(Bytes &Image, size_t Offset, uint16_t Value) { std::memcpy(Image.data() + Offset, &Value, 2); }
void PutU32(Bytes &Image, size_t Offset, uint32_t Value) { std::memcpy(Image.data() + Offset, &Value, 4); }

INSTANTIATE_TEST_SUITE_P(
    Inventory, DamagedImage,
    ::testing::Values(
        DamageCase{"Empty", [](Bytes &I) { I.clear(); }, false, "too short"},
        DamageCase{"ShorterThanHeader", [](Bytes &I) { I.resize(66); }, false, "too short"},
        DamageCase{"WrongSignature", [](Bytes &I) { I[3] = 'X'; }, false, "wrong signature \"XHIM\""},
        DamageCase{"OtherVersion", [](Bytes &I) { PutU32(I, 7, 2); }, true, "HeaderVersion 2"},
        DamageCase{"HeaderSizeTooLarge",
                   [](Bytes &I) {
                     Seal(I);
                     PutU32(I, 11, 99999);
                   },
                   false, "HeaderSize 99999"},
        DamageCase{"TrailingBytes",
                   [](Bytes &I) {
                     Seal(I);
                     I.push_back(0);
                   },
                   false, "there are 2176 bytes"},
        DamageCase{"RecordCountOff", [](Bytes &I) { I[64] = 5; }, true, "RecordCount 5 disagrees with the 4"},
        DamageCase{"PresentFlagOff", [](Bytes &I) { I[61] = 0; }, true, "CpuPresent 0 disagrees"},
        DamageCase{"MarkerMissing", [](Bytes &I) { I[kDimmAt] = 'X'; }, true, "offset 297: marker \"XE\""},
        DamageCase{"BodyLengthWrong", [](Bytes &I) { PutU16(I, kDimmAt + 2, 490); }, true, "BodyLength 490"},
        DamageCase{"RecordTypeUnknown", [](Bytes &I) { I[kPciAt + 4] = 7; }, true, "unknown RecordType 7"},
        DamageCase{"RecordTypeOfOtherKind", [](Bytes &I) { I[kPciAt + 4] = RECORD_TYPE_CPU; }, true,
                   "BodyLength 490 does not fit a processor"},
        DamageCase{"LastRecordCut", [](Bytes &I) { I.resize(I.size() - 100); }, true, "needs 563 bytes, only 463"},
        DamageCase{"RecordHeaderCut", [](Bytes &I) { I.resize(I.size() - 563 + 10); }, true, "only 10 bytes left"},
        DamageCase{"InstanceWrong", [](Bytes &I) { I[kPciAt + sizeof(PCI_RECORD) + 5] = 7; }, true, "Instance 7"},
        DamageCase{"HeaderSizeBelowHeader",
                   [](Bytes &I) {
                     Seal(I);
                     PutU32(I, 11, 10);
                   },
                   false, "HeaderSize 10"}),
    [](const ::testing::TestParamInfo<DamageCase> &Info) { return std::string(Info.param.Name); });

TEST(MalformedInventory, WrongSignatureDecodesNothingFurther) {
  Bytes Image = BuildImage(SmallBoard());
  Image[6] = 0;
  InventoryFacts Facts = DecodeInventory(Image);
  EXPECT_FALSE(Facts.HeaderDecoded);
  EXPECT_TRUE(Facts.Processors.empty() && Facts.MemoryDevices.empty() && Facts.PciFunctions.empty());
  EXPECT_EQ(Facts.Problems.size(), 1u);
  EXPECT_TRUE(Mentions(Facts, "\\x00")) << AllProblems(Facts);  // the odd byte is shown, not printed raw
}

TEST(MalformedInventory, BrokenMarkerKeepsTheRecordsBeforeIt) {
  Bytes Image = BuildImage(SmallBoard());
  Image[kPciAt + 1] = 0;
  Seal(Image);
  InventoryFacts Facts = DecodeInventory(Image);
  EXPECT_EQ(Facts.Processors.size(), 1u);
  EXPECT_EQ(Facts.MemoryDevices.size(), 1u);
  EXPECT_TRUE(Facts.PciFunctions.empty());
  EXPECT_TRUE(Mentions(Facts, "RecordCount 4 disagrees with the 2"));
}

TEST(MalformedInventory, AreasOutOfOrderAndOverCapacityAreNamed) {
  ImageParts Parts;
  Parts.Dimms.push_back(MakeDimm(0, "D", 1024, 1600, "M", "18", "0080", {1, 2, 3, 4}, "P"));
  Bytes Image = BuildImage(Parts);
  CPU_RECORD Cpu = MakeCpu(0, 1, 1, 1000, "late");
  auto *Raw = reinterpret_cast<const uint8_t *>(&Cpu);
  Image.insert(Image.end(), Raw, Raw + sizeof(Cpu));
  for (uint8_t Index = 1; Index < 3; ++Index) {
    Cpu = MakeCpu(Index, 1, 1, 1000, "late");
    Image.insert(Image.end(), Raw, Raw + sizeof(Cpu));
  }
  Image[61] = 1;
  Image[64] = 4;
  Seal(Image);
  InventoryFacts Facts = DecodeInventory(Image);
  EXPECT_TRUE(Mentions(Facts, "processor record after memory-device records")) << AllProblems(Facts);
  EXPECT_TRUE(Mentions(Facts, "more than 2 processor records")) << AllProblems(Facts);
  EXPECT_EQ(Facts.Processors.size(), 3u);
}

}  // namespace
