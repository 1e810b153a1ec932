// Large commands end to end: the chunked transfer reassembled by a reference BMC that
// checks every chunk's CRC-16 and offset and the commit's CRC-32, the plain path for what
// fits one message, and every step failing in turn.
#include "KcsFixture.h"

namespace kcs_test {
namespace {

using sim::KcsDevice;

// Host writes of one message of Length bytes (network function and command included):
// WRITE_START, the bytes, WRITE_END; then a READ for each of Answer response bytes.
constexpr unsigned Writes(unsigned Length, unsigned Answer = 3) { return Length + 2 + Answer; }
constexpr unsigned kOpenWrites = Writes(2 + 8, 5);
constexpr unsigned kFullWriteWrites = Writes(2 + 10 + LARGE_COMMAND_MAX_CHUNK);

class LargeCommandTest : public KcsTest {
 protected:
  LargeCommandBmc Bmc{kInventoryHeader};
  void SetUp() override {
    Device().Answer([this](const std::vector<UINT8> &Request) { return Bmc(Request); });
    StartTransport();
  }
  // An image as the inventory starts one: three reserved zero bytes, then the rest.
  static std::vector<UINT8> Image(size_t Length) {
    auto Bytes = Pattern(Length, (UINT32)Length);
    for (size_t Index = 0; Index < 3 && Index < Length; Index++) {
      Bytes[Index] = 0;
    }
    return Bytes;
  }
};

TEST_F(LargeCommandTest, InventorySizedImageIsReassembledByteForByte) {
  const auto Sent = Image(23063);
  Bmc.CommitData = {0x11, 0x22};
  auto R = SendLarge(kInventoryHeader, Sent, 1);
  EXPECT_EQ(R.Status, EFI_SUCCESS);
  EXPECT_EQ(R.Response, std::vector<UINT8>{0x00}) << "the commit's answer, cut to the one byte offered";
  EXPECT_TRUE(Bmc.Breaches.empty()) << Bmc.Breaches.front();
  ASSERT_EQ(Bmc.Commands.size(), 1u);
  EXPECT_TRUE(Bmc.Commands[0] == Sent);
  EXPECT_EQ(Bmc.Opens, 1u);
  EXPECT_EQ(Bmc.Commits, 1u);
  EXPECT_EQ(Bmc.Aborts, 0u);
  ASSERT_EQ(Bmc.WriteOffsets.size(), 103u) << "102 full chunks and one of 215 bytes";
  for (size_t Index = 0; Index < Bmc.WriteOffsets.size(); Index++) {
    EXPECT_EQ(Bmc.WriteOffsets[Index], Index * LARGE_COMMAND_MAX_CHUNK);
    EXPECT_EQ(Bmc.WriteLengths[Index], Index < 102 ? LARGE_COMMAND_MAX_CHUNK : 215u);
  }
  EXPECT_TRUE(Device_->Violations().empty());
  EXPECT_EQ(R.Microseconds, 0u);

  auto Whole = SendLarge(kInventoryHeader, Sent, 16);
  EXPECT_EQ(Whole.Response, (std::vector<UINT8>{0x00, 0x11, 0x22}));
  EXPECT_EQ(Bmc.Commands.size(), 2u);
}

TEST_F(LargeCommandTest, LengthsAroundTheChunkAndMessageBoundariesArriveWhole) {
  for (size_t Length : {254u, 255u, 447u, 448u, 449u, 672u, 1000u, 4096u}) {
    const auto Sent = Image(Length);
    EXPECT_EQ(SendLarge(kInventoryHeader, Sent).Status, EFI_SUCCESS) << Length;
    ASSERT_FALSE(Bmc.Commands.empty());
    EXPECT_TRUE(Bmc.Commands.back() == Sent) << Length;
  }
  EXPECT_EQ(Bmc.Plain, 0u);
  EXPECT_TRUE(Bmc.Breaches.empty()) << Bmc.Breaches.front();
}

TEST_F(LargeCommandTest, WhatFitsOneMessageGoesPlainUnlessItLooksLikeAStep) {
  for (size_t Length : {0u, 1u, 67u, 253u}) {
    const auto Sent = Image(Length);
    EXPECT_EQ(SendLarge(kInventoryHeader, Sent).Status, EFI_SUCCESS);
    EXPECT_EQ(Bmc.Commands.back(), Sent);
  }
  EXPECT_EQ(Bmc.Plain, 4u);
  EXPECT_EQ(Bmc.Opens, 0u);
  for (UINT8 First :
       {LARGE_COMMAND_STEP_OPEN, LARGE_COMMAND_STEP_WRITE, LARGE_COMMAND_STEP_COMMIT, LARGE_COMMAND_STEP_ABORT}) {
    auto Sent = Image(67);
    Sent[0] = First;
    EXPECT_EQ(SendLarge(kInventoryHeader, Sent).Status, EFI_SUCCESS);
    EXPECT_EQ(Bmc.Commands.back(), Sent) << "first byte " << (int)First;
  }
  EXPECT_EQ(Bmc.Plain, 4u);
  EXPECT_EQ(Bmc.Opens, 4u);
  EXPECT_TRUE(Bmc.Breaches.empty()) << Bmc.Breaches.front();
}

TEST_F(LargeCommandTest, FailingStepGivesItsStatusAndEndsTheSession) {
  struct Case {
    UINT8 Step;
    unsigned Index;
    UINT8 Code;
    EFI_STATUS Status;
    unsigned Aborts;  // a session left open by the failure is aborted
  };
  const Case Cases[] = {
      {LARGE_COMMAND_STEP_OPEN, 0, 0xC0, EFI_NOT_READY, 0},
      {LARGE_COMMAND_STEP_OPEN, 0, 0xC4, EFI_OUT_OF_RESOURCES, 0},
      {LARGE_COMMAND_STEP_WRITE, 0, 0xCC, EFI_DEVICE_ERROR, 1},
      {LARGE_COMMAND_STEP_WRITE, 50, 0xC4, EFI_OUT_OF_RESOURCES, 1},
      {LARGE_COMMAND_STEP_WRITE, 102, 0xC8, EFI_BAD_BUFFER_SIZE, 1},
      {LARGE_COMMAND_STEP_COMMIT, 0, 0xCC, EFI_DEVICE_ERROR, 0},
      {LARGE_COMMAND_STEP_COMMIT, 0, 0xC1, EFI_UNSUPPORTED, 0},
  };
  const auto Sent = Image(23063);
  for (const Case &Each : Cases) {
    SCOPED_TRACE("step " + std::to_string(Each.Step) + " #" + std::to_string(Each.Index));
    LargeCommandBmc Fresh{kInventoryHeader};
    Bmc = Fresh;
    Bmc.Override = [&](UINT8 Step, unsigned Index) -> std::optional<UINT8> {
      if (Step == Each.Step && Index == Each.Index) {
        return Each.Code;
      }
      return std::nullopt;
    };
    auto R = SendLarge(kInventoryHeader, Sent, 4);
    EXPECT_EQ(R.Status, Each.Status);
    EXPECT_EQ(R.Response, std::vector<UINT8>{Each.Code}) << "the failing step's completion code";
    EXPECT_TRUE(Bmc.Commands.empty());
    EXPECT_EQ(Bmc.Aborts, Each.Aborts);
    EXPECT_FALSE(Bmc.SessionOpen());
    EXPECT_EQ(Bmc.Commits, Each.Step == LARGE_COMMAND_STEP_COMMIT ? 1u : 0u) << "nothing after the failed step";
    if (Each.Step == LARGE_COMMAND_STEP_WRITE) {
      EXPECT_EQ(Bmc.WriteOffsets.size(), Each.Index + 1);
    }
  }
  EXPECT_TRUE(Device_->Violations().empty());
}

TEST_F(LargeCommandTest, OpenWithoutAUsableSessionIdWritesNothing) {
  for (const auto &Answer : {std::vector<UINT8>{}, std::vector<UINT8>{0x34}, std::vector<UINT8>{0x00, 0x00}}) {
    Bmc.OpenAnswer = Answer;
    auto R = SendLarge(kInventoryHeader, Image(1000));
    EXPECT_EQ(R.Status, EFI_DEVICE_ERROR) << testing::PrintToString(Answer);
    EXPECT_TRUE(R.Response.empty());
  }
  EXPECT_TRUE(Bmc.WriteOffsets.empty());
  EXPECT_EQ(Bmc.Commits, 0u);
}

TEST_F(LargeCommandTest, ChunkLostToAnErrorStateIsSentOnceMore) {
  const auto Sent = Image(2000);  // 9 chunks
  // In the third WRITE's request, so the BMC never saw that chunk.
  Device_->ErrorAtWrites = {kOpenWrites + 2 * kFullWriteWrites + 100};
  EXPECT_EQ(SendLarge(kInventoryHeader, Sent).Status, EFI_SUCCESS);
  ASSERT_EQ(Bmc.Commands.size(), 1u);
  EXPECT_TRUE(Bmc.Commands[0] == Sent);
  EXPECT_EQ(Device_->Aborts(), 1u);
  EXPECT_EQ(Bmc.WriteOffsets.size(), 9u);

  // In the read phase of the third WRITE: the BMC took the chunk and its answer was lost,
  // so it receives a repeat, which changes nothing.
  Device_->ErrorAtWrites = {Device_->HostWrites() + kOpenWrites + 2 * kFullWriteWrites + Writes(236, 1) + 1};
  EXPECT_EQ(SendLarge(kInventoryHeader, Sent).Status, EFI_SUCCESS);
  ASSERT_EQ(Bmc.Commands.size(), 2u);
  EXPECT_TRUE(Bmc.Commands[1] == Sent);
  EXPECT_EQ(Bmc.WriteOffsets.size(), 9u + 10u);
  EXPECT_EQ(Bmc.WriteOffsets[9 + 3], Bmc.WriteOffsets[9 + 2]) << "the repeat";
  EXPECT_TRUE(Bmc.Breaches.empty()) << Bmc.Breaches.front();

  // The resent chunk meets an error state too: the transfer gives up and aborts.
  const unsigned First = Device_->HostWrites() + kOpenWrites + 2 * kFullWriteWrites + 100;
  const unsigned ErrorExitWrites = 3;  // GET_STATUS/ABORT, 0x00, READ
  Device_->ErrorAtWrites = {First, First + ErrorExitWrites + 100};
  auto R = SendLarge(kInventoryHeader, Sent);
  EXPECT_EQ(R.Status, EFI_DEVICE_ERROR);
  EXPECT_EQ(Bmc.Commands.size(), 2u);
  EXPECT_EQ(Bmc.Aborts, 1u);
  EXPECT_FALSE(Bmc.SessionOpen());
  EXPECT_TRUE(Device_->Violations().empty());
}

TEST_F(LargeCommandTest, BmcThatStopsMidTransferCostsOneBudget) {
  const auto Sent = Image(23063);
  Device_->StickInputAtWrite = kOpenWrites + 10 * kFullWriteWrites + 7;
  auto R = SendLarge(kInventoryHeader, Sent);
  EXPECT_EQ(R.Status, EFI_TIMEOUT);
  EXPECT_LE(R.Microseconds, 1000000u + 20000u) << "the message's budget and one error exit; the abort fails at once";
  EXPECT_EQ(Bmc.WriteOffsets.size(), 10u);
  EXPECT_EQ(Bmc.Commits, 0u);
  EXPECT_TRUE(Device_->Violations().empty());
}

TEST_F(LargeCommandTest, LateButTimelyAnswersCarryTheWholeTransfer) {
  Device_->ResponseDelay = 900000;  // each message answered just inside the budget
  const auto Sent = Image(3000);
  auto R = SendLarge(kInventoryHeader, Sent);
  EXPECT_EQ(R.Status, EFI_SUCCESS);
  ASSERT_EQ(Bmc.Commands.size(), 1u);
  EXPECT_TRUE(Bmc.Commands[0] == Sent);
  EXPECT_GE(R.Microseconds, 16u * 900000u) << "OPEN, 14 WRITEs and COMMIT each waited for";
}

}  // namespace
}  // namespace kcs_test
