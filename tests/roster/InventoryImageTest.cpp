// The inventory image as the management controller receives it: whole images compared
// byte for byte with one built from the board's description, and the delivery's failures.
#include "RosterFixture.h"

#include <cstring>
#include <iostream>

namespace roster_test {
namespace {

UINT32 Read32(const std::vector<UINT8> &Bytes, size_t Offset) {
  UINT32 Value = 0;
  std::memcpy(&Value, &Bytes[Offset], 4);
  return Value;
}

class InventoryImageTest : public RosterTest {
 protected:
  // BIOS information and the end of the table; no processor, memory device or PCI record.
  void BuildEmptyBoard(ExpectedInventory &Expected) {
    auto &Smbios = P.Add<sim::SmbiosTable>(P);
    Expected.Bios = BiosInfo{};
    AddBios(Smbios, *Expected.Bios);
    AddOther(Smbios, 127);
    auto &Pci = P.Add<sim::PciRootBridge>(P);
    Pci.AddEndpoint(0, 0, 0, {0x8086, 0x09A2, 0x06, 0x00, 0, 0});
    Transport();
  }
};

TEST_F(InventoryImageTest, FullBoardImageIsByteForByteTheBoardsInventory) {
  FullBoard Board = BuildFullBoard(P);
  Transport_ = Board.Transport;
  ASSERT_EQ(StartDriver(), EFI_SUCCESS);
  NoteBeforeTrigger();
  const size_t BytesBefore = P.LiveBytes();
  const size_t ReadsBefore = Board.Pci->ReadCount();
  sim::InstallInventoryTrigger(P);
  ExpectCleanAfterInventory();
  std::cout << "[ metrics  ] full board: " << Board.Pci->ReadCount() - ReadsBefore
            << " configuration reads for 65536 probed addresses; pool peak " << P.PeakBytes() << " bytes ("
            << BytesBefore << " live before the trigger)\n";

  const std::vector<UINT8> Image = OnlyImage();
  const std::vector<UINT8> Expected = BuildExpectedImage(Board.Expected);
  ASSERT_EQ(Image.size(), 23063u);
  EXPECT_EQ(Read32(Image, 11), 23060u) << "HeaderSize";
  EXPECT_EQ(Image[9551], 'D');
  EXPECT_EQ(Image[9551 + 4], 32) << "the PCI records start at 9551";
  EXPECT_EQ(Image[64], 38) << "RecordCount";
  EXPECT_TRUE(Image == Expected) << FirstDifference(Image, Expected);

  const auto Large = Board.Transport->RequestsOf(sim::ManagementTransport::Member::SendLargeCommand);
  ASSERT_EQ(Large.size(), 1u);
  EXPECT_EQ(Large[0].CommandHeader, 0x5AC8);
  EXPECT_EQ(Large[0].RequestLength, 23063u) << "the length is not cut to 8 bits";
  EXPECT_TRUE(Large[0].ResponseBuffer);
  EXPECT_EQ(Large[0].ResponseLengthIn, 1);
  EXPECT_TRUE(Large[0].ReservedWasNull);
}

TEST_F(InventoryImageTest, EmptyBoardSendsTheHeaderAlone) {
  ExpectedInventory Expected;
  BuildEmptyBoard(Expected);
  RunInventory();

  const std::vector<UINT8> Image = OnlyImage();
  ASSERT_EQ(Image.size(), 67u);
  EXPECT_EQ(Read32(Image, 11), 64u);
  EXPECT_EQ(Image[64], 0) << "RecordCount";
  EXPECT_EQ(Image[24], 0) << "no identity protocol";
  const std::vector<UINT8> Built = BuildExpectedImage(Expected);
  EXPECT_TRUE(Image == Built) << FirstDifference(Image, Built);
  EXPECT_EQ(Messages().size(), 14u) << "the SATA step runs after an empty image too";
}

TEST_F(InventoryImageTest, ReceiverCanCheckTheCrcAndTheUncountedPrefix) {
  FullBoard Board = BuildFullBoard(P, false);
  Transport_ = Board.Transport;
  RunInventory();

  std::vector<UINT8> Image = OnlyImage();
  ASSERT_EQ(Image.size(), 23063u);
  EXPECT_EQ(Image[0] | Image[1] | Image[2], 0);
  const UINT32 Stored = Read32(Image, 15);
  std::memset(&Image[15], 0, 4);
  EXPECT_EQ(Crc32(&Image[3], Image.size() - 3), Stored);
  Image[0] = 0x55;
  Image[2] = 0xAA;
  EXPECT_EQ(Crc32(&Image[3], Image.size() - 3), Stored) << "bytes 0 to 2 lie outside the CRC";
  EXPECT_TRUE(std::equal(&Image[41], &Image[49], &Image[51])) << "both identity copies agree";
}

TEST_F(InventoryImageTest, FailedCrcServiceLeavesTheFieldZeroAndStillDelivers) {
  ExpectedInventory Expected;
  BuildEmptyBoard(Expected);
  P.Faults().FailAlways("CalculateCrc32", EFI_DEVICE_ERROR);
  RunInventory();

  std::vector<UINT8> Built = BuildExpectedImage(Expected);
  std::memset(&Built[15], 0, 4);
  const std::vector<UINT8> Image = OnlyImage();
  EXPECT_TRUE(Image == Built) << FirstDifference(Image, Built);
}

TEST_F(InventoryImageTest, FailedImageDeliveryIsNotRetriedAndTheSataStepStillRuns) {
  ExpectedInventory Expected;
  BuildEmptyBoard(Expected);
  Transport().Script(sim::ManagementTransport::Member::SendLargeCommand, {EFI_DEVICE_ERROR});
  RunInventory();

  EXPECT_EQ(Images().size(), 1u);
  EXPECT_EQ(Messages().size(), 14u);
}

TEST_F(InventoryImageTest, WithoutTransportNothingIsSentAndNoDiskIsAsked) {
  auto &Smbios = P.Add<sim::SmbiosTable>(P);
  AddBios(Smbios, BiosInfo{});
  AddOther(Smbios, 127);
  auto &Disk = P.Add<sim::DiskInfoDisk>(P, AhciDisk(false, 0, sim::IdentifyData().Model("M").Serial("S")));
  RunInventory();

  EXPECT_EQ(Disk.IdentifyCalls(), 0u);
  EXPECT_EQ(P.Faults().Count("LocateHandleBuffer"), 1u) << "only the PCI walk looks for handles";
}

TEST_F(InventoryImageTest, RefusedImageAllocationSendsNothing) {
  ExpectedInventory Expected;
  BuildEmptyBoard(Expected);
  ASSERT_EQ(StartDriver(), EFI_SUCCESS);
  NoteBeforeTrigger();
  // Three record areas, the PCI name buffer and the root-bridge table come first; the
  // sixth is the image.
  P.Faults().FailNth("AllocatePool", 6, EFI_OUT_OF_RESOURCES);
  sim::InstallInventoryTrigger(P);
  ExpectCleanAfterInventory();

  EXPECT_TRUE(Images().empty());
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(AssertionCount(), 1u);
}

}  // namespace
}  // namespace roster_test
