// The inventory driver's shipped image against its host build on the same full board: the
// management controller must receive the same bytes, and the listener the same text.
#include "ImageRuns.h"

#include <tests/roster/RosterBoard.h>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

namespace peimage_test {
namespace {

// What a listener keys on in each report, without the data (which holds addresses).
std::vector<std::tuple<UINT32, UINT32, UINT32>> ReportKinds(const std::vector<sim::StatusCodeReport> &Reports) {
  std::vector<std::tuple<UINT32, UINT32, UINT32>> Kinds;
  for (const sim::StatusCodeReport &Report : Reports) {
    Kinds.emplace_back(Report.Type, Report.Value, Report.Instance);
  }
  return Kinds;
}

bool Contains(const std::vector<std::string> &Lines, const std::string &Line) {
  return std::find(Lines.begin(), Lines.end(), Line) != Lines.end();
}

TEST(RosterImage, FullBoardInventoryMatchesTheHostBuildByteForByte) {
  const RosterRun Host = RunInventory(HostRoster);
  const RosterRun Image = RunInventory(ImageRoster);

  for (const RosterRun *Run : {&Host, &Image}) {
    SCOPED_TRACE(Run == &Host ? "host module" : "PE32+ image");
    EXPECT_EQ(Run->StartStatus, EFI_SUCCESS);
    ASSERT_EQ(Run->Images.size(), 1u);
    // Both agreeing is only worth something when they agree on the right bytes.
    EXPECT_TRUE(Run->Images[0] == Run->ExpectedImage) << FirstByteDifference(Run->Images[0], Run->ExpectedImage);
    EXPECT_EQ(Run->SataMessages.size(), (size_t)NUMBER_OF_SATA);
    EXPECT_EQ(Run->PoolAfterTrigger, Run->PoolBeforeTrigger) << "pool left behind by the inventory";
    EXPECT_EQ(Run->EventsAfterTrigger + 1, Run->EventsBeforeTrigger) << "the inventory event did not close";
    EXPECT_TRUE(Contains(Run->Lines, "Inventory data TotalSize = 23063")) << "DEBUG_INFO lines are not shown";
  }
  ExpectNoAssertion(Image.Reports, Image.Lines, "PE32+ image");

  ASSERT_EQ(Image.Images.size(), Host.Images.size());
  for (size_t Index = 0; Index < Image.Images.size(); Index++) {
    EXPECT_TRUE(Image.Images[Index] == Host.Images[Index])
        << FirstByteDifference(Image.Images[Index], Host.Images[Index]);
  }
  EXPECT_TRUE(Image.SataMessages == Host.SataMessages) << "SATA_INFO messages differ in bytes or order";
  EXPECT_TRUE(Image.Lines == Host.Lines) << FirstLineDifference(Host.Lines, Image.Lines);
  EXPECT_TRUE(ReportKinds(Image.Reports) == ReportKinds(Host.Reports));
}

// Pool refused from the trigger on: reports fall back to their local buffer, and the first
// record area asserts (and returns, as the fixed settings make it).
void RefuseAllPool(sim::Platform &P) { P.Faults().FailAlways("AllocatePool", EFI_OUT_OF_RESOURCES); }

// The failure path runs in the image too: it asserts, frees what it took, closes the event
// and sends nothing.
TEST(RosterImage, RefusedRecordAreasTakeTheSameFailurePathInBothBuilds) {
  const RosterRun Host = RunInventory(HostRoster, RefuseAllPool);
  const RosterRun Image = RunInventory(ImageRoster, RefuseAllPool);

  EXPECT_TRUE(Image.Images.empty());
  EXPECT_EQ(Image.PoolAfterTrigger, Image.PoolBeforeTrigger);
  EXPECT_EQ(Image.EventsAfterTrigger + 1, Image.EventsBeforeTrigger);
  EXPECT_TRUE(Image.Images == Host.Images);
  EXPECT_TRUE(Image.SataMessages == Host.SataMessages);
  // File names, line numbers and descriptions come out of the image's own data.
  EXPECT_TRUE(Image.Lines == Host.Lines) << FirstLineDifference(Host.Lines, Image.Lines);
  EXPECT_FALSE(AssertionsIn(Image.Reports, Image.Lines).empty());
}

// The check every image run passes through must be able to fail: an image transcript with an
// assertion in it is a failed test, whether the record or only its listener line shows it.
TEST(RosterImage, AnAssertionInAnImageTranscriptFailsTheTest) {
  const RosterRun Image = RunInventory(ImageRoster, RefuseAllPool);
  ASSERT_FALSE(Image.Lines.empty());
  EXPECT_NONFATAL_FAILURE(ExpectNoAssertion(Image.Reports, Image.Lines, "PE32+ image"),
                          "assertion in the PE32+ image run");
  EXPECT_NONFATAL_FAILURE(ExpectNoAssertion({}, Image.Lines, "PE32+ image"), "listener line");
  EXPECT_NONFATAL_FAILURE(ExpectNoAssertion(Image.Reports, {}, "PE32+ image"), "assert record");
}

}  // namespace
}  // namespace peimage_test
