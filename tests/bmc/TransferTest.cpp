// The chunked inventory command as the BMC answers it: whole transfers, every rejection with
// its completion code, the resend rule and the session ids. Each test has its own state
// directory, and each rejection is also checked for what it left there: nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>

#include "BmcTestSupport.h"
#include <BmcInventorySummary.h>
#include <DecodeTestImages.h>
#include <InventoryLayout.h>

namespace {

using BmcTest::Bytes;

class TransferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string Error;
    ASSERT_TRUE(Store.Open(State.string(), Error)) << Error;
  }

  Bytes Stored() const { return BmcTest::ReadFile(State / "inventory.bin"); }
  std::vector<std::string> Files() const { return BmcTest::Listing(State); }

  BmcTest::TempDir Dir;
  std::filesystem::path State = Dir.Path() / "state";
  RosterBmc::StateStore Store;
  RosterBmc::InventoryBmc Bmc{RosterBmc::BmcOptions{}, Store, 0x1234};
  BmcTest::Host Host{Bmc};
  Bytes Full = DecodeTest::BuildImage(DecodeTest::FullBoard());
  Bytes Empty = DecodeTest::BuildImage(DecodeTest::ImageParts{});
};

TEST(Crc16, CcittFalseCheckValue) {
  const char *Check = "123456789";
  EXPECT_EQ(RosterBmc::Crc16CcittFalse({reinterpret_cast<const uint8_t *>(Check), 9}), 0x29B1);
  EXPECT_EQ(RosterBmc::Crc16CcittFalse({}), 0xFFFF);
}

TEST_F(TransferTest, SmallestAndLargestImagesAreStoredAsSent) {
  ASSERT_EQ(Full.size(), 23063u);
  ASSERT_EQ(Empty.size(), 67u);
  EXPECT_EQ(Host.Transfer(Empty, 1), IPMI_CC_SUCCESS);  // 67 one-byte chunks
  EXPECT_EQ(Stored(), Empty);
  EXPECT_EQ(Host.Transfer(Full), IPMI_CC_SUCCESS);  // 103 chunks, the last one short
  EXPECT_EQ(Stored(), Full);
  EXPECT_EQ(Files(), std::vector<std::string>{"inventory.bin"});
}

TEST_F(TransferTest, CommitAnswersWithTheCompletionCodeAlone) {
  uint16_t Session = Host.Open(static_cast<uint32_t>(Empty.size()));
  ASSERT_NE(Session, 0);
  ASSERT_EQ(Host.Write(Session, 0, Empty.data(), Empty.size()), IPMI_CC_SUCCESS);
  EXPECT_EQ(Host.Send(BmcTest::CommitStep(Session, crc32::Crc32(Empty.data(), Empty.size()))), Bytes{0x00});
}

TEST_F(TransferTest, ChunkCrcMismatchIsRejectedAndTheChunkMaySimplyBeSentAgain) {
  uint16_t Session = Host.Open(static_cast<uint32_t>(Empty.size()));
  Bytes Bad = BmcTest::WriteStep(Session, 0, Empty.data(), 40);
  Bad[sizeof(LARGE_COMMAND_WRITE_REQUEST) + 5] ^= 0x01;  // one bit flipped after the CRC was taken
  EXPECT_EQ(Host.Send(Bad)[0], IPMI_CC_INVALID_DATA_FIELD);
  EXPECT_EQ(Host.Write(Session, 0, Empty.data(), 40), IPMI_CC_SUCCESS);
  EXPECT_EQ(Host.Write(Session, 40, Empty.data() + 40, Empty.size() - 40), IPMI_CC_SUCCESS);
  EXPECT_EQ(Host.Commit(Session, Empty), IPMI_CC_SUCCESS);
  EXPECT_EQ(Stored(), Empty);
}

TEST_F(TransferTest, TransferCrcMismatchEndsTheSessionAndStoresNothing) {
  uint16_t Session = Host.Open(static_cast<uint32_t>(Empty.size()));
  ASSERT_EQ(Host.Write(Session, 0, Empty.data(), Empty.size()), IPMI_CC_SUCCESS);
  EXPECT_EQ(Host.Send(BmcTest::CommitStep(Session, crc32::Crc32(Empty.data(), Empty.size()) ^ 1))[0],
            IPMI_CC_INVALID_DATA_FIELD);
  EXPECT_EQ(Host.Commit(Session, Empty), IPMI_CC_INVALID_DATA_FIELD);  // the session is gone
  EXPECT_TRUE(Files().empty());
}

// Transfers whose every CRC is right but whose image a receiver must refuse.
TEST_F(TransferTest, ImagesThatFailTheReceiversCheckAreRefusedWhole) {
  ASSERT_EQ(Host.Transfer(Empty), IPMI_CC_SUCCESS);

  Bytes BadCrc = Full;
  BadCrc[OFFSET_OF(INVENTORY_HEADER, Crc32)] ^= 0x80;
  Bytes BadBody = Full;
  BadBody[9000] ^= 0x01;  // inside a record, the CRC left as it was
  Bytes BadSize = Full;
  BadSize[OFFSET_OF(INVENTORY_HEADER, HeaderSize)] += 1;
  Bytes BadSignature = Empty;
  BadSignature[OFFSET_OF(INVENTORY_HEADER, Signature)] = 'X';
  DecodeTest::Seal(BadSignature);
  Bytes BadVersion = Empty;
  BadVersion[OFFSET_OF(INVENTORY_HEADER, HeaderVersion)] = 2;
  DecodeTest::Seal(BadVersion);
  Bytes Short = Bytes(Empty.begin(), Empty.end() - 1);  // no whole header

  for (const Bytes *Image : {&BadCrc, &BadBody, &BadSize, &BadSignature, &BadVersion, &Short}) {
    EXPECT_EQ(Host.Transfer(*Image), IPMI_CC_INVALID_DATA_FIELD) << Image->size() << " bytes";
    EXPECT_EQ(Stored(), Empty);
    EXPECT_EQ(Files(), std::vector<std::string>{"inventory.bin"});
  }
}

TEST_F(TransferTest, OpenRefusesWhatNoInventoryCanBe) {
  EXPECT_EQ(Host.Open(23064), 0);
  EXPECT_EQ(Host.LastCode, IPMI_CC_REQUEST_DATA_TOO_LONG);
  EXPECT_EQ(Host.Open(0xFFFFFFFF), 0);
  EXPECT_EQ(Host.LastCode, IPMI_CC_REQUEST_DATA_TOO_LONG);
  EXPECT_EQ(Host.Open(0), 0);
  EXPECT_EQ(Host.LastCode, IPMI_CC_INVALID_DATA_FIELD);
  EXPECT_EQ(Host.Send(BmcTest::OpenStep(67, SATA_INFO_COMMAND_HEADER))[0], IPMI_CC_INVALID_DATA_FIELD);
  EXPECT_NE(Host.Open(23063), 0);
}

TEST_F(TransferTest, RefusedOpenLeavesTheOpenSessionAlone) {
  uint16_t Session = Host.Open(static_cast<uint32_t>(Empty.size()));
  ASSERT_EQ(Host.Write(Session, 0, Empty.data(), 10), IPMI_CC_SUCCESS);
  EXPECT_EQ(Host.Open(100000), 0);
  EXPECT_EQ(Host.Write(Session, 10, Empty.data() + 10, Empty.size() - 10), IPMI_CC_SUCCESS);
  EXPECT_EQ(Host.Commit(Session, Empty), IPMI_CC_SUCCESS);
}

TEST_F(TransferTest, ForeignAndStaleSessionsAreRefused) {
  uint16_t Old = Host.Open(static_cast<uint32_t>(Empty.size()));
  ASSERT_EQ(Host.Write(Old, 0, Empty.data(), 10), IPMI_CC_SUCCESS);
  uint16_t Current = Host.Open(static_cast<uint32_t>(Empty.size()));  // discards the first session
  ASSERT_NE(Current, Old);
  EXPECT_EQ(Host.Write(Old, 0, Empty.data(), 10), IPMI_CC_INVALID_DATA_FIELD);
  EXPECT_EQ(Host.Write(static_cast<uint16_t>(Current + 1), 0, Empty.data(), 10), IPMI_CC_INVALID_DATA_FIELD);
  EXPECT_EQ(Host.Send(BmcTest::AbortStep(Old))[0], IPMI_CC_INVALID_DATA_FIELD);
  // A COMMIT naming another session is not the end of this one.
  EXPECT_EQ(Host.Commit(Old, Empty), IPMI_CC_INVALID_DATA_FIELD);
  ASSERT_EQ(Host.Write(Current, 0, Empty.data(), Empty.size()), IPMI_CC_SUCCESS);
  EXPECT_EQ(Host.Commit(Current, Empty), IPMI_CC_SUCCESS);
  // And once committed, the session is closed to every step.
  EXPECT_EQ(Host.Write(Current, 0, Empty.data(), 1), IPMI_CC_INVALID_DATA_FIELD);
  EXPECT_EQ(Host.Send(BmcTest::AbortStep(Current))[0], IPMI_CC_INVALID_DATA_FIELD);
}

TEST_F(TransferTest, WritesOutOfOrderOrPastTheEndAreRefused) {
  uint16_t Session = Host.Open(static_cast<uint32_t>(Empty.size()));
  EXPECT_EQ(Host.Write(Session, 1, Empty.data() + 1, 10), IPMI_CC_INVALID_DATA_FIELD);  // a gap
  ASSERT_EQ(Host.Write(Session, 0, Empty.data(), 20), IPMI_CC_SUCCESS);
  ASSERT_EQ(Host.Write(Session, 20, Empty.data() + 20, 20), IPMI_CC_SUCCESS);
  EXPECT_EQ(Host.Write(Session, 0, Empty.data(), 20), IPMI_CC_INVALID_DATA_FIELD);  // not the last write
  EXPECT_EQ(Host.Write(Session, 30, Empty.data() + 30, 20), IPMI_CC_INVALID_DATA_FIELD);  // overlaps
  Bytes Past(Empty.begin() + 40, Empty.end());
  Past.push_back(0);
  EXPECT_EQ(Host.Write(Session, 40, Past.data(), Past.size()), IPMI_CC_INVALID_DATA_FIELD);
  EXPECT_EQ(Host.Write(Session, 0xFFFFFFF0, Empty.data(), 20), IPMI_CC_INVALID_DATA_FIELD);
  // None of it changed what was received: the rest completes the image.
  EXPECT_EQ(Host.Write(Session, 40, Empty.data() + 40, Empty.size() - 40), IPMI_CC_SUCCESS);
  EXPECT_EQ(Host.Commit(Session, Empty), IPMI_CC_SUCCESS);
  EXPECT_EQ(Stored(), Empty);
}

TEST_F(TransferTest, CommitBeforeTheLastByteFailsAndEndsTheSession) {
  uint16_t Session = Host.Open(static_cast<uint32_t>(Empty.size()));
  ASSERT_EQ(Host.Write(Session, 0, Empty.data(), Empty.size() - 1), IPMI_CC_SUCCESS);
  Bytes Partial(Empty.begin(), Empty.end() - 1);
  EXPECT_EQ(Host.Commit(Session, Partial), IPMI_CC_INVALID_DATA_FIELD);
  EXPECT_EQ(Host.Write(Session, 66, Empty.data() + 66, 1), IPMI_CC_INVALID_DATA_FIELD);
  EXPECT_TRUE(Files().empty());
}

TEST_F(TransferTest, AbortEndsTheSession) {
  uint16_t Session = Host.Open(static_cast<uint32_t>(Empty.size()));
  ASSERT_EQ(Host.Write(Session, 0, Empty.data(), Empty.size()), IPMI_CC_SUCCESS);
  EXPECT_EQ(Host.Send(BmcTest::AbortStep(Session)), Bytes{0x00});
  EXPECT_EQ(Host.Commit(Session, Empty), IPMI_CC_INVALID_DATA_FIELD);
  EXPECT_TRUE(Files().empty());
}

TEST_F(TransferTest, TruncatedOverlongAndUnknownStepsAreMalformed) {
  uint16_t Session = Host.Open(static_cast<uint32_t>(Full.size()));
  ASSERT_NE(Session, 0);
  Bytes Steps[] = {BmcTest::OpenStep(67, INVENTORY_COMMAND_HEADER), BmcTest::WriteStep(Session, 0, Full.data(), 1),
                   BmcTest::CommitStep(Session, 0), BmcTest::AbortStep(Session)};
  for (const Bytes &Step : Steps) {
    for (size_t Length = 0; Length < Step.size(); ++Length) {
      EXPECT_EQ(Host.Send(Bytes(Step.begin(), Step.begin() + Length))[0], IPMI_CC_INVALID_DATA_FIELD)
          << "step " << int(Step[0]) << " cut to " << Length;
    }
  }
  // One byte too many on a fixed-size step, a chunk beyond the largest, an unknown step.
  for (const Bytes &Step : {Steps[0], Steps[2], Steps[3]}) {
    Bytes Longer = Step;
    Longer.push_back(0);
    EXPECT_EQ(Host.Send(Longer)[0], IPMI_CC_INVALID_DATA_FIELD) << "step " << int(Step[0]);
  }
  EXPECT_EQ(Host.Write(Session, 0, Full.data(), LARGE_COMMAND_MAX_CHUNK + 1), IPMI_CC_INVALID_DATA_FIELD);
  EXPECT_EQ(Host.Send(Bytes{0x05, 0, 0, 0})[0], IPMI_CC_INVALID_DATA_FIELD);
  EXPECT_EQ(Host.Send(Bytes{0x00})[0], IPMI_CC_INVALID_DATA_FIELD);
  // The session survived all of it, nothing having been written.
  EXPECT_EQ(Host.Write(Session, 0, Full.data(), LARGE_COMMAND_MAX_CHUNK), IPMI_CC_SUCCESS);
  EXPECT_TRUE(Files().empty());
}

TEST_F(TransferTest, TheLastWriteMayBeResentButNothingElse) {
  uint16_t Session = Host.Open(static_cast<uint32_t>(Empty.size()));
  ASSERT_EQ(Host.Write(Session, 0, Empty.data(), 30), IPMI_CC_SUCCESS);
  EXPECT_EQ(Host.Write(Session, 0, Empty.data(), 30), IPMI_CC_SUCCESS);  // the answer was lost
  ASSERT_EQ(Host.Write(Session, 30, Empty.data() + 30, 30), IPMI_CC_SUCCESS);
  Bytes Other(Empty.begin() + 30, Empty.begin() + 60);
  Other[3] ^= 0xFF;
  EXPECT_EQ(Host.Write(Session, 30, Other.data(), Other.size()), IPMI_CC_INVALID_DATA_FIELD);  // other bytes
  EXPECT_EQ(Host.Write(Session, 30, Empty.data() + 30, 29), IPMI_CC_INVALID_DATA_FIELD);  // shorter
  EXPECT_EQ(Host.Write(Session, 30, Empty.data() + 30, 30), IPMI_CC_SUCCESS);
  ASSERT_EQ(Host.Write(Session, 60, Empty.data() + 60, 7), IPMI_CC_SUCCESS);
  EXPECT_EQ(Host.Write(Session, 60, Empty.data() + 60, 7), IPMI_CC_SUCCESS);  // the final one too
  EXPECT_EQ(Host.Commit(Session, Empty), IPMI_CC_SUCCESS);
  EXPECT_EQ(Stored(), Empty);
}

TEST_F(TransferTest, SessionIdsAreNeverZeroAndNeverRepeatedInARow) {
  RosterBmc::LargeCommandReceiver Receiver(INVENTORY_COMMAND_HEADER, 100, 0xFFFE,
                                           [](RosterBmc::ByteView, Bytes &) { return uint8_t{0}; });
  std::vector<uint16_t> Ids;
  for (int Index = 0; Index < 4; ++Index) {
    Bytes Response = Receiver.Handle(BmcTest::OpenStep(10, INVENTORY_COMMAND_HEADER));
    ASSERT_EQ(Response.size(), 3u);
    Ids.push_back(static_cast<uint16_t>(Response[1] | Response[2] << 8));
  }
  EXPECT_EQ(Ids, (std::vector<uint16_t>{0xFFFE, 0xFFFF, 1, 2}));
}

TEST_F(TransferTest, TheSummaryDescribesTheStoredImage) {
  auto Summary = [&] {
    Bytes Response = Bmc.Handle(BMC_SUMMARY_NETFN, BMC_SUMMARY_COMMAND, {});
    BMC_INVENTORY_SUMMARY_RESPONSE Parsed{};
    EXPECT_EQ(Response.size(), sizeof(Parsed));
    std::memcpy(&Parsed, Response.data(), std::min(Response.size(), sizeof(Parsed)));
    return Parsed;
  };
  EXPECT_EQ(Summary().StoredFlags, 0);
  ASSERT_EQ(Host.Transfer(Full), IPMI_CC_SUCCESS);
  ASSERT_EQ(Host.Sata(DecodeTest::SataMessage(0, 0, 1, "DISK", "SN1", 960)), IPMI_CC_SUCCESS);
  auto Stored = Summary();
  EXPECT_EQ(Stored.CompletionCode, 0);
  EXPECT_EQ(Stored.StoredFlags, BMC_SUMMARY_INVENTORY_STORED | BMC_SUMMARY_SIGNATURE_OK | BMC_SUMMARY_SIZE_AGREES |
                                    BMC_SUMMARY_CRC_OK | BMC_SUMMARY_RECORDS_FRAMED);
  EXPECT_EQ(uint32_t{Stored.TotalSize}, 23063u);
  EXPECT_EQ(uint32_t{Stored.HeaderSize}, 23060u);
  EXPECT_EQ(uint32_t{Stored.StoredCrc32}, uint32_t{Stored.ComputedCrc32});
  EXPECT_EQ(Stored.RecordCount, 38);
  EXPECT_EQ(Stored.CpuRecords, 2);
  EXPECT_EQ(Stored.DimmRecords, 12);
  EXPECT_EQ(Stored.PciRecords, 24);
  EXPECT_EQ(Stored.SataMessages, 1);

  // What the file says now, not what arrived: a stored image damaged on disk shows as such.
  Bytes Damaged = Full;
  Damaged[100] ^= 1;
  std::ofstream(State / "inventory.bin", std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char *>(Damaged.data()), static_cast<std::streamsize>(Damaged.size()));
  EXPECT_EQ(Summary().StoredFlags & BMC_SUMMARY_CRC_OK, 0);
  EXPECT_NE(Summary().StoredFlags & BMC_SUMMARY_SIZE_AGREES, 0);

  EXPECT_EQ(Bmc.Handle(BMC_SUMMARY_NETFN, BMC_SUMMARY_COMMAND, Bytes{1}), Bytes{IPMI_CC_REQUEST_DATA_LENGTH_INVALID});
}

}  // namespace
