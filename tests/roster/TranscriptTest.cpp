// The messages of one whole inventory as the platform's listener prints them, with
// "DebugMessageConfig" showing DEBUG_INFO: every line, in order.
#include "RosterFixture.h"

#include <sim/DebugTranscript.h>

#include <cstdio>

namespace roster_test {
namespace {

std::string Hex2(UINT8 Value) {
  char Text[4];
  std::snprintf(Text, sizeof(Text), "%02X ", Value);
  return Text;
}

// The image dump: a line break first, then up to 100 bytes, a break after every 16th.
std::string ImageDump(const std::vector<UINT8> &Image) {
  std::string Text = "\n";
  for (size_t Index = 0; Index < std::min<size_t>(100, Image.size()); Index++) {
    Text += Hex2(Image[Index]);
    if ((Index + 1) % 16 == 0) Text += "\n";
  }
  return Text;
}

// The SATA message and ATA string dumps: a break before every 16th byte after the first.
std::string BytesDump(const std::vector<UINT8> &Bytes) {
  std::string Text;
  for (size_t Index = 0; Index < Bytes.size(); Index++) {
    if (Index != 0 && Index % 16 == 0) Text += "\n";
    Text += Hex2(Bytes[Index]);
  }
  return Text;
}

std::string HexNumber(unsigned Value) {
  char Text[16];
  std::snprintf(Text, sizeof(Text), "%X", Value);
  return Text;
}

std::vector<std::string> SplitLines(const std::string &Text) {
  std::vector<std::string> Lines;
  size_t Start = 0;
  for (size_t End; (End = Text.find('\n', Start)) != std::string::npos; Start = End + 1) {
    Lines.push_back(Text.substr(Start, End - Start));
  }
  if (Start < Text.size()) Lines.push_back(Text.substr(Start));
  return Lines;
}

// A NUL printed with "%c" ends the listener's buffer: nothing of it reaches the console.
std::vector<std::string> WithoutNuls(std::vector<std::string> Lines) {
  for (std::string &Line : Lines) {
    std::erase(Line, '\0');
  }
  return Lines;
}

class TranscriptTest : public RosterTest {};

TEST_F(TranscriptTest, OneWholeInventoryPrintsEveryMessageInOrder) {
  ShowDebugMessages();
  auto &Smbios = P.Add<sim::SmbiosTable>(P);
  AddBios(Smbios, {});
  AddProcessor(Smbios, {});
  AddOther(Smbios, 7);
  MemoryDevice Dimm;
  AddMemoryDevice(Smbios, Dimm);
  AddOther(Smbios, 127);
  auto &Pci = P.Add<sim::PciRootBridge>(P);
  std::vector<PciExpectation> Records;
  AddEndpointBehindBridge(Pci, {0, 1, 0, 0x3B, sim::PciRootBridge::LinkStatus(3, 8), 1, 0x1017}, &Records);
  P.Add<sim::PlatformIdentity>(P, 0x1122, 0x3344, 0x5566, 0x7788);
  Transport();
  P.Add<sim::DiskInfoDisk>(P,
                           AhciDisk(false, 0, sim::IdentifyData().Model("DISK").Serial(" SN1").Sectors48(1953525168)));

  sim::DebugTranscript Transcript(P);
  RunInventory();

  ExpectedInventory Board;
  Board.Bios = BiosInfo{};
  Board.Processors = {Processor{}};
  Board.MemoryDevices = {Dimm};
  Board.Pci = Records;
  Board.Identity = IdentityWords{0x1122, 0x3344, 0x5566, 0x7788};
  std::vector<UINT8> Image = BuildExpectedImage(Board);
  std::vector<UINT8> Unsealed = Image;
  std::fill(&Unsealed[15], &Unsealed[19], 0);
  const UINT32 Crc = Crc32(&Unsealed[3], Unsealed.size() - 3);
  const sim::PciEndpointIds &Ids = Records[0].Ids;

  std::string Expected = "Inventory Function Init";
  Expected += "Inventory function Event initialize\n";
  Expected += "Number_Of_CPU = 2\nNumber_Of_DIMM = C\nNumber_Of_PCI = 18\n";
  Expected += "CpuCount = 1\n";
  Expected += "DimmCount = 1\nDimmCount = 1\n";
  Expected += "Link_Speed = 3, Link_Width = 8\n";
  Expected += "Pci Count = 0\n";
  Expected += "Link_Speed = 0x03,Link_Width = 0x08\n";
  Expected += "VID= " + HexNumber(Ids.VendorId) + ",DevId = 0x" + HexNumber(Ids.DeviceId) + ",SubSystemVendorId = 0x" +
              HexNumber(Ids.SubSystemVendorId) + ",SubSystemId = 0x" + HexNumber(Ids.SubSystemId) +
              ",SubClassCode = 0x0,BaseClassCode = 0x2\n";
  Expected += "Inventory data TotalSize = 1612\nInventory data HeaderSize = 1609\n";
  Expected += ImageDump(Unsealed);
  Expected += "InvData CalCrc32 Status = Success\n";
  Expected += "CalCrc32 = " + std::to_string((INT32)Crc) + "\n";
  Expected += "CalCrc32 = " + HexNumber(Crc) + "\n";
  Expected += "Inventory Status = Success\n";

  Expected += "Define Sata device compare data ...\nA[0] = 0\nA[1] = 1\nInventory Sata entry...\n";
  Expected += "Locate DiskInfo Protocol Status =Success...\nHandleCount = 1\n";
  Expected += "Find sata device ...Index = 0\n";
  Expected += "Sata PortNum = 0\n";
  std::vector<UINT8> Serial(20, ' ');
  Serial[1] = 'S', Serial[2] = 'N', Serial[3] = '1';
  Expected += "Parse string before....\n" + BytesDump(Serial) + "\n";
  Serial.erase(Serial.begin());
  Serial.push_back(0);
  Expected += "Count = 1\n";
  Expected += "Parse string after......\n" + BytesDump(Serial) + "\n";
  Expected += std::string(Serial.begin(), Serial.end());
  Expected += "DISK" + std::string(35, ' ') + '\0';
  Expected += "\nDriveSize = 1000204\n";
  Expected += "\nTemp = 59395\nHddSize = 59395\n";
  Expected += "Create Sata Index ...\nSata = 0\n0 SataHdd->SataIndex = 0 ";
  Expected += "Send Sata hdd information status = Success\n";
  Expected += "Compare Sata entry ...\nFF\n";
  Expected += BytesDump(DriveMessage(0, 0, "DISK", "SN1" + std::string(16, ' '), 1000));
  Expected += "\nNUMBER_OF_SATA = 14\nsizeof(SATA_INFO) = 65\nsizeof(UINT8)*65 = 65\n";
  for (UINT8 Index = 0; Index < NUMBER_OF_SATA; Index++) {
    const UINT8 Port = kKnownPorts[Index];
    if (Index == 0) {
      Expected += "A[0] = FF\n";
      continue;
    }
    Expected += "A[" + HexNumber(Index) + "] = " + HexNumber(Port) + "\n";
    Expected += "No Sata hdd information...\n";
    Expected += "SataPort = " + HexNumber(Port) + "\nSataIndex = " + HexNumber(Index) + "\n";
    Expected += "No Sata hdd Sata Port Id = " + HexNumber(Port) + "\n";
    Expected += "Send Sata hdd information status = Success\n";
    Expected += BytesDump(EmptyPortMessage(Index, Port));
  }
  Expected += "Inventory function Event exit\n";

  const std::vector<std::string> Want = WithoutNuls(SplitLines(Expected));
  const std::vector<std::string> Got = WithoutNuls(Transcript.Lines());
  ASSERT_EQ(Got.size(), Want.size());
  for (size_t Line = 0; Line < Want.size(); Line++) {
    EXPECT_EQ(Got[Line], Want[Line]) << "line " << Line + 1;
  }
  EXPECT_EQ(OnlyImage(), Image);
}

TEST_F(TranscriptTest, DefaultLevelMaskPrintsNothingOfTheInventory) {
  auto &Smbios = P.Add<sim::SmbiosTable>(P);
  AddBios(Smbios, {});
  AddOther(Smbios, 127);
  Transport();
  sim::DebugTranscript Transcript(P);
  RunInventory();
  EXPECT_TRUE(Transcript.Lines().empty());
  EXPECT_EQ(OnlyImage().size(), 67u);
}

}  // namespace
}  // namespace roster_test
