// The hot-key driver's shipped image against its host build on the direct variable path:
// the same setup records, written the same way, and the same listener text.
#include "ImageRuns.h"

#include <hotlatch/SetupOptionLayout.h>

#include <gtest/gtest.h>

namespace peimage_test {
namespace {

TEST(HotlatchImage, PressDisarmAndPressAgainMatchTheHostBuild) {
  const HotlatchRun Host = RunHotKey(HostHotlatch);
  const HotlatchRun Image = RunHotKey(ImageHotlatch);

  for (const HotlatchRun *Run : {&Host, &Image}) {
    SCOPED_TRACE(Run == &Host ? "host module" : "PE32+ image");
    EXPECT_EQ(Run->StartStatus, EFI_SUCCESS);
    EXPECT_EQ(Run->PressNotifications, 1u) << "the keyboard arriving after the start is armed";
    EXPECT_EQ(Run->DisarmedPressNotifications, 0u) << "the disarm protocol withdraws the key";
    // The press flips the debug options; the disarmed press changes nothing more.
    EXPECT_NE(Run->AfterPress.Setup, Run->Initial.Setup);
    EXPECT_EQ(Run->AfterPress.Setup.size(), (size_t)SETUP_VARIABLE_SIZE);
    EXPECT_EQ(Run->AfterDisarmedPress, Run->AfterPress);
    EXPECT_EQ(Run->PressWrites, 3u) << "one press writes each record once";
    EXPECT_EQ(Run->DisarmedPressWrites, 0u);
    EXPECT_FALSE(Run->Lines.empty());
    EXPECT_GT(Run->ConvertedPointers, 0u) << "a runtime driver converts its table pointers";
  }
  ExpectNoAssertion(Image.Reports, Image.Lines, "PE32+ image");

  EXPECT_TRUE(Image.AfterPress.Setup == Host.AfterPress.Setup);
  EXPECT_TRUE(Image.AfterPress.PchRc == Host.AfterPress.PchRc);
  EXPECT_TRUE(Image.AfterPress.SocketProc == Host.AfterPress.SocketProc);
  EXPECT_TRUE(Image.AfterDisarmedPress == Host.AfterDisarmedPress);
  EXPECT_EQ(Image.ConvertedPointers, Host.ConvertedPointers) << "the runtime pointers the driver converts";
  EXPECT_TRUE(Image.Lines == Host.Lines) << FirstLineDifference(Host.Lines, Image.Lines);
}

}  // namespace
}  // namespace peimage_test
