// The setup options: cleared at every start, set by the key with the console notice.
#include "HotlatchBoard.h"

#include <gtest/gtest.h>

namespace hotlatch_test {
namespace {

// The simulated console is 80x25, where row 32 does not exist and the firmware refuses the
// position; this wrapper keeps what the driver asked for and forwards to that console.
class CursorRequests {
 public:
  explicit CursorRequests(EFI_SYSTEM_TABLE *SystemTable) : St(SystemTable), Original(SystemTable->ConOut) {
    Live = this;
    Wrapper = *Original;
    Wrapper.SetCursorPosition = SetCursorPosition;
    Wrapper.OutputString = OutputString;
    St->ConOut = &Wrapper;
  }
  ~CursorRequests() {
    St->ConOut = Original;
    Live = nullptr;
  }
  std::vector<std::pair<UINTN, UINTN>> Positions;
  std::vector<EFI_STATUS> Statuses;
  std::vector<std::u16string> Strings;

 private:
  static EFI_STATUS EFIAPI SetCursorPosition(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This, UINTN Column, UINTN Row) {
    EXPECT_EQ(This, &Live->Wrapper);
    Live->Positions.emplace_back(Column, Row);
    EFI_STATUS Status = Live->Original->SetCursorPosition(Live->Original, Column, Row);
    Live->Statuses.push_back(Status);
    return Status;
  }
  static EFI_STATUS EFIAPI OutputString(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This, CONST CHAR16 *String) {
    EXPECT_EQ(This, &Live->Wrapper);
    // Only a position was asked before this string: the order matters on a shared console.
    EXPECT_EQ(Live->Positions.size(), Live->Strings.size() + 1);
    Live->Strings.emplace_back(String);
    return Live->Original->OutputString(Live->Original, String);
  }
  static inline CursorRequests *Live = nullptr;
  EFI_SYSTEM_TABLE *St;
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *Original;
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL Wrapper;
};

// The platform's setup records as its firmware defines them, spelled out here rather than
// taken from the layout header the driver shares: a wrong constant there fails this check.
struct PlatformRecord {
  std::u16string_view Name;
  EFI_GUID Guid;
  size_t Size;
  std::vector<size_t> KeyBytes;
};
const PlatformRecord kPlatformRecords[] = {
    {u"Setup", {0xA04A27F4, 0xDF00, 0x4D42, {0xB5, 0x52, 0x39, 0x51, 0x13, 0x02, 0x11, 0x3D}}, 1026, {888, 891}},
    {u"PchRcConfiguration",
     {0xD19A26A3, 0x17F1, 0x48C3, {0x8A, 0x1E, 0x11, 0xEB, 0x0A, 0x7F, 0x6E, 0x4E}},
     1294,
     {1179}},
    {u"SocketProcessorCoreConfig",
     {0x07013588, 0xC789, 0x4E12, {0xA7, 0xC3, 0x88, 0xFA, 0xFA, 0xE7, 0x9F, 0x7C}},
     298,
     {135}},
};

// After a key press: each record whole, written non-volatile with boot and runtime access,
// 1 at its key bytes and nowhere else (the board's pattern never holds 0 or 1).
void ExpectKeyBytesAtPlatformOffsets(sim::Platform &P) {
  for (const PlatformRecord &Record : kPlatformRecords) {
    SCOPED_TRACE(std::string(Record.Name.begin(), Record.Name.end()));
    const sim::VariableStore::Variable *Stored = P.Variables().Find(Record.Name, Record.Guid);
    ASSERT_NE(Stored, nullptr);
    EXPECT_EQ(Stored->Attributes, 0x00000007u);
    ASSERT_EQ(Stored->Data.size(), Record.Size);
    std::vector<size_t> Ones;
    for (size_t Offset = 0; Offset < Stored->Data.size(); Offset++) {
      if (Stored->Data[Offset] <= 1) {
        EXPECT_EQ(Stored->Data[Offset], 1) << "offset " << Offset;
        Ones.push_back(Offset);
      }
    }
    EXPECT_EQ(Ones, Record.KeyBytes);
  }
}

class SetupOptionSwitch : public testing::Test {
 protected:
  HotlatchBoard Board;

  // Start, then a keyboard that carries the key.
  sim::Keyboard &StartWithKeyboard() {
    EXPECT_EQ(Board.Start(), EFI_SUCCESS);
    sim::Keyboard &Keyboard = Board.AddKeyboard();
    Keyboard.Install();
    return Keyboard;
  }

  std::vector<UINT8> ClearedSetup() const { return WithByte(Board.Setup, SETUP_BIOS_SETUP_DEBUG_OFFSET, 0); }
  std::vector<UINT8> ClearedPchRc() const { return WithByte(Board.PchRc, PCH_HIDE_OPTION_OFFSET, 0); }
  std::vector<UINT8> ClearedSocketProc() const { return WithByte(Board.SocketProc, PROC_HIDE_OFFSET, 0); }
  std::vector<UINT8> SetSetup() const {
    return WithByte(WithByte(Board.Setup, SETUP_BIOS_SETUP_DEBUG_OFFSET, 1), SETUP_SECOND_DEBUG_OFFSET, 1);
  }
};

TEST_F(SetupOptionSwitch, StartClearsTheThreeOptionsAndLeavesEveryOtherByte) {
  ASSERT_EQ(Board.Start(), EFI_SUCCESS);

  // Byte 891 is the key's alone: the start never clears it.
  EXPECT_EQ(Board.Stored(kSetup), ClearedSetup());
  EXPECT_EQ(Board.Stored(kPchRc), ClearedPchRc());
  EXPECT_EQ(Board.Stored(kSocketProc), ClearedSocketProc());
  EXPECT_TRUE(Board.P.Console().empty());
}

TEST_F(SetupOptionSwitch, KeyPressSetsTheFourBytesAndShowsTheNotice) {
  sim::Keyboard &Keyboard = StartWithKeyboard();
  Board.ClearLines();
  CursorRequests Console(Board.P.SystemTable());

  Keyboard.Press(kDebugKeyStroke);

  EXPECT_EQ(Board.Stored(kSetup), SetSetup());
  EXPECT_EQ(Board.Stored(kPchRc), WithByte(Board.PchRc, PCH_HIDE_OPTION_OFFSET, 1));
  EXPECT_EQ(Board.Stored(kSocketProc), WithByte(Board.SocketProc, PROC_HIDE_OFFSET, 1));
  ExpectKeyBytesAtPlatformOffsets(Board.P);
  EXPECT_EQ(Console.Positions, (std::vector<std::pair<UINTN, UINTN>>{{5, 32}}));
  EXPECT_EQ(Console.Strings, (std::vector<std::u16string>{u"Ready to debug mode ...\n"}));
  // A console too small for the position refuses it; the notice is written all the same.
  EXPECT_EQ(Console.Statuses, (std::vector<EFI_STATUS>{EFI_UNSUPPORTED}));
  ASSERT_EQ(Board.P.Console().size(), 1u);
  EXPECT_EQ(Board.P.Console()[0].Text, u"Ready to debug mode ...\n");
  EXPECT_EQ(Board.Lines(),
            (std::vector<std::string>{"Change Setup Debug Option State....",
                                      "[BiosSetupDebug] Set Variable SetupConfig.BiosSetupDebug Success....Success",
                                      "[PchHideOption] Set Variable PchRcConfig.PchHideOption Success....Success",
                                      "[SocketProcConfig] Set Variable SocketProcConfig.ProcHide Success....Success"}));
}

TEST_F(SetupOptionSwitch, TheNextStartClearsWhatTheKeySet) {
  sim::Keyboard &Keyboard = StartWithKeyboard();
  Keyboard.Press(kDebugKeyStroke);
  unsigned Writes = Board.P.Variables().WriteCount();

  ASSERT_EQ(Board.Start(), EFI_SUCCESS);

  EXPECT_EQ(Board.P.Variables().WriteCount(), Writes + 3);
  EXPECT_EQ(Board.Stored(kSetup), WithByte(SetSetup(), SETUP_BIOS_SETUP_DEBUG_OFFSET, 0));
  EXPECT_EQ(Board.Stored(kPchRc), ClearedPchRc());
  EXPECT_EQ(Board.Stored(kSocketProc), ClearedSocketProc());
}

TEST_F(SetupOptionSwitch, NoticeIsShownEvenWhenTheSetupWriteFails) {
  sim::Keyboard &Keyboard = StartWithKeyboard();
  Board.ClearLines();
  unsigned Writes = Board.P.Faults().Count("SetVariable");
  Board.P.Faults().FailAlways("SetVariable", EFI_WRITE_PROTECTED);

  Keyboard.Press(kDebugKeyStroke);

  ASSERT_EQ(Board.P.Console().size(), 1u);
  EXPECT_EQ(Board.P.Console()[0].Text, u"Ready to debug mode ...\n");
  // Stopped before the other two variables.
  EXPECT_EQ(Board.P.Faults().Count("SetVariable"), Writes + 1);
  EXPECT_EQ(Board.Stored(kPchRc), ClearedPchRc());
  EXPECT_EQ(Board.Lines(), (std::vector<std::string>{
                               "Change Setup Debug Option State....",
                               "[BiosSetupDebug] Set Variable SetupConfig.BiosSetupDebug Failed....Write Protected"}));
}

TEST_F(SetupOptionSwitch, FailedSetupReadOnTheKeyWritesNothingAndShowsNothing) {
  sim::Keyboard &Keyboard = StartWithKeyboard();
  Board.ClearLines();
  Board.P.Variables().Remove(kSetup.Name, *kSetup.Guid);
  unsigned Writes = Board.P.Variables().WriteCount();

  Keyboard.Press(kDebugKeyStroke);

  EXPECT_TRUE(Board.P.Console().empty());
  EXPECT_EQ(Board.P.Variables().WriteCount(), Writes);
  EXPECT_EQ(Board.Lines(), (std::vector<std::string>{"Change Setup Debug Option State....",
                                                     "Change Setup Option State Failed...Not Found"}));
}

TEST_F(SetupOptionSwitch, FailedSetupReadAtStartStillClearsTheOtherTwo) {
  Board.P.Variables().Remove(kSetup.Name, *kSetup.Guid);
  ASSERT_EQ(Board.Start(), EFI_SUCCESS);

  EXPECT_FALSE(Board.IsStored(kSetup));
  EXPECT_EQ(Board.Stored(kPchRc), ClearedPchRc());
  EXPECT_EQ(Board.Stored(kSocketProc), ClearedSocketProc());
  EXPECT_TRUE(Contains(Board.Lines(), "[SetupConfig] Get Setup Config Failed....Not Found"));
}

TEST_F(SetupOptionSwitch, PchRecordFailuresDoNotStopTheProcessorRecord) {
  Board.P.Variables().Remove(kPchRc.Name, *kPchRc.Guid);
  sim::Keyboard &Keyboard = StartWithKeyboard();
  EXPECT_TRUE(Contains(Board.Lines(), "[PchRcConfig] Get Pch Rc Configuration Failed...Not Found"));
  EXPECT_EQ(Board.Stored(kSocketProc), ClearedSocketProc());

  Board.Store(kPchRc, Board.PchRc);
  Board.ClearLines();
  // The second write of the press is the PCH record.
  Board.P.Faults().FailNth("SetVariable", 2, EFI_DEVICE_ERROR);
  Keyboard.Press(kDebugKeyStroke);

  EXPECT_EQ(Board.Stored(kPchRc), Board.PchRc);
  EXPECT_EQ(Board.Stored(kSocketProc), WithByte(Board.SocketProc, PROC_HIDE_OFFSET, 1));
  EXPECT_TRUE(Contains(Board.Lines(), "[PchHideOption] Set Variable PchRcConfig.PchHideOption Failed....Device Error"));
}

TEST_F(SetupOptionSwitch, ProcessorRecordReadFailureIsLoggedWithItsStatus) {
  Board.P.Variables().Remove(kSocketProc.Name, *kSocketProc.Guid);
  ASSERT_EQ(Board.Start(), EFI_SUCCESS);
  EXPECT_FALSE(Board.IsStored(kSocketProc));
  EXPECT_TRUE(Contains(Board.Lines(), "[SocketProcConfig] Get Socket Processor Core Config Failed...Not Found"));
}

TEST_F(SetupOptionSwitch, LargerStoredRecordTakesTheReadFailurePath) {
  std::vector<UINT8> Larger = RecordPattern(SETUP_VARIABLE_SIZE + 1, 0x44);
  Board.Store(kSetup, Larger);
  ASSERT_EQ(Board.Start(), EFI_SUCCESS);

  EXPECT_EQ(Board.Stored(kSetup), Larger);
  EXPECT_TRUE(Contains(Board.Lines(), "[SetupConfig] Get Setup Config Failed....Buffer Too Small"));
  EXPECT_EQ(Board.Stored(kPchRc), ClearedPchRc());
}

// The record is always written whole; what the store did not hold is written as zeros,
// never as whatever the stack held.
TEST_F(SetupOptionSwitch, ShorterStoredRecordIsWrittenBackZeroFilled) {
  std::vector<UINT8> Shorter(Board.Setup.begin(), Board.Setup.begin() + 900);
  Board.Store(kSetup, Shorter);
  std::vector<UINT8> ShortSocket(Board.SocketProc.begin(), Board.SocketProc.begin() + 100);
  Board.Store(kSocketProc, ShortSocket);

  ASSERT_EQ(Board.Start(), EFI_SUCCESS);

  std::vector<UINT8> Expected(SETUP_VARIABLE_SIZE, 0);
  std::copy(Shorter.begin(), Shorter.end(), Expected.begin());
  Expected[SETUP_BIOS_SETUP_DEBUG_OFFSET] = 0;
  EXPECT_EQ(Board.Stored(kSetup), Expected);
  std::vector<UINT8> ExpectedSocket(SOCKET_PROCESSOR_CORE_CONFIG_SIZE, 0);
  std::copy(ShortSocket.begin(), ShortSocket.end(), ExpectedSocket.begin());
  EXPECT_EQ(Board.Stored(kSocketProc), ExpectedSocket);
}

TEST_F(SetupOptionSwitch, NoConsoleIsNotACrash) {
  sim::Keyboard &Keyboard = StartWithKeyboard();
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *ConOut = Board.P.SystemTable()->ConOut;
  Board.P.SystemTable()->ConOut = nullptr;

  Keyboard.Press(kDebugKeyStroke);

  Board.P.SystemTable()->ConOut = ConOut;
  EXPECT_EQ(Board.Stored(kSetup), SetSetup());
  EXPECT_TRUE(Board.P.Console().empty());
}

}  // namespace
}  // namespace hotlatch_test
