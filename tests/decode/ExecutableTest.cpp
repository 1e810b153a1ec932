// The built tool, run as a BMC engineer runs it: output streams and exit status.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "DecodeTestImages.h"
#include "JsonCheck.h"

using namespace DecodeTest;
namespace fs = std::filesystem;

namespace {

struct ToolRun {
  int Exit = -1;
  std::string Out;
  std::string Err;
};

class DecodeTool : public ::testing::Test {
 protected:
  void SetUp() override {
    Dir = fs::temp_directory_path() / ("roster-decode-test-" + std::to_string(::getpid()));
    fs::create_directories(Dir);
  }
  void TearDown() override { fs::remove_all(Dir); }

  std::string Write(const std::string &Name, const Bytes &Content) {
    fs::path Path = Dir / Name;
    std::ofstream(Path, std::ios::binary)
        .write(reinterpret_cast<const char *>(Content.data()), static_cast<std::streamsize>(Content.size()));
    return Path.string();
  }

  static std::string Slurp(const fs::path &Path) {
    std::ifstream In(Path, std::ios::binary);
    std::stringstream Buffer;
    Buffer << In.rdbuf();
    return Buffer.str();
  }

  ToolRun Execute(const std::string &Arguments) {
    std::string Command = std::string("'") + ROSTER_DECODE_PATH + "' " + Arguments + " >'" + (Dir / "out").string() +
                          "' 2>'" + (Dir / "err").string() + "'";
    int Status = std::system(Command.c_str());
    ToolRun Result;
    Result.Exit = WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
    Result.Out = Slurp(Dir / "out");
    Result.Err = Slurp(Dir / "err");
    return Result;
  }

  fs::path Dir;
};

TEST_F(DecodeTool, CleanImageExitsZero) {
  std::string Path = Write("inv.bin", BuildImage(FullBoard()));
  ToolRun Result = Execute("'" + Path + "'");
  EXPECT_EQ(Result.Exit, 0) << Result.Err;
  EXPECT_TRUE(Result.Err.empty()) << Result.Err;
  EXPECT_NE(Result.Out.find("3b:00.1 [8086:10d3] class 0200 subsys 8086:0000 link 8GT/s x16"), std::string::npos);
}

TEST_F(DecodeTool, BadDataExitsOneAndNamesFileAndProblem) {
  Bytes Image = BuildImage(FullBoard());
  Image[500] ^= 0x20;
  std::string Bad = Write("bad.bin", Image);
  std::string Good = Write("port.bin", SataMessage(0, 0, 0, "", "", 0));
  ToolRun Result = Execute("'" + Bad + "' '" + Good + "'");
  EXPECT_EQ(Result.Exit, 1);
  EXPECT_NE(Result.Err.find(Bad + ": CRC MISMATCH"), std::string::npos) << Result.Err;
  EXPECT_NE(Result.Out.find("CRC MISMATCH"), std::string::npos);  // still decoded
  EXPECT_NE(Result.Out.find("SATA 0   empty"), std::string::npos);  // and the next file too
}

TEST_F(DecodeTool, UsageAndUnreadableFilesExitTwo) {
  EXPECT_EQ(Execute("").Exit, 2);
  EXPECT_EQ(Execute("--bogus x").Exit, 2);
  ToolRun Missing = Execute("'" + (Dir / "missing.bin").string() + "'");
  EXPECT_EQ(Missing.Exit, 2);
  EXPECT_NE(Missing.Err.find("missing.bin: cannot read"), std::string::npos) << Missing.Err;
  ToolRun Directory = Execute("'" + Dir.string() + "'");
  EXPECT_EQ(Directory.Exit, 2) << Directory.Out << Directory.Err;
}

TEST_F(DecodeTool, JsonFlagGivesOneDocument) {
  std::string Image = Write("inv.bin", BuildImage(FullBoard()));
  std::string Short = Write("short.bin", Bytes(5, 0));
  ToolRun Result = Execute("--json '" + Image + "' '" + Short + "'");
  EXPECT_EQ(Result.Exit, 1);
  EXPECT_TRUE(IsValidJson(Result.Out)) << Result.Out.substr(0, 300);
  EXPECT_NE(Result.Out.find("\"verdict\":\"OK\""), std::string::npos);
  EXPECT_NE(Result.Err.find("short.bin: too short"), std::string::npos) << Result.Err;
}

}  // namespace
