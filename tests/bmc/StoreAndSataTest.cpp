// What the BMC keeps: the atomic replacement of the inventory under injected failures, the
// SATA messages of one boot with the configured failures, a restart on the same directory,
// and the module's options.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <fstream>

#include "BmcTestSupport.h"
#include <BmcOptions.h>
#include <DecodeTestImages.h>
#include <InventoryLayout.h>

namespace {

using BmcTest::Bytes;
using RosterBmc::StoreStage;

Bytes Sata(uint8_t Index) { return DecodeTest::SataMessage(Index, Index, 1, "MODEL", "SERIAL", 480); }

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override { Reopen(); }

  void Reopen(const RosterBmc::BmcOptions &Options = {}) {
    Bmc.reset();
    Store = std::make_unique<RosterBmc::StateStore>();
    std::string Error;
    ASSERT_TRUE(Store->Open(State.string(), Error)) << Error;
    Bmc = std::make_unique<RosterBmc::InventoryBmc>(Options, *Store, 7);
    Host = std::make_unique<BmcTest::Host>(BmcTest::Host{*Bmc});
  }

  Bytes Stored(const std::string &Name = "inventory.bin") const { return BmcTest::ReadFile(State / Name); }
  std::vector<std::string> Files() const { return BmcTest::Listing(State); }

  BmcTest::TempDir Dir;
  std::filesystem::path State = Dir.Path() / "state";
  std::unique_ptr<RosterBmc::StateStore> Store;
  std::unique_ptr<RosterBmc::InventoryBmc> Bmc;
  std::unique_ptr<BmcTest::Host> Host;
  Bytes First = DecodeTest::BuildImage(DecodeTest::ImageParts{});
  Bytes Second = DecodeTest::BuildImage(DecodeTest::FullBoard());
};

TEST_F(StoreTest, AFailureAtAnyStepKeepsThePreviousInventoryAndItsSataSet) {
  ASSERT_EQ(Host->Transfer(First), IPMI_CC_SUCCESS);
  ASSERT_EQ(Host->Sata(Sata(0)), IPMI_CC_SUCCESS);
  for (StoreStage Failing : {StoreStage::Create, StoreStage::Write, StoreStage::Sync, StoreStage::Rename}) {
    Store->FailBefore = [Failing](StoreStage Stage) { return Stage != Failing; };
    EXPECT_EQ(Host->Transfer(Second), IPMI_CC_OUT_OF_SPACE) << int(Failing);
    EXPECT_EQ(Stored(), First);
    EXPECT_EQ(Files(), (std::vector<std::string>{"inventory.bin", "sata-00.bin"})) << "no temporary file left";
  }
  Store->FailBefore = nullptr;
  EXPECT_EQ(Host->Transfer(Second), IPMI_CC_SUCCESS);
  EXPECT_EQ(Stored(), Second);
  EXPECT_EQ(Files(), std::vector<std::string>{"inventory.bin"}) << "a new inventory starts a new boot";
}

// After the rename the new image is the one in place, durable or not: it is answered as a
// storage failure, and its boot's SATA set starts all the same.
TEST_F(StoreTest, ADirectorySyncFailureAfterTheRenameIsReportedButTheNewImageStands) {
  ASSERT_EQ(Host->Transfer(First), IPMI_CC_SUCCESS);
  ASSERT_EQ(Host->Sata(Sata(0)), IPMI_CC_SUCCESS);
  Store->FailBefore = [](StoreStage Stage) { return Stage != StoreStage::SyncDirectory; };
  EXPECT_EQ(Host->Transfer(Second), IPMI_CC_OUT_OF_SPACE);
  EXPECT_EQ(Stored(), Second);
  EXPECT_EQ(Files(), std::vector<std::string>{"inventory.bin"});
}

TEST_F(StoreTest, ABmcKilledBeforeTheRenameRestartsWithThePreviousInventory) {
  ASSERT_EQ(Host->Transfer(First), IPMI_CC_SUCCESS);
  // What a kill between write and rename leaves: the whole new image under the temporary name.
  std::ofstream(State / "inventory.bin.tmp", std::ios::binary)
      .write(reinterpret_cast<const char *>(Second.data()), 5000);
  Reopen();
  EXPECT_EQ(Files(), std::vector<std::string>{"inventory.bin"});
  EXPECT_EQ(Stored(), First);
  EXPECT_EQ(Host->Transfer(Second), IPMI_CC_SUCCESS);
  EXPECT_EQ(Stored(), Second);
}

TEST_F(StoreTest, SataMessagesAreStoredRawInArrivalOrderAndSurviveARestart) {
  ASSERT_EQ(Host->Transfer(First), IPMI_CC_SUCCESS);
  ASSERT_EQ(Host->Sata(Sata(3)), IPMI_CC_SUCCESS);
  ASSERT_EQ(Host->Sata(Sata(1)), IPMI_CC_SUCCESS);
  EXPECT_EQ(Stored("sata-00.bin"), Sata(3));
  EXPECT_EQ(Stored("sata-01.bin"), Sata(1));
  Reopen();
  EXPECT_EQ(Store->SataCount(), 2u);
  ASSERT_EQ(Host->Sata(Sata(2)), IPMI_CC_SUCCESS);
  EXPECT_EQ(Stored("sata-02.bin"), Sata(2));
  EXPECT_EQ(Stored("sata-00.bin"), Sata(3));
}

TEST_F(StoreTest, SataMessagesOfAnyOtherLengthAreRefused) {
  Bytes Message = Sata(0);
  for (size_t Length : {size_t{0}, size_t{1}, size_t{64}, size_t{66}, size_t{200}}) {
    Bytes Other = Message;
    Other.resize(Length);
    EXPECT_EQ(Host->Sata(Other), IPMI_CC_REQUEST_DATA_LENGTH_INVALID) << Length;
  }
  EXPECT_TRUE(Files().empty());
}

TEST_F(StoreTest, TheFirstSataMessagesOfEachBootFailAsConfigured) {
  RosterBmc::BmcOptions Options;
  Options.SataFailCount = 2;
  Options.SataFailCode = 0xC3;
  Reopen(Options);
  for (int Boot = 0; Boot < 2; ++Boot) {
    ASSERT_EQ(Host->Transfer(Boot == 0 ? First : Second), IPMI_CC_SUCCESS);
    // The host's three attempts at its first message: two refused, the third taken.
    EXPECT_EQ(Host->Sata(Sata(0)), 0xC3);
    EXPECT_EQ(Host->Sata(Sata(0)), 0xC3);
    EXPECT_EQ(Host->Sata(Sata(0)), IPMI_CC_SUCCESS);
    EXPECT_EQ(Host->Sata(Sata(1)), IPMI_CC_SUCCESS);
    EXPECT_EQ(Files(), (std::vector<std::string>{"inventory.bin", "sata-00.bin", "sata-01.bin"}));
    EXPECT_EQ(Stored("sata-00.bin"), Sata(0));
  }
  // A malformed message is no attempt that counts.
  ASSERT_EQ(Host->Transfer(First), IPMI_CC_SUCCESS);
  EXPECT_EQ(Host->Sata(Bytes(64)), IPMI_CC_REQUEST_DATA_LENGTH_INVALID);
  EXPECT_EQ(Host->Sata(Sata(0)), 0xC3);
}

TEST_F(StoreTest, ABootsSataSetHasABoundAndAStoreFailureIsOutOfSpace) {
  for (unsigned Index = 0; Index < RosterBmc::kMaxSataMessages; ++Index) {
    ASSERT_EQ(Host->Sata(Sata(static_cast<uint8_t>(Index))), IPMI_CC_SUCCESS) << Index;
  }
  EXPECT_EQ(Host->Sata(Sata(0)), IPMI_CC_OUT_OF_SPACE);
  EXPECT_EQ(Files().size(), RosterBmc::kMaxSataMessages);
  ASSERT_EQ(Host->Transfer(First), IPMI_CC_SUCCESS);
  Store->FailBefore = [](StoreStage Stage) { return Stage != StoreStage::Rename; };
  EXPECT_EQ(Host->Sata(Sata(0)), IPMI_CC_OUT_OF_SPACE);
  EXPECT_EQ(Files(), std::vector<std::string>{"inventory.bin"});
}

// A link planted in the directory under the temporary name is not followed out of it.
TEST_F(StoreTest, NothingIsWrittenThroughALinkInTheStateDirectory) {
  std::filesystem::path Outside = Dir.Path() / "outside.bin";
  std::ofstream(Outside) << "keep";
  std::filesystem::create_symlink(Outside, State / "inventory.bin.tmp");
  EXPECT_EQ(Host->Transfer(First), IPMI_CC_OUT_OF_SPACE);
  std::ifstream In(Outside);
  std::string Text((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
  EXPECT_EQ(Text, "keep");
}

TEST(StateStoreOpen, MakesItsDirectoryAndRefusesAPathItCannotUse) {
  BmcTest::TempDir Dir;
  RosterBmc::StateStore Store;
  std::string Error;
  EXPECT_TRUE(Store.Open((Dir.Path() / "new").string(), Error)) << Error;
  EXPECT_TRUE(std::filesystem::is_directory(Dir.Path() / "new"));
  std::ofstream(Dir.Path() / "file") << "x";
  EXPECT_FALSE(Store.Open((Dir.Path() / "file").string(), Error));
  EXPECT_FALSE(Store.Open((Dir.Path() / "a" / "b").string(), Error));
  EXPECT_FALSE(Store.Open("", Error));
}

TEST(BmcOptions, ParsesTheDocumentedWords) {
  RosterBmc::BmcOptions Options;
  std::string Error;
  ASSERT_TRUE(RosterBmc::ParseOptions("  statedir=/var/lib/bmc\tsata_fail=2:0xC0 ", Options, Error)) << Error;
  EXPECT_EQ(Options.StateDir, "/var/lib/bmc");
  EXPECT_EQ(Options.SataFailCount, 2u);
  EXPECT_EQ(Options.SataFailCode, 0xC0);
  ASSERT_TRUE(RosterBmc::ParseOptions("sata_fail=3", Options, Error));
  EXPECT_EQ(Options.SataFailCount, 3u);
  EXPECT_EQ(Options.SataFailCode, 0xC0);
  EXPECT_TRUE(Options.StateDir.empty());
  ASSERT_TRUE(RosterBmc::ParseOptions("", Options, Error));
  EXPECT_EQ(Options.SataFailCount, 0u);
}

TEST(BmcOptions, RefusesAnythingElseAndKeepsWhatItHad) {
  for (const char *Bad :
       {"statedir", "statedir=", "sata_fail=", "sata_fail=x", "sata_fail=2:", "sata_fail=2:0", "sata_fail=256",
        "sata_fail=2:0x100", "sata_fail=-1", "sata_fail=2:0xC0:1", "unknown=1", "sata_fail=99999999999999999999999"}) {
    RosterBmc::BmcOptions Options;
    Options.SataFailCount = 9;
    std::string Error;
    EXPECT_FALSE(RosterBmc::ParseOptions(Bad, Options, Error)) << Bad;
    EXPECT_FALSE(Error.empty()) << Bad;
    EXPECT_EQ(Options.SataFailCount, 9u) << Bad;
  }
}

TEST(BmcOptions, FindsIpmiSimsStateDirectory) {
  EXPECT_EQ(RosterBmc::StateDirFromCommandLine({"ipmi_sim", "-c", "lan.conf", "-s", "/tmp/x", "-n"}), "/tmp/x");
  EXPECT_EQ(RosterBmc::StateDirFromCommandLine({"ipmi_sim", "-n", "-s"}), std::nullopt);
  EXPECT_EQ(RosterBmc::StateDirFromCommandLine({"-s", "first-word-is-the-program"}), std::nullopt);
}

}  // namespace
