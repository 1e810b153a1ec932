// Processor and memory-device records from one forward pass over the SMBIOS table: which
// runs are taken, where they stop, and how strings and serials land in the fields.
#include "RosterFixture.h"

#include <sim/DebugTranscript.h>

#include <cstring>

namespace roster_test {
namespace {

class SmbiosRecordsTest : public RosterTest {
 protected:
  sim::SmbiosTable *Table = nullptr;
  void SetUp() override {
    Table = &P.Add<sim::SmbiosTable>(P);
    Transport();
  }
  Processor Cpu(const std::string &Version) {
    Processor Each;
    Each.Version = Version;
    return Each;
  }
  MemoryDevice Dimm(const std::string &Locator) {
    MemoryDevice Each;
    Each.Locator = Locator;
    return Each;
  }
  std::vector<UINT8> Run() {
    RunInventory();
    return OnlyImage();
  }
  // Runs the inventory and keeps the count lines the SMBIOS searches print.
  std::vector<UINT8> RunWithCountLines(std::string &CountLines) {
    ShowDebugMessages();
    sim::DebugTranscript Transcript(P);
    std::vector<UINT8> Image = Run();
    for (const std::string &Line : Transcript.Lines()) {
      if (Line.rfind("CpuCount = ", 0) == 0 || Line.rfind("DimmCount = ", 0) == 0) {
        CountLines += Line + "\n";
      }
    }
    return Image;
  }
};

TEST_F(SmbiosRecordsTest, ThirdProcessorIsSkippedAndTheMemorySearchGoesOn) {
  AddBios(*Table, {});
  AddProcessor(*Table, Cpu("first"));
  AddProcessor(*Table, Cpu("second"));
  AddProcessor(*Table, Cpu("third"));
  AddMemoryDevice(*Table, Dimm("A1"));
  AddOther(*Table, 127);
  const auto Image = Run();
  ImageView View{Image};

  ASSERT_EQ(View.CpuCount(), 2);
  EXPECT_EQ(FieldText(View.Cpu(0) + 164, 66), "first");
  EXPECT_EQ(FieldText(View.Cpu(1) + 164, 66), "second");
  EXPECT_EQ(FieldText(View.Cpu(1) + 9, 64), "(CPU_1)");
  EXPECT_EQ(View.Cpu(1)[5], 1) << "Instance";
  EXPECT_EQ(View.Cpu(1)[73], 2) << "Ordinal";
  ASSERT_EQ(View.DimmCount(), 1);
  EXPECT_EQ(FieldText(View.Dimm(0) + 9, 64), "A1");
  EXPECT_EQ(Image[64], 3) << "RecordCount";
}

TEST_F(SmbiosRecordsTest, RunEndsAtTheFirstOtherTypeWhichItConsumes) {
  AddBios(*Table, {});
  AddProcessor(*Table, Cpu("only"));
  AddOther(*Table, 7);
  AddProcessor(*Table, Cpu("after the cache"));
  AddMemoryDevice(*Table, Dimm("A1"));
  AddMemoryDevice(*Table, Dimm("A2"));
  AddOther(*Table, 19);
  AddMemoryDevice(*Table, Dimm("after the run"));
  AddOther(*Table, 127);
  const auto Image = Run();
  ImageView View{Image};

  ASSERT_EQ(View.CpuCount(), 1);
  EXPECT_EQ(Image[61], 1) << "CpuPresent";
  ASSERT_EQ(View.DimmCount(), 2);
  EXPECT_EQ(FieldText(View.Dimm(1) + 9, 64), "A2");
}

TEST_F(SmbiosRecordsTest, StructuresBeforeTheBiosInformationAreNeverRecorded) {
  AddProcessor(*Table, Cpu("early"));
  AddMemoryDevice(*Table, Dimm("early"));
  AddBios(*Table, {});
  AddProcessor(*Table, Cpu("late"));
  AddOther(*Table, 7);  // ends the processor run and is consumed by it
  AddMemoryDevice(*Table, Dimm("late"));
  AddOther(*Table, 127);
  const auto Image = Run();
  ImageView View{Image};

  ASSERT_EQ(View.CpuCount(), 1);
  EXPECT_EQ(FieldText(View.Cpu(0) + 164, 66), "late");
  ASSERT_EQ(View.DimmCount(), 1);
  EXPECT_EQ(FieldText(View.Dimm(0) + 9, 64), "late");
  EXPECT_EQ(Image[23], 1) << "BiosPresent";
}

TEST_F(SmbiosRecordsTest, ThirteenMemoryDevicesGiveTwelveRecordsIncludingEmptySlots) {
  AddBios(*Table, {});
  AddProcessor(*Table, Cpu("p"));  // its run ends at the first memory device
  for (int Slot = 0; Slot < 13; Slot++) {
    MemoryDevice Each = Dimm("S" + std::to_string(Slot));
    Each.Size = Slot == 4 ? 0 : 16384;
    AddMemoryDevice(*Table, Each);
  }
  AddOther(*Table, 127);
  const auto Image = Run();
  ImageView View{Image};

  ASSERT_EQ(View.DimmCount(), 12);
  EXPECT_EQ(Image[64], 1 + 12) << "RecordCount";
  EXPECT_EQ(View.Dimm(4)[6], 0) << "an empty slot is recorded with Status 0";
  EXPECT_EQ(View.Dimm(5)[6], 0x81);
  EXPECT_EQ(FieldText(View.Dimm(11) + 9, 64), "S11");
}

TEST_F(SmbiosRecordsTest, TableWithoutMemoryDevicesEndsTheSearchAtItsEnd) {
  AddBios(*Table, {});
  AddProcessor(*Table, Cpu("one"));
  AddOther(*Table, 127);
  const auto Image = Run();
  ImageView View{Image};

  EXPECT_EQ(View.CpuCount(), 1);
  EXPECT_EQ(View.DimmCount(), 0);
  EXPECT_EQ(Image[62], 0) << "DimmPresent";
}

// A memory device right after the processor run is the first of the memory search: it is
// recorded, counted and printed there, and the pass reads nothing twice.
TEST_F(SmbiosRecordsTest, MemoryDeviceThatEndsTheProcessorRunStartsTheMemorySearch) {
  AddBios(*Table, {});
  AddProcessor(*Table, Cpu("only"));
  AddMemoryDevice(*Table, Dimm("A1"));
  AddMemoryDevice(*Table, Dimm("A2"));
  AddMemoryDevice(*Table, Dimm("B1"));
  AddOther(*Table, 127);
  std::string CountLines;
  const auto Image = RunWithCountLines(CountLines);
  ImageView View{Image};

  ASSERT_EQ(View.CpuCount(), 1);
  ASSERT_EQ(View.DimmCount(), 3);
  EXPECT_EQ(FieldText(View.Dimm(0) + 9, 64), "A1");
  EXPECT_EQ(View.Dimm(0)[5], 0) << "Instance";
  EXPECT_EQ(FieldText(View.Dimm(2) + 9, 64), "B1");
  EXPECT_EQ(Image[64], 4) << "RecordCount";
  EXPECT_EQ(CountLines, "CpuCount = 1\nDimmCount = 1\nDimmCount = 2\nDimmCount = 3\nDimmCount = 3\n");
  EXPECT_EQ(Table->Calls().size(), 6u) << "BIOS, processor, three memory devices, the end structure";
}

// Any other structure that ends the run is consumed: the memory search starts after it and
// prints nothing for it.
TEST_F(SmbiosRecordsTest, OtherStructureThatEndsTheProcessorRunIsConsumed) {
  AddBios(*Table, {});
  AddProcessor(*Table, Cpu("only"));
  AddOther(*Table, 7);
  AddOther(*Table, 16);
  AddMemoryDevice(*Table, Dimm("A1"));
  AddOther(*Table, 127);
  std::string CountLines;
  const auto Image = RunWithCountLines(CountLines);
  ImageView View{Image};

  ASSERT_EQ(View.CpuCount(), 1);
  ASSERT_EQ(View.DimmCount(), 1);
  EXPECT_EQ(CountLines, "CpuCount = 1\nDimmCount = 0\nDimmCount = 1\nDimmCount = 1\n")
      << "one search step for the type 16 structure, none for the consumed type 7";
  EXPECT_EQ(Table->Calls().size(), 6u);
}

// Once GetNext fails the pass is over. EDK II's GetNext then leaves the handle at the start
// of the table, and a later search would read it again from the top.
TEST_F(SmbiosRecordsTest, TableThatEndsInsideTheProcessorSearchEndsEverySearch) {
  AddMemoryDevice(*Table, Dimm("before the BIOS"));
  AddBios(*Table, {});
  AddProcessor(*Table, Cpu("last"));
  std::string CountLines;
  const auto Image = RunWithCountLines(CountLines);
  ImageView View{Image};

  EXPECT_EQ(View.CpuCount(), 1);
  EXPECT_EQ(View.DimmCount(), 0);
  EXPECT_EQ(Image[62], 0) << "DimmPresent";
  EXPECT_EQ(CountLines, "CpuCount = 1\nDimmCount = 0\n");
  ASSERT_EQ(Table->Calls().size(), 4u) << "no GetNext after the failed one";
  EXPECT_EQ(Table->Calls().back().Status, EFI_NOT_FOUND);
  EXPECT_EQ(Table->Calls().back().HandleOut, SMBIOS_HANDLE_PI_RESERVED) << "EDK II's GetNext rewinds the handle";
}

TEST_F(SmbiosRecordsTest, MemoryDeviceBeforeTheBiosIsNotReadAgainAfterTheEnd) {
  AddMemoryDevice(*Table, Dimm("before the BIOS"));
  AddBios(*Table, {});
  AddOther(*Table, 127);
  const auto Image = Run();
  ImageView View{Image};

  EXPECT_EQ(Image[23], 1) << "BiosPresent";
  EXPECT_EQ(View.CpuCount(), 0);
  EXPECT_EQ(View.DimmCount(), 0);
  EXPECT_EQ(Image[64], 0) << "RecordCount";
  EXPECT_EQ(Table->Calls().size(), 4u);
}

TEST_F(SmbiosRecordsTest, MissingBiosInformationEndsEverySearch) {
  AddProcessor(*Table, Cpu("a"));
  AddProcessor(*Table, Cpu("b"));
  AddMemoryDevice(*Table, Dimm("m"));
  AddOther(*Table, 127);
  const auto Image = Run();
  ImageView View{Image};

  EXPECT_EQ(Image[23], 0) << "BiosPresent";
  EXPECT_EQ(View.CpuCount(), 0);
  EXPECT_EQ(View.DimmCount(), 0);
  EXPECT_EQ(Table->Calls().size(), 5u);
}

TEST_F(SmbiosRecordsTest, FailedGetNextEndsEveryRemainingSearch) {
  AddBios(*Table, {});
  AddProcessor(*Table, Cpu("a"));
  AddMemoryDevice(*Table, Dimm("m1"));
  AddMemoryDevice(*Table, Dimm("m2"));
  AddOther(*Table, 127);
  P.Faults().FailNth("Smbios.GetNext", 2, EFI_DEVICE_ERROR);  // the processor search's first call
  const auto Image = Run();
  ImageView View{Image};

  EXPECT_EQ(View.CpuCount(), 0);
  EXPECT_EQ(View.DimmCount(), 0);
  EXPECT_EQ(Table->Calls().size(), 2u);
}

TEST_F(SmbiosRecordsTest, StringsAreCutToTheirFieldsAndNeverTerminatedInside) {
  BiosInfo Bios;
  Bios.Version = "VERSION-TWENTY-CHARS";
  AddBios(*Table, Bios);
  AddProcessor(*Table, Cpu(std::string(80, 'v')));
  AddOther(*Table, 7);
  MemoryDevice Full = Dimm(std::string(64, 'L'));
  Full.Manufacturer = std::string(40, 'M');
  Full.PartNumber = std::string(200, 'P');
  AddMemoryDevice(*Table, Full);
  AddMemoryDevice(*Table, Dimm(std::string(70, 'X')));
  AddOther(*Table, 127);
  const auto Image = Run();
  ImageView View{Image};

  EXPECT_EQ(std::string(reinterpret_cast<const char *>(&Image[25]), 16), "VERSION-TWENTY-C");
  EXPECT_EQ(Image[41], 0) << "the version does not spill into the identity words";
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(View.Cpu(0) + 164), 66), std::string(66, 'v'));
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(View.Dimm(0) + 9), 64), std::string(64, 'L'));
  EXPECT_EQ(View.Dimm(0)[73], 1) << "a 64-character name leaves Ordinal alone";
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(View.Dimm(0) + 78), 30), std::string(30, 'M'));
  EXPECT_EQ(View.Dimm(0)[108], '1') << "the manufacturer stays in its 30 bytes";
  EXPECT_EQ(FieldText(View.Dimm(0) + 142, 610), std::string(200, 'P'));
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(View.Dimm(1) + 9), 64), std::string(64, 'X'));
  EXPECT_EQ(View.Dimm(1)[73], 2);
}

// Builds a type 17 structure by hand so that string numbers and Length can be wrong.
std::vector<UINT8> RawMemoryDevice(UINT8 Length, UINT8 LocatorNumber, const std::vector<std::string> &Strings) {
  std::vector<UINT8> Bytes(Length, 0);
  Bytes[0] = 17;
  Bytes[1] = Length;
  auto Put = [&](size_t Offset, UINT8 Value) {
    if (Offset < Bytes.size()) Bytes[Offset] = Value;
  };
  Put(0x0C, 0x00);
  Put(0x0D, 0x40);
  Put(0x10, LocatorNumber);
  Put(0x12, 0x1A);
  Put(0x17, 2);
  Put(0x18, 3);
  Put(0x1A, 4);
  for (const std::string &Text : Strings) {
    Bytes.insert(Bytes.end(), Text.begin(), Text.end());
    Bytes.push_back(0);
  }
  Bytes.push_back(0);
  if (Strings.empty()) Bytes.push_back(0);
  return Bytes;
}

TEST_F(SmbiosRecordsTest, StringNumbersOutsideTheSetLeaveTheFieldZero) {
  AddBios(*Table, {});
  AddProcessor(*Table, Cpu("p"));  // its run ends at the first memory device
  Table->AddBytes(RawMemoryDevice(0x28, 9, {"loc", "maker", "1A2B3C4D", "part"}));  // past the last string
  Table->AddBytes(RawMemoryDevice(0x28, 0, {"loc", "maker", "1A2B3C4D", "part"}));  // 0 names no string
  Table->AddBytes(RawMemoryDevice(0x28, 255, {"loc", "maker", "1A2B3C4D", "part"}));
  Table->AddBytes(RawMemoryDevice(0x28, 1, {}));  // a structure without strings
  AddMemoryDevice(*Table, Dimm("NEIGHBOUR"));
  AddOther(*Table, 127);
  const auto Image = Run();
  ImageView View{Image};

  ASSERT_EQ(View.DimmCount(), 5);
  for (int Index = 0; Index < 4; Index++) {
    SCOPED_TRACE(Index);
    EXPECT_EQ(FieldText(View.Dimm(Index) + 9, 64), "") << "no text from another structure";
  }
  EXPECT_EQ(FieldText(View.Dimm(0) + 78, 30), "maker") << "the other strings are still found";
  EXPECT_EQ(FieldText(View.Dimm(3) + 78, 30), "");
  EXPECT_EQ(View.Dimm(3)[138] | View.Dimm(3)[139] | View.Dimm(3)[140] | View.Dimm(3)[141], 0);
}

TEST_F(SmbiosRecordsTest, FieldsBeyondTheFormattedAreaReadAsZero) {
  AddBios(*Table, {});
  AddProcessor(*Table, Cpu("p"));  // its run ends at the first memory device
  // Length 0x15: Memory Type and Type Detail are inside, Speed, Manufacturer, Serial and
  // Part Number are not, although the string set holds strings for them.
  Table->AddBytes(RawMemoryDevice(0x15, 1, {"loc", "maker", "1A2B3C4D", "part"}));
  AddOther(*Table, 127);
  const auto Image = Run();
  ImageView View{Image};

  ASSERT_EQ(View.DimmCount(), 1);
  EXPECT_EQ(FieldText(View.Dimm(0) + 9, 64), "loc");
  EXPECT_EQ(View.Dimm(0)[74] | (View.Dimm(0)[75] << 8), 0x4000);
  EXPECT_EQ(View.Dimm(0)[76] | View.Dimm(0)[77], 0) << "Speed lies beyond Length";
  EXPECT_EQ(FieldText(View.Dimm(0) + 78, 30), "");
  EXPECT_EQ(FieldText(View.Dimm(0) + 108, 2), "1A");
  EXPECT_EQ(View.Dimm(0)[138] | View.Dimm(0)[139] | View.Dimm(0)[140] | View.Dimm(0)[141], 0);
  EXPECT_EQ(FieldText(View.Dimm(0) + 142, 610), "");
}

TEST_F(SmbiosRecordsTest, ShortProcessorStructureRecordsNoCores) {
  AddBios(*Table, {});
  std::vector<UINT8> ShortCpu(0x22, 0);  // ends before Core Count and Thread Count
  ShortCpu[0] = 4;
  ShortCpu[0x10] = 1;
  ShortCpu[0x14] = 0xB8;
  ShortCpu[0x15] = 0x0B;
  Table->Add(ShortCpu, {"short version"});
  AddOther(*Table, 127);
  const auto Image = Run();
  ImageView View{Image};

  ASSERT_EQ(View.CpuCount(), 1);
  EXPECT_EQ(View.Cpu(0)[6], 0) << "Core Count 0: Status 0";
  EXPECT_EQ(View.Cpu(0)[74], 0);
  EXPECT_EQ(View.Cpu(0)[75], 0);
  EXPECT_EQ(View.Cpu(0)[84] | (View.Cpu(0)[85] << 8), 3000);
  EXPECT_EQ(FieldText(View.Cpu(0) + 164, 66), "short version");
}

TEST_F(SmbiosRecordsTest, SerialsDecodeAsHexUnlessTheMemoryTypeIsUnknown) {
  struct Case {
    std::string Serial;
    UINT8 MemoryType;
    std::vector<UINT8> Bytes;
  };
  const std::vector<Case> Cases = {
      {"1A2B3C4D", 0x1A, {0x1A, 0x2B, 0x3C, 0x4D}},
      {"0000ABCD", 0x1A, {0x00, 0x00, 0xAB, 0xCD}},
      {"1A2B3C4D", 0x02, {0x00, 0x00, 0x00, 0x00}},
      {"1A2", 0x1A, {0x1A, 0x20, 0x00, 0x00}},  // only the string's own characters
      {"1a2b3c4dEXTRA", 0x1A, {0x3A, 0x4B, 0x5C, 0x6D}},  // same arithmetic for any character
      {"", 0x1A, {0x00, 0x00, 0x00, 0x00}},
  };
  AddBios(*Table, {});
  AddProcessor(*Table, Cpu("p"));  // its run ends at the first memory device
  for (const Case &Each : Cases) {
    MemoryDevice Device = Dimm("D");
    Device.Serial = Each.Serial.empty() ? "x" : Each.Serial;
    Device.MemoryType = Each.MemoryType;
    if (Each.Serial.empty()) {
      Table->AddBytes(RawMemoryDevice(0x28, 1, {"D", "maker"}));  // serial string 3 missing
    } else {
      AddMemoryDevice(*Table, Device);
    }
  }
  AddOther(*Table, 127);
  const auto Image = Run();
  ImageView View{Image};

  ASSERT_EQ(View.DimmCount(), Cases.size());
  for (size_t Index = 0; Index < Cases.size(); Index++) {
    SCOPED_TRACE(Cases[Index].Serial);
    EXPECT_EQ(std::vector<UINT8>(View.Dimm(Index) + 138, View.Dimm(Index) + 142), Cases[Index].Bytes);
  }
}

TEST_F(SmbiosRecordsTest, TypeTextsAreUpperCaseHex) {
  AddBios(*Table, {});
  AddProcessor(*Table, Cpu("p"));  // its run ends at the first memory device
  MemoryDevice Device = Dimm("D");
  Device.MemoryType = 0x1A;
  Device.TypeDetail = 0x0080;
  AddMemoryDevice(*Table, Device);
  Device.MemoryType = 0x0F;
  Device.TypeDetail = 0xABCD;
  AddMemoryDevice(*Table, Device);
  AddOther(*Table, 127);
  const auto Image = Run();
  ImageView View{Image};

  EXPECT_EQ(std::string(reinterpret_cast<const char *>(View.Dimm(0) + 108), 2), "1A");
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(View.Dimm(0) + 118), 4), "0080");
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(View.Dimm(1) + 108), 2), "0F");
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(View.Dimm(1) + 118), 4), "ABCD");
  EXPECT_EQ(View.Dimm(1)[110], 0) << "no terminator after the type text";
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(View.Dimm(1) + 128), 5), std::string("1.2V\0", 5));
}

class SmbiosWithoutProtocolTest : public RosterTest {};

TEST_F(SmbiosWithoutProtocolTest, MissingProtocolIsAssertedAndTheHeaderStillGoes) {
  Transport();
  RunInventory();
  const auto Image = OnlyImage();
  ASSERT_EQ(Image.size(), 67u);
  EXPECT_EQ(Image[23], 0) << "BiosPresent";
  EXPECT_EQ(Image[64], 0) << "RecordCount";
  EXPECT_EQ(AssertionCount(), 1u);
}

}  // namespace
}  // namespace roster_test
