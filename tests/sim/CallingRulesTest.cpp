// Where UEFI lets a service be called: the platform fails the test at the first call made
// where firmware would misbehave.
#include "SimTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <functional>

using simtest::NotifyRun;
using simtest::Probe;
using simtest::RecordNotify;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;

namespace {

constexpr EFI_GUID kWatched = {0xAAAA0002, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};

// The messages of every failure Body records, without failing this test.
std::vector<std::string> FailuresOf(const std::function<void()> &Body) {
  testing::TestPartResultArray Results;
  {
    testing::ScopedFakeTestPartResultReporter Reporter(
        testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &Results);
    Body();
  }
  std::vector<std::string> Messages;
  for (int Index = 0; Index < Results.size(); Index++) {
    Messages.push_back(Results.GetTestPartResult(Index).message());
  }
  return Messages;
}

class CallingRulesTest : public testing::Test {
 protected:
  sim::Platform P;
  EFI_BOOT_SERVICES *Bs = P.BootServices();
  std::vector<NotifyRun> Runs;
};

TEST_F(CallingRulesTest, PoolAndProtocolServicesAboveNotifyFail) {
  VOID *Buffer = nullptr;
  VOID *Interface = nullptr;
  std::vector<std::string> AtNotify = FailuresOf([&] {
    P.RunAt(TPL_NOTIFY, [&] {
      Bs->AllocatePool(EfiBootServicesData, 8, &Buffer);
      Bs->FreePool(Buffer);
      Bs->LocateProtocol(&kWatched, nullptr, &Interface);
    });
  });
  EXPECT_THAT(AtNotify, IsEmpty());

  std::vector<std::string> AboveNotify = FailuresOf([&] {
    P.RunAt(TPL_HIGH_LEVEL, [&] {
      Bs->AllocatePool(EfiBootServicesData, 8, &Buffer);
      Bs->LocateProtocol(&kWatched, nullptr, &Interface);
      // Events and the TPL itself stay usable up there.
      EFI_TPL Old = Bs->RaiseTPL(TPL_HIGH_LEVEL);
      Bs->RestoreTPL(Old);
    });
  });
  EXPECT_THAT(AboveNotify, ElementsAre(HasSubstr("AllocatePool called at TPL 31, above TPL_NOTIFY"),
                                       HasSubstr("LocateProtocol called at TPL 31, above TPL_NOTIFY")));
  Bs->FreePool(Buffer);
}

TEST_F(CallingRulesTest, MemoryServicesInsideAnExitBootServicesNotificationFail) {
  VOID *Buffer = nullptr;
  VOID *Interface = nullptr;
  Probe Notify{"exit", &Runs, [&](EFI_EVENT Self) {
                 Bs->LocateProtocol(&kWatched, nullptr, &Interface);  // no memory: allowed
                 Bs->AllocatePool(EfiBootServicesData, 8, &Buffer);
                 Bs->CloseEvent(Self);
               }};
  EFI_EVENT Event = nullptr;
  ASSERT_EQ(Bs->CreateEvent(EVT_SIGNAL_EXIT_BOOT_SERVICES, TPL_CALLBACK, RecordNotify, &Notify, &Event), EFI_SUCCESS);

  std::vector<std::string> Failures = FailuresOf([&] { P.ExitBootServices(); });
  ASSERT_EQ(Runs.size(), 1u);
  EXPECT_THAT(Failures, ElementsAre(HasSubstr("AllocatePool called inside an exit-boot-services notification"),
                                    HasSubstr("CloseEvent called inside an exit-boot-services notification")));
  // Past the exit the block can no longer be freed; its leak report is expected here.
  EXPECT_THAT(FailuresOf([&] { P.ExpectNoLeaks(); }), ElementsAre(HasSubstr("pool block leaked")));
}

TEST_F(CallingRulesTest, ConsoleOutputAfterExitBootServicesFailsAndWritesNothing) {
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *ConOut = P.SystemTable()->ConOut;
  ASSERT_EQ(ConOut->OutputString(ConOut, const_cast<CHAR16 *>(u"before")), EFI_SUCCESS);
  P.ExitBootServices();

  EFI_STATUS Status = EFI_SUCCESS;
  EXPECT_NONFATAL_FAILURE(Status = ConOut->OutputString(ConOut, const_cast<CHAR16 *>(u"after")),
                          "ConOut.OutputString called after ExitBootServices");
  EXPECT_TRUE(EFI_ERROR(Status));
  EXPECT_NONFATAL_FAILURE(ConOut->SetCursorPosition(ConOut, 0, 0),
                          "ConOut.SetCursorPosition called after ExitBootServices");
  ASSERT_EQ(P.Console().size(), 1u);
  EXPECT_EQ(P.Console()[0].Text, u"before");
}

}  // namespace
