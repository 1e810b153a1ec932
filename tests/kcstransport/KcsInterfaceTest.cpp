// The KCS state machine against a simulated BMC: the bytes each side sees, completion
// codes, malformed answers, the error exit, and the time every failure costs.
#include "KcsFixture.h"

namespace kcs_test {
namespace {

using sim::KcsDevice;

class KcsInterfaceTest : public KcsTest {};

std::vector<UINT8> Message(UINT16 Header, const std::vector<UINT8> &Data) {
  std::vector<UINT8> Bytes = {(UINT8)Header, (UINT8)(Header >> 8)};
  Bytes.insert(Bytes.end(), Data.begin(), Data.end());
  return Bytes;
}

TEST_F(KcsInterfaceTest, RequestReachesTheBmcWholeAndTheAnswerComesBack) {
  Device().Answer([](const std::vector<UINT8> &Request) { return KcsDevice::Reply(Request, 0x00, {0xAA, 0xBB}); });
  StartTransport();
  const auto Sata = Pattern(65, 7);
  auto R = Send(kSataInfoHeader, Sata);
  EXPECT_EQ(R.Status, EFI_SUCCESS);
  EXPECT_EQ(R.Response, (std::vector<UINT8>{0x00, 0xAA, 0xBB}));
  ASSERT_EQ(Device_->Requests().size(), 1u);
  EXPECT_EQ(Device_->Requests()[0], Message(kSataInfoHeader, Sata));
  EXPECT_EQ(Device_->HostWrites(), 1u + 67u + 1u + 5u) << "WRITE_START, 67 bytes, WRITE_END, a READ per response byte";
  EXPECT_TRUE(Device_->Violations().empty()) << Device_->Violations().front();
  EXPECT_TRUE(Device_->Idle());
  EXPECT_EQ(R.Microseconds, 0u) << "a BMC that keeps up costs no stall";

  // The shortest and the longest request one message carries.
  EXPECT_EQ(Send(kSataInfoHeader, {}).Status, EFI_SUCCESS);
  EXPECT_EQ(Device_->Requests().back(), Message(kSataInfoHeader, {}));
  const auto Longest = Pattern(253, 3);
  EXPECT_EQ(Send(kSataInfoHeader, Longest).Status, EFI_SUCCESS);
  EXPECT_EQ(Device_->Requests().back(), Message(kSataInfoHeader, Longest));
  EXPECT_EQ(Send(kSataInfoHeader, Pattern(254)).Status, EFI_BAD_BUFFER_SIZE) << "no KCS message holds it";
  EXPECT_EQ(Device_->Requests().size(), 3u);
}

TEST_F(KcsInterfaceTest, CompletionCodeIsTheStatusAndComesWithTheData) {
  UINT8 Code = 0;
  Device().Answer([&](const std::vector<UINT8> &Request) { return KcsDevice::Reply(Request, Code, {0x42}); });
  StartTransport();
  const std::pair<UINT8, EFI_STATUS> Table[] = {
      {0x00, EFI_SUCCESS},          {0xC0, EFI_NOT_READY},       {0xC1, EFI_UNSUPPORTED},     {0xC3, EFI_TIMEOUT},
      {0xC4, EFI_OUT_OF_RESOURCES}, {0xC7, EFI_BAD_BUFFER_SIZE}, {0xC8, EFI_BAD_BUFFER_SIZE},
      {0xCA, EFI_BAD_BUFFER_SIZE},  {0xCC, EFI_DEVICE_ERROR},    {0xFF, EFI_DEVICE_ERROR}};
  for (const auto &[Cc, Status] : Table) {
    Code = Cc;
    auto R = Send(kSataInfoHeader, {1, 2, 3});
    EXPECT_EQ(R.Status, Status) << std::hex << (int)Cc;
    EXPECT_EQ(R.Response, (std::vector<UINT8>{Cc, 0x42}));
  }
}

TEST_F(KcsInterfaceTest, ResponseIsCutToTheLengthOffered) {
  Device().Answer([](const std::vector<UINT8> &Request) { return KcsDevice::Reply(Request, 0x00, Pattern(250)); });
  StartTransport();
  auto One = Send(kSataInfoHeader, {9}, 1);
  EXPECT_EQ(One.Status, EFI_SUCCESS);
  EXPECT_EQ(One.Response, std::vector<UINT8>{0x00});
  auto None = Send(kSataInfoHeader, {9}, 0);
  EXPECT_EQ(None.Status, EFI_SUCCESS);
  EXPECT_TRUE(None.Response.empty());
  auto Many = Send(kSataInfoHeader, {9}, 255);
  ASSERT_EQ(Many.Response.size(), 251u);
  EXPECT_EQ(std::vector<UINT8>(Many.Response.begin() + 1, Many.Response.end()), Pattern(250));
  EXPECT_TRUE(Device_->Idle()) << "the rest of a long answer is still read to the end";
}

TEST_F(KcsInterfaceTest, AnswerToAnotherRequestOrWithoutCompletionCodeIsNoAnswer) {
  std::vector<UINT8> Answer;
  Device().Answer([&](const std::vector<UINT8> &) { return Answer; });
  StartTransport();
  const std::vector<std::vector<UINT8>> Wrong = {
      {0xE8, 0xA7, 0x00},  // the request's own network function, not the response's
      {0xEC, 0xA6, 0x00},  // another command
      {0xED, 0xA7, 0x00},  // another LUN
      {0xEC, 0xA7},  // no completion code
      {0xEC},
  };
  for (const auto &Bytes : Wrong) {
    Answer = Bytes;
    auto R = Send(kSataInfoHeader, {1});
    EXPECT_EQ(R.Status, EFI_DEVICE_ERROR) << testing::PrintToString(Bytes);
    EXPECT_TRUE(R.Response.empty());
  }
  Answer = {0xEC, 0xA7, 0x00, 0x01};
  EXPECT_EQ(Send(kSataInfoHeader, {1}).Status, EFI_SUCCESS);
  EXPECT_TRUE(Device_->Violations().empty());
}

TEST_F(KcsInterfaceTest, OverlongAnswerFailsAndTheInterfaceIsBroughtBackToIdle) {
  bool Flood = true;
  Device().Answer([&](const std::vector<UINT8> &Request) {
    return KcsDevice::Reply(Request, 0x00, Flood ? Pattern(5000) : std::vector<UINT8>{});
  });
  StartTransport();
  auto R = Send(kSataInfoHeader, {1});
  EXPECT_EQ(R.Status, EFI_DEVICE_ERROR);
  EXPECT_EQ(Device_->Aborts(), 1u);
  EXPECT_TRUE(Device_->Idle());
  Flood = false;
  EXPECT_EQ(Send(kSataInfoHeader, {1}).Status, EFI_SUCCESS);
  EXPECT_TRUE(Device_->Violations().empty());
}

TEST_F(KcsInterfaceTest, ByteLeftInTheOutputRegisterIsNotTakenForTheAnswer) {
  Device().LeaveByteInOutput(0x5A);
  Device().Answer([](const std::vector<UINT8> &Request) { return KcsDevice::Reply(Request, 0xC0); });
  StartTransport();
  auto R = Send(kSataInfoHeader, {1});
  EXPECT_EQ(R.Status, EFI_NOT_READY);
  EXPECT_EQ(R.Response, std::vector<UINT8>{0xC0});
  EXPECT_TRUE(Device_->Violations().empty());
}

TEST_F(KcsInterfaceTest, SlowBmcIsWaitedForInBothReadingsOfTheReadPhase) {
  for (bool Hold : {true, false}) {
    SCOPED_TRACE(Hold ? "input held while processing" : "read state at once");
    Device().HoldInputWhileProcessing = Hold;
    Device().ByteDelay = 40;
    Device().ResponseDelay = 600000;
    if (Transport == nullptr) {
      StartTransport();
    }
    auto R = Send(kSataInfoHeader, Pattern(65));
    EXPECT_EQ(R.Status, EFI_SUCCESS);
    EXPECT_GE(R.Microseconds, 600000u + 40u * 69);
    // Polls double up to about a millisecond: never much later than the BMC.
    EXPECT_LE(R.Microseconds, 600000u + 40u * 69 * 2 + 69u * 2 + 2048u);
    EXPECT_TRUE(Device_->Violations().empty());
  }
}

TEST_F(KcsInterfaceTest, NoDeviceFailsAtOnce) {
  StartTransport();
  for (int Call = 0; Call < 31; Call++) {
    auto R = Send(kSataInfoHeader, Pattern(65));
    EXPECT_EQ(R.Status, EFI_DEVICE_ERROR);
    EXPECT_EQ(R.Microseconds, 0u);
    EXPECT_TRUE(R.Response.empty());
  }
  EXPECT_EQ(SendLarge(kInventoryHeader, Pattern(23063)).Status, EFI_DEVICE_ERROR);
  EXPECT_EQ(P.Microseconds(), 0u);
}

TEST_F(KcsInterfaceTest, ErrorStateMidRequestIsLeftThroughAbortAndTheNextRequestGoesThrough) {
  for (unsigned Write : {1u, 2u, 30u, 67u, 68u, 69u, 71u}) {
    SCOPED_TRACE("error state at host write " + std::to_string(Write));
    Device().ErrorAtWrites = {Device().HostWrites() + Write};
    if (Transport == nullptr) {
      StartTransport();
    }
    const unsigned AbortsBefore = Device_->Aborts();
    const size_t RequestsBefore = Device_->Requests().size();
    auto R = Send(kSataInfoHeader, Pattern(65));
    EXPECT_EQ(R.Status, EFI_DEVICE_ERROR);
    EXPECT_EQ(Device_->Aborts(), AbortsBefore + 1);
    EXPECT_TRUE(Device_->Idle());
    EXPECT_EQ(R.Microseconds, 0u);
    EXPECT_EQ(Send(kSataInfoHeader, Pattern(65)).Status, EFI_SUCCESS);
    // A request the BMC saw whole (the error came in its read phase) is not repeated here.
    EXPECT_LE(Device_->Requests().size(), RequestsBefore + 2);
  }
  EXPECT_TRUE(Device_->Violations().empty()) << Device_->Violations().front();
}

TEST_F(KcsInterfaceTest, ErrorStateNoAbortLeavesCostsABoundedTime) {
  Device().ErrorAtWrites = {3};
  Device().StuckInError = true;
  StartTransport();
  auto R = Send(kSataInfoHeader, Pattern(65));
  EXPECT_EQ(R.Status, EFI_DEVICE_ERROR);
  EXPECT_EQ(Device_->Aborts(), 2u) << "two GET_STATUS/ABORT rounds, then the message is given up";
  // The interface answers (IBF clears), so a later call tries its error exit again and
  // fails the same way without waiting.
  auto Again = Send(kSataInfoHeader, Pattern(65));
  EXPECT_EQ(Again.Status, EFI_DEVICE_ERROR);
  EXPECT_EQ(Device_->Aborts(), 4u);
  EXPECT_EQ(R.Microseconds + Again.Microseconds, 0u);
  EXPECT_TRUE(Device_->Violations().empty());
}

TEST_F(KcsInterfaceTest, InputBufferThatStaysFullCostsOneBudgetThenNothing) {
  Device().StickInputAtWrite = 10;
  StartTransport();
  auto R = Send(kSataInfoHeader, Pattern(65));
  EXPECT_EQ(R.Status, EFI_TIMEOUT);
  EXPECT_GE(R.Microseconds, 1000000u);
  EXPECT_LE(R.Microseconds, 1000000u + 20000u) << "the message's budget and the error exit's";
  const unsigned WritesAfter = Device_->HostWrites();
  for (int Call = 0; Call < 30; Call++) {
    auto Later = Send(kSataInfoHeader, Pattern(65));
    EXPECT_EQ(Later.Status, EFI_TIMEOUT);
    EXPECT_EQ(Later.Microseconds, 0u);
  }
  EXPECT_EQ(Device_->HostWrites(), WritesAfter) << "nothing is written to a full input buffer";
  EXPECT_TRUE(Device_->Violations().empty()) << Device_->Violations().front();
}

TEST_F(KcsInterfaceTest, StandInAnswerOfTimedOutMakesLaterCallsFailFast) {
  // QEMU's link to an external BMC answers "timed out" (0xC3) itself after waiting for a
  // BMC that never replies; paying that wait for every message would stall the boot.
  Device().Answer([](const std::vector<UINT8> &Request) { return KcsDevice::Reply(Request, 0xC3); });
  Device().ResponseDelay = 900000;
  StartTransport();
  auto First = Send(kSataInfoHeader, Pattern(65));
  EXPECT_EQ(First.Status, EFI_TIMEOUT);
  EXPECT_GE(First.Microseconds, 900000u);
  UINT64 Later = 0;
  for (int Call = 0; Call < 42; Call++) {
    auto R = Send(kSataInfoHeader, Pattern(65));
    EXPECT_EQ(R.Status, EFI_TIMEOUT);
    Later += R.Microseconds;
  }
  EXPECT_LE(First.Microseconds + Later, 2000000u) << "a silent BMC costs the boot at most two seconds";
  // A real answer restores the full budget.
  Device_->Answer([](const std::vector<UINT8> &Request) { return KcsDevice::Reply(Request, 0x00); });
  Device_->ResponseDelay = 0;
  P.AdvanceTime(1000000);
  EXPECT_EQ(Send(kSataInfoHeader, {1}).Status, EFI_SUCCESS);
  Device_->ResponseDelay = 200000;
  EXPECT_EQ(Send(kSataInfoHeader, {2}).Status, EFI_SUCCESS) << "past the short budget";
  EXPECT_TRUE(Device_->Violations().empty()) << Device_->Violations().front();
}

TEST_F(KcsInterfaceTest, LateAnswerToAnEarlierRequestIsNeverTakenForTheNext) {
  UINT8 Serial = 0;
  Device().Answer([&](const std::vector<UINT8> &Request) { return KcsDevice::Reply(Request, 0x00, {++Serial}); });
  Device().ResponseDelay = 1500000;
  StartTransport();
  auto First = Send(kSataInfoHeader, {1});
  EXPECT_EQ(First.Status, EFI_TIMEOUT);
  EXPECT_EQ(Send(kSataInfoHeader, {2}).Status, EFI_TIMEOUT) << "still busy with the first";
  P.AdvanceTime(1000000);  // the first answer is now waiting in the output register
  Device_->ResponseDelay = 0;
  auto Third = Send(kSataInfoHeader, {3});
  EXPECT_EQ(Third.Status, EFI_SUCCESS);
  EXPECT_EQ(Third.Response, (std::vector<UINT8>{0x00, 2})) << "the answer to the third request, not the first";
  EXPECT_EQ(Device_->Requests().back(), Message(kSataInfoHeader, {3}));
  // The interface answers again: the full budget is back.
  Device_->ResponseDelay = 200000;
  EXPECT_EQ(Send(kSataInfoHeader, {4}).Status, EFI_SUCCESS);
  EXPECT_TRUE(Device_->Violations().empty()) << Device_->Violations().front();
}

TEST_F(KcsInterfaceTest, CallMadeWhileAnotherIsUnderWayIsRefused) {
  // The BMC's answer is computed inside the first call's port write: a notification that
  // interrupted the transport there would make this nested call.
  EFI_STATUS Nested = EFI_SUCCESS;
  Device().Answer([&](const std::vector<UINT8> &Request) {
    UINT8 Data = 0, Response = 0, Length = 1;
    Nested = Transport->SendCommand(Transport, kSataInfoHeader, &Data, 1, &Response, &Length, nullptr);
    return KcsDevice::Reply(Request, 0x00);
  });
  StartTransport();
  EXPECT_EQ(Send(kSataInfoHeader, {1}).Status, EFI_SUCCESS);
  EXPECT_EQ(Nested, EFI_NOT_READY);
  EXPECT_EQ(Device_->Requests().size(), 1u);
  EXPECT_TRUE(Device_->Violations().empty());
}

TEST_F(KcsInterfaceTest, BadArgumentsTouchNoPort) {
  Device();
  StartTransport();
  UINT8 Data[4] = {1, 2, 3, 4};
  UINT8 Response[4];
  UINT8 Length = sizeof Response;
  MANAGEMENT_TRANSPORT_PROTOCOL Other = *Transport;
  EXPECT_EQ(Transport->SendCommand(nullptr, kSataInfoHeader, Data, 4, Response, &Length, nullptr),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(Transport->SendCommand(&Other, kSataInfoHeader, Data, 4, Response, &Length, nullptr),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(Transport->SendCommand(Transport, kSataInfoHeader, nullptr, 4, Response, &Length, nullptr),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(Transport->SendCommand(Transport, kSataInfoHeader, Data, 4, nullptr, &Length, nullptr),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(Transport->SendCommand(Transport, kSataInfoHeader, Data, 4, Response, nullptr, nullptr),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(Transport->SendCommand(Transport, (UINT16)(0xA700 | (0x3B << 2)), Data, 4, Response, &Length, nullptr),
            EFI_INVALID_PARAMETER)
      << "a response's network function";
  EXPECT_EQ(Transport->SendLargeCommand(Transport, kInventoryHeader, nullptr, 23063, Response, &Length, nullptr),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(Transport->SendLargeCommand(Transport, kInventoryHeader, Data, 0x100000000ull, Response, &Length, nullptr),
            EFI_BAD_BUFFER_SIZE)
      << "beyond the transfer's 32-bit length, refused before a byte is read";
  EXPECT_EQ(Device_->HostWrites(), 0u);
  EXPECT_EQ(Device_->StatusReads(), 0u);
  UINT8 None = 0;
  EXPECT_EQ(Transport->SendCommand(Transport, kSataInfoHeader, Data, 4, nullptr, &None, nullptr), EFI_SUCCESS)
      << "no buffer is needed where no byte is offered";
}

}  // namespace
}  // namespace kcs_test
