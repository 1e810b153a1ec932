// The boot-service status-code instance: pool at TPL_NOTIFY and below, a 512-byte local
// buffer above it or when pool runs out, and the one "too large" message.
#include "StatusCodeCases.h"

namespace supporttest {
namespace {

constexpr const char *kTooLarge = "Status code extended data is too large to be reported!\n";

class DxeStatusCodeTest : public StatusCodeTest {
 protected:
  void SetUp() override {
    StatusCodeTest::SetUp();
    ASSERT_EQ(StartWithEverything(), EFI_SUCCESS);
    Platform.ClearStatusCodes();
    Transcript->Clear();
  }
};

TEST_F(DxeStatusCodeTest, ReportCarriesHeaderDataAndTheImagesCallerId) {
  EXPECT_EQ(Report(33), EFI_SUCCESS);
  ASSERT_EQ(Platform.StatusCodes().size(), 1u);
  EXPECT_EQ(Last().Type, kProgressCode);
  EXPECT_EQ(Last().Value, kSomeValue);
  EXPECT_EQ(Last().Instance, 5u);
  EXPECT_EQ(Last().Data, ExpectedRecord(33));
  ASSERT_TRUE(Last().CallerId);
  EXPECT_TRUE(GuidEquals(*Last().CallerId, kProbeCallerId));

  // A caller's own identity is passed on unchanged.
  EXPECT_EQ(Report(1, kProgressCode, &kDataType), EFI_SUCCESS);
  EXPECT_TRUE(GuidEquals(*Last().CallerId, kDataType));
}

TEST_F(DxeStatusCodeTest, NoDataTypeMeansSpecificDataAndNoDataMeansHeaderOnly) {
  UINT8 Byte = 0x5A;
  EXPECT_EQ(Probe->ReportStatusCodeEx(kProgressCode, kSomeValue, 0, nullptr, nullptr, &Byte, 1), EFI_SUCCESS);
  EFI_GUID Type;
  std::memcpy(&Type, Last().Data.data() + 4, sizeof Type);
  EXPECT_TRUE(GuidEquals(Type, gEfiStatusCodeSpecificDataGuid));

  EXPECT_EQ(Probe->ReportStatusCodeEx(kProgressCode, kSomeValue, 0, nullptr, &kDataType, nullptr, 0), EFI_SUCCESS);
  EXPECT_EQ(Last().Data, ExpectedRecord(0));
}

TEST_F(DxeStatusCodeTest, DataAndSizeThatDisagreeAreRefused) {
  UINT8 Byte = 0;
  EXPECT_EQ(Probe->ReportStatusCodeEx(kProgressCode, kSomeValue, 0, nullptr, nullptr, nullptr, 4),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(Probe->ReportStatusCodeEx(kProgressCode, kSomeValue, 0, nullptr, nullptr, &Byte, 0), EFI_INVALID_PARAMETER);
  auto Failed = Asserts();
  ASSERT_EQ(Failed.size(), 2u);
  EXPECT_EQ(Failed[0].Description, "!((ExtendedData == ((void *) 0)) && (ExtendedDataSize != 0))");
  EXPECT_EQ(Failed[1].Description, "!((ExtendedData != ((void *) 0)) && (ExtendedDataSize == 0))");
}

// The protocol services are out of reach above TPL_NOTIFY: until a report at a lower level
// has found the protocol, one made up there is lost without a lookup.
TEST_F(DxeStatusCodeTest, AboveNotifyNoLookupIsMadeAndAReportLaterFindsTheProtocol) {
  const unsigned Lookups = Platform.Faults().Count("LocateProtocol");
  EXPECT_EQ(ReportAt(TPL_HIGH_LEVEL, 8), EFI_UNSUPPORTED);
  EXPECT_EQ(Platform.Faults().Count("LocateProtocol"), Lookups);
  EXPECT_TRUE(Platform.StatusCodes().empty());

  EXPECT_EQ(ReportAt(TPL_NOTIFY, 8), EFI_SUCCESS);
  EXPECT_EQ(Platform.Faults().Count("LocateProtocol"), Lookups + 1);
  EXPECT_EQ(ReportAt(TPL_HIGH_LEVEL, 8), EFI_SUCCESS) << "found once, the protocol serves every level";
  EXPECT_EQ(Platform.StatusCodes().size(), 2u);
}

TEST_F(DxeStatusCodeTest, AboveNotifyTheLocalBufferTakes492BytesAnd493IsTooLarge) {
  ASSERT_EQ(Report(1), EFI_SUCCESS);  // finds the protocol, which only a lower level may look up
  unsigned Allocations = Platform.Faults().Count("AllocatePool");
  EXPECT_EQ(ReportAt(TPL_HIGH_LEVEL, 492), EFI_SUCCESS);
  EXPECT_EQ(Last().Data, ExpectedRecord(492));
  EXPECT_EQ(Platform.Faults().Count("AllocatePool"), Allocations) << "no pool above TPL_NOTIFY";

  size_t Reports = Platform.StatusCodes().size();
  EXPECT_EQ(ReportAt(TPL_HIGH_LEVEL, 493), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Transcript->Text(), kTooLarge);
  ASSERT_EQ(Platform.StatusCodes().size(), Reports + 1) << "only the message itself";
  auto Message = debug_render::DecodeDebugMessage(Last());
  ASSERT_TRUE(Message);
  EXPECT_EQ(Message->ErrorLevel, DEBUG_ERROR);
}

TEST_F(DxeStatusCodeTest, AtNotifyAndBelowPoolCarriesLargeData) {
  EXPECT_EQ(ReportAt(TPL_NOTIFY, 2000), EFI_SUCCESS);
  EXPECT_EQ(Last().Data, ExpectedRecord(2000));
  EXPECT_EQ(Platform.LiveAllocations(), 0u) << "the pool buffer is freed";
}

TEST_F(DxeStatusCodeTest, PoolShortageFallsBackToTheLocalBuffer) {
  Platform.Faults().FailAlways("AllocatePool", EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Report(492), EFI_SUCCESS);
  EXPECT_EQ(Last().Data, ExpectedRecord(492));
  EXPECT_EQ(Report(493), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Transcript->Text(), kTooLarge);
}

TEST_F(DxeStatusCodeTest, DataTheHeaderCannotDescribeIsRefused) {
  EXPECT_EQ(Report(0x10000), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Platform.StatusCodes().size(), 0u);
  EXPECT_EQ(Report(0xFFFF), EFI_SUCCESS);
  EXPECT_EQ(Last().Data, ExpectedRecord(0xFFFF));
}

TEST_F(DxeStatusCodeTest, DisabledTypesAreUnsupportedAndLeaveNoPool) {
  for (EFI_STATUS_CODE_TYPE Type : {0x00000004u, 0x000000FFu, 0x90000000u}) {
    EXPECT_EQ(Report(8, Type), EFI_UNSUPPORTED) << Type;
  }
  EXPECT_TRUE(Platform.StatusCodes().empty());
  EXPECT_EQ(Platform.LiveAllocations(), 0u);
  EXPECT_EQ(Report(8, EFI_ERROR_CODE | 0x40000000), EFI_SUCCESS);
  EXPECT_EQ(Report(8, EFI_DEBUG_CODE), EFI_SUCCESS);
}

TEST_F(DxeStatusCodeTest, ProtocolIsLocatedOnceAndThenCached) {
  unsigned Lookups = Platform.Faults().Count("LocateProtocol");
  for (int Index = 0; Index < 3; Index++) {
    EXPECT_EQ(Report(4), EFI_SUCCESS);
  }
  EXPECT_EQ(Platform.Faults().Count("LocateProtocol"), Lookups + 1);
}

EFI_STATUS EFIAPI StaleListener(EFI_STATUS_CODE_TYPE, EFI_STATUS_CODE_VALUE, UINT32, CONST EFI_GUID *,
                                EFI_STATUS_CODE_DATA *) {
  return EFI_WARN_STALE_DATA;
}

TEST_F(ProbeTest, WithoutTheProtocolEveryReportIsLostAndRetried) {
  Platform.RemoveStatusCodeProtocol();
  SetConfig(Config({{0, 4}}));
  ASSERT_EQ(Start(), EFI_SUCCESS);
  UINT8 Byte = 1;
  unsigned Lookups = Platform.Faults().Count("LocateProtocol");
  EXPECT_EQ(Probe->ReportStatusCodeEx(EFI_PROGRESS_CODE, 1, 0, nullptr, nullptr, &Byte, 1), EFI_UNSUPPORTED);
  Probe->DebugPrint(DEBUG_ERROR, "nobody listens\n");
  EXPECT_EQ(Platform.Faults().Count("LocateProtocol"), Lookups + 2);

  // A protocol installed later is found by the next report.
  EFI_STATUS_CODE_PROTOCOL Late = {StaleListener};
  EFI_HANDLE Handle = nullptr;
  ASSERT_EQ(Platform.InstallProtocol(&Handle, gEfiStatusCodeRuntimeProtocolGuid, &Late), EFI_SUCCESS);
  EXPECT_EQ(Probe->ReportStatusCodeEx(EFI_PROGRESS_CODE, 1, 0, nullptr, nullptr, &Byte, 1), EFI_WARN_STALE_DATA);
  Platform.UninstallProtocol(Handle, gEfiStatusCodeRuntimeProtocolGuid, &Late);
}

}  // namespace
}  // namespace supporttest
