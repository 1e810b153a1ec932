// SATA_INFO messages: drives on the known ports, ports without a drive, disks that cannot
// be placed, capacity arithmetic, ATA strings and the retried send.
#include "RosterFixture.h"

namespace roster_test {
namespace {

class SataRecordsTest : public RosterTest {
 protected:
  void SetUp() override {
    auto &Smbios = P.Add<sim::SmbiosTable>(P);
    AddBios(Smbios, {});
    AddOther(Smbios, 127);
    Transport();
  }
  sim::DiskInfoDisk &AddDisk(bool SSata, UINT8 Port, const sim::IdentifyData &Identify) {
    return P.Add<sim::DiskInfoDisk>(P, AhciDisk(SSata, Port, Identify));
  }
  // The port messages for every known port except the given ones, in table order.
  static std::vector<std::vector<UINT8>> EmptyPortsExcept(std::initializer_list<UINT8> Taken) {
    std::vector<std::vector<UINT8>> Result;
    for (UINT8 Index = 0; Index < NUMBER_OF_SATA; Index++) {
      if (std::find(Taken.begin(), Taken.end(), kKnownPorts[Index]) == Taken.end()) {
        Result.push_back(EmptyPortMessage(Index, kKnownPorts[Index]));
      }
    }
    return Result;
  }
  static std::vector<std::vector<UINT8>> Join(std::vector<std::vector<UINT8>> First,
                                              const std::vector<std::vector<UINT8>> &Then) {
    First.insert(First.end(), Then.begin(), Then.end());
    return First;
  }
  static UINT16 HddSizeOf(const std::vector<UINT8> &Message) { return (UINT16)((Message[63] << 8) | Message[64]); }
};

TEST_F(SataRecordsTest, NoDrivesSendsFourteenPortMessages) {
  RunInventory();
  EXPECT_EQ(Messages(), EmptyPortsExcept({}));
  for (const auto &Request : Transport().RequestsOf(sim::ManagementTransport::Member::SendCommand)) {
    EXPECT_EQ(Request.CommandHeader, 0xA7E8);
    EXPECT_EQ(Request.RequestLength, 65u);
    EXPECT_EQ(Request.ResponseLengthIn, 1);
    EXPECT_TRUE(Request.ResponseBuffer);
    EXPECT_TRUE(Request.ReservedWasNull);
  }
}

TEST_F(SataRecordsTest, OneSSataDriveComesFirstThenTheOtherPorts) {
  AddDisk(true, 2, sim::IdentifyData().Model("SSATA DRIVE").Serial("SN0001").Sectors48(1953525168));
  RunInventory();
  const auto Expected =
      Join({DriveMessage(10, 0x12, "SSATA DRIVE", "SN0001" + std::string(14, ' '), 1000)}, EmptyPortsExcept({0x12}));
  EXPECT_EQ(Messages(), Expected);
}

TEST_F(SataRecordsTest, PortOutsideTheTableIsSentWithIndexZeroAndStrikesNothing) {
  AddDisk(false, 9, sim::IdentifyData().Model("M").Serial("S").Sectors28(1000000));
  RunInventory();
  const auto All = Messages();
  ASSERT_EQ(All.size(), 15u);
  EXPECT_EQ(All[0][0], 0) << "SataIndex";
  EXPECT_EQ(All[0][1], 0x09) << "SataPort";
  EXPECT_EQ(std::vector(All.begin() + 1, All.end()), EmptyPortsExcept({}));
}

TEST_F(SataRecordsTest, SecondDriveOnTheSamePortFindsItsEntryStruck) {
  AddDisk(false, 3, sim::IdentifyData().Model("FIRST").Serial("S1").Sectors28(1000000));
  AddDisk(false, 3, sim::IdentifyData().Model("SECOND").Serial("S2").Sectors28(1000000));
  RunInventory();
  const auto All = Messages();
  ASSERT_EQ(All.size(), 15u);
  EXPECT_EQ(All[0][0], 3);
  EXPECT_EQ(All[1][0], 0) << "no entry left for the second drive";
  EXPECT_EQ(All[1][1], 3);
  EXPECT_EQ(std::vector(All.begin() + 2, All.end()), EmptyPortsExcept({3}));
}

TEST_F(SataRecordsTest, PortIdEqualToTheStrikeMarkNeverMatchesStruckEntries) {
  AddDisk(false, 5, sim::IdentifyData().Model("FIVE").Serial("S5").Sectors28(1000000));
  AddDisk(true, 0xEF, sim::IdentifyData().Model("ODD").Serial("S").Sectors28(1000000));  // 0xEF | 0x10 = 0xFF
  RunInventory();
  const auto All = Messages();
  ASSERT_EQ(All.size(), 15u);
  EXPECT_EQ(All[1][1], 0xFF);
  EXPECT_EQ(All[1][0], 0) << "matched the struck entry of port 5";
  EXPECT_EQ(std::vector(All.begin() + 2, All.end()), EmptyPortsExcept({5}));
}

TEST_F(SataRecordsTest, CapacitiesInDecimalGigabytesMostSignificantByteFirst) {
  struct Case {
    const char *Name;
    sim::IdentifyData Identify;
    UINT16 Gigabytes;
  };
  std::vector<Case> Cases = {
      {"1 TB, 512-byte sectors", sim::IdentifyData().Sectors48(1953525168), 1000},
      {"4096-byte logical sectors", sim::IdentifyData().Sectors48(244190646).LogicalSectorWords(2048), 1000},
      {"28-bit sector count", sim::IdentifyData().Sectors28(0x0FFFFFFF), 137},
      {"65,536 GB and more keep 16 bits", sim::IdentifyData().Sectors48(140000000000ULL), (UINT16)(71680 % 65536)},
      {"word 106 without a valid signature",
       sim::IdentifyData().Sectors48(1953525168).Word(106, 0x9000).Word(117, 2048), 1000},
      {"ATAPI device", sim::IdentifyData().Sectors48(1953525168).Atapi(), 0},
  };
  UINT8 Port = 0;
  for (Case &Each : Cases) {
    AddDisk(false, Port++, Each.Identify.Model(Each.Name).Serial("S"));
  }
  RunInventory();
  const auto All = Messages();
  ASSERT_EQ(All.size(), 14u);
  for (size_t Index = 0; Index < Cases.size(); Index++) {
    SCOPED_TRACE(Cases[Index].Name);
    EXPECT_EQ(HddSizeOf(All[Index]), Cases[Index].Gigabytes);
    EXPECT_EQ(All[Index][2], 1) << "SataPresent";
  }
  EXPECT_EQ(All[0][63], 0x03);
  EXPECT_EQ(All[0][64], 0xE8);
  EXPECT_EQ(FieldText(&All[5][3], 40).substr(0, 12), "ATAPI device") << "an ATAPI drive keeps model";
  EXPECT_EQ(All[5][43], 'S') << "and serial";
}

TEST_F(SataRecordsTest, AtaStringsAreByteSwappedTrimmedAndBounded) {
  std::array<UINT8, 20> LeadingBlanks{};  // after the exchange: two blanks, ABC, 15 blanks
  const std::string Text = "  ABC" + std::string(15, ' ');
  for (size_t Index = 0; Index < 20; Index += 2) {
    LeadingBlanks[Index] = (UINT8)Text[Index + 1];
    LeadingBlanks[Index + 1] = (UINT8)Text[Index];
  }
  std::array<UINT8, 20> OnlyBlanks{};
  OnlyBlanks.fill(' ');
  OnlyBlanks[4] = 0;
  AddDisk(false, 0, sim::IdentifyData().Model(std::string(40, 'M')).SerialBytes(LeadingBlanks));
  AddDisk(false, 1, sim::IdentifyData().Model("SHORT").SerialBytes(OnlyBlanks));
  RunInventory();
  const auto All = Messages();
  ASSERT_EQ(All.size(), 14u);

  EXPECT_EQ(std::string(All[0].begin() + 43, All[0].begin() + 63), "ABC" + std::string(15, ' ') + std::string(2, '\0'));
  EXPECT_EQ(std::string(All[0].begin() + 3, All[0].begin() + 43), std::string(39, 'M') + '\0')
      << "the model's last byte is always 0";
  std::string Blanks(OnlyBlanks.begin(), OnlyBlanks.end());
  std::swap(Blanks[4], Blanks[5]);
  EXPECT_EQ(std::string(All[1].begin() + 43, All[1].begin() + 63), Blanks) << "nothing but blanks and NULs stays";
  EXPECT_EQ(std::string(All[1].begin() + 3, All[1].begin() + 43), "SHORT" + std::string(34, ' ') + '\0');
}

TEST_F(SataRecordsTest, SendIsRetriedUpToThreeTimes) {
  AddDisk(false, 1, sim::IdentifyData().Model("M").Serial("S").Sectors28(1000000));
  Transport().Script(sim::ManagementTransport::Member::SendCommand,
                     {EFI_TIMEOUT, EFI_DEVICE_ERROR, EFI_SUCCESS,  // the drive: third attempt goes through
                      EFI_TIMEOUT, EFI_TIMEOUT, EFI_TIMEOUT});  // port 0: given up
  RunInventory();
  const auto All = Messages();
  ASSERT_EQ(All.size(), 3u + 3u + 12u);
  EXPECT_EQ(All[0], All[1]);
  EXPECT_EQ(All[1], All[2]);
  EXPECT_EQ(All[2][1], 1);
  EXPECT_EQ(All[3], EmptyPortMessage(0, 0));
  EXPECT_EQ(All[5], EmptyPortMessage(0, 0));
  EXPECT_EQ(All[6], EmptyPortMessage(2, 2)) << "the step goes on after giving up";
}

TEST_F(SataRecordsTest, DriveWhoseSendFailsThreeTimesStillStrikesItsPort) {
  AddDisk(false, 1, sim::IdentifyData().Model("M").Serial("S").Sectors28(1000000));
  Transport().Script(sim::ManagementTransport::Member::SendCommand, {EFI_TIMEOUT, EFI_TIMEOUT, EFI_TIMEOUT});
  RunInventory();
  const auto All = Messages();
  ASSERT_EQ(All.size(), 3u + 13u);
  EXPECT_EQ(std::vector(All.begin() + 3, All.end()), EmptyPortsExcept({1}));
}

TEST_F(SataRecordsTest, DisksThatCannotBePlacedAreNotReportedAndStrikeNothing) {
  sim::DiskInfoSetup OtherController = AhciDisk(false, 1, sim::IdentifyData().Model("M").Serial("S"));
  OtherController.DevicePath = sim::SataDevicePath(0x1F, 2, 1);
  P.Add<sim::DiskInfoDisk>(P, OtherController);

  sim::DiskInfoSetup NoPciNode = AhciDisk(false, 2, sim::IdentifyData());
  NoPciNode.DevicePath = {0x03, 0x12, 10, 0, 2, 0, 0xFF, 0xFF, 0, 0, 0x7F, 0xFF, 4, 0};
  P.Add<sim::DiskInfoDisk>(P, NoPciNode);

  sim::DiskInfoSetup ShortNode = AhciDisk(false, 3, sim::IdentifyData());
  ShortNode.DevicePath = {0x02, 0x01, 2, 0, 0x01, 0x01, 6, 0, 0, 0x17, 0x7F, 0xFF, 4, 0};
  P.Add<sim::DiskInfoDisk>(P, ShortNode);

  sim::DiskInfoSetup NoEnd = AhciDisk(false, 4, sim::IdentifyData());
  NoEnd.DevicePath.clear();
  for (int Node = 0; Node < 200; Node++) {
    NoEnd.DevicePath.insert(NoEnd.DevicePath.end(), {0x03, 0x12, 4, 0});
  }
  P.Add<sim::DiskInfoDisk>(P, NoEnd);

  sim::DiskInfoSetup WhichIdeFails = AhciDisk(false, 5, sim::IdentifyData());
  WhichIdeFails.WhichIdeStatus = EFI_UNSUPPORTED;
  P.Add<sim::DiskInfoDisk>(P, WhichIdeFails);

  sim::DiskInfoSetup NoPath = AhciDisk(false, 6, sim::IdentifyData());
  NoPath.DevicePath.clear();
  P.Add<sim::DiskInfoDisk>(P, NoPath);

  RunInventory();
  EXPECT_EQ(Messages(), EmptyPortsExcept({}));
  EXPECT_EQ(AssertionCount(), 1u) << "only the missing device path protocol is asserted";
}

TEST_F(SataRecordsTest, FailedIdentifyIsAssertedAndTheDriveSkipped) {
  sim::DiskInfoSetup Failing = AhciDisk(false, 0, sim::IdentifyData().Model("BAD"));
  Failing.IdentifyStatus = EFI_DEVICE_ERROR;
  P.Add<sim::DiskInfoDisk>(P, Failing);
  auto &Good = AddDisk(false, 1, sim::IdentifyData().Model("GOOD").Serial("G").Sectors28(1000000));
  RunInventory();

  const auto All = Messages();
  ASSERT_EQ(All.size(), 14u);
  EXPECT_EQ(FieldText(&All[0][3], 40).substr(0, 4), "GOOD");
  EXPECT_EQ(std::vector(All.begin() + 1, All.end()), EmptyPortsExcept({1}));
  EXPECT_EQ(AssertionCount(), 1u);
  EXPECT_EQ(Good.LastIdentifySizeOffered(), 512u);
}

TEST_F(SataRecordsTest, OtherInterfacesAreSkippedSilently) {
  for (const EFI_GUID &Interface : {gEfiDiskInfoIdeInterfaceGuid, gEfiDiskInfoScsiInterfaceGuid,
                                    gEfiDiskInfoUsbInterfaceGuid, gEfiDiskInfoNvmeInterfaceGuid}) {
    sim::DiskInfoSetup Setup = AhciDisk(false, 0, sim::IdentifyData().Model("X"));
    Setup.Interface = Interface;
    P.Add<sim::DiskInfoDisk>(P, Setup);
  }
  RunInventory();
  EXPECT_EQ(Messages(), EmptyPortsExcept({}));
  EXPECT_EQ(AssertionCount(), 0u);
}

TEST_F(SataRecordsTest, FailedHandleSearchSendsEveryPortAsEmpty) {
  AddDisk(false, 0, sim::IdentifyData().Model("M"));
  P.Faults().FailAlways("LocateHandleBuffer", EFI_NOT_FOUND);
  RunInventory();
  EXPECT_EQ(Messages(), EmptyPortsExcept({}));
}

}  // namespace
}  // namespace roster_test
