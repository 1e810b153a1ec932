// Variable writes through the SMM variable handler: the "SSVS" packet and its doorbell.
#include "HotlatchBoard.h"

#include <VariableRequestLayout.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <optional>

namespace hotlatch_test {
namespace {

void Append(std::vector<UINT8> &Bytes, const void *Data, size_t Size) {
  const auto *First = static_cast<const UINT8 *>(Data);
  Bytes.insert(Bytes.end(), First, First + Size);
}
template <class T>
void AppendLe(std::vector<UINT8> &Bytes, T Value) {
  for (size_t Index = 0; Index < sizeof(T); Index++) {
    Bytes.push_back(static_cast<UINT8>(static_cast<UINT64>(Value) >> (8 * Index)));
  }
}

// The packet as the handler must receive it, written out field by field.
std::vector<UINT8> ExpectedPacket(std::u16string_view Name, const EFI_GUID &Guid, const std::vector<UINT8> &Data) {
  size_t NameSize = (Name.size() + 1) * 2;
  size_t RequestSize = 30 + NameSize + Data.size();
  std::vector<UINT8> Bytes;
  Append(Bytes, "SSVS", 4);
  AppendLe<UINT32>(Bytes, static_cast<UINT32>(RequestSize + 16));
  AppendLe<UINT64>(Bytes, 0x8000000000000003ULL);
  AppendLe<UINT32>(Bytes, 6);
  AppendLe<UINT16>(Bytes, 1);
  AppendLe<UINT32>(Bytes, 7);
  AppendLe<UINT32>(Bytes, static_cast<UINT32>(Data.size()));
  AppendLe<UINT32>(Bytes, Guid.Data1);
  AppendLe<UINT16>(Bytes, Guid.Data2);
  AppendLe<UINT16>(Bytes, Guid.Data3);
  Append(Bytes, Guid.Data4, 8);
  for (char16_t Char : Name) {
    AppendLe<UINT16>(Bytes, Char);
  }
  AppendLe<UINT16>(Bytes, 0);
  Append(Bytes, Data.data(), Data.size());
  return Bytes;
}

TEST(SmiVariablePath, StartWritesEachRecordAsOnePacket) {
  HotlatchBoard Board;
  sim::SmmVariableHandler &Smm = Board.AddSmmVariable();
  unsigned DirectWrites = Board.P.Faults().Count("SetVariable");
  ASSERT_EQ(Board.Start(), EFI_SUCCESS);

  ASSERT_EQ(Smm.Smis().size(), 3u);
  const sim::SmmVariableHandler::Smi &Setup = Smm.Smis()[0];
  EXPECT_EQ(Setup.Port, 0xB2);
  EXPECT_EQ(Setup.Value, 0xEC);
  EXPECT_EQ(Setup.Ah, 0x21);
  EXPECT_EQ(Setup.Rbx, 1084u);
  EXPECT_NE(Setup.Rsi, 0u);
  std::vector<UINT8> Expected =
      ExpectedPacket(u"Setup", gSetupVariableGuid, WithByte(Board.Setup, SETUP_BIOS_SETUP_DEBUG_OFFSET, 0));
  ASSERT_EQ(Expected.size(), 1084u);
  EXPECT_EQ(Setup.Packet, Expected);

  EXPECT_EQ(Smm.Smis()[1].Packet, ExpectedPacket(u"PchRcConfiguration", gPchRcConfigurationVariableGuid,
                                                 WithByte(Board.PchRc, PCH_HIDE_OPTION_OFFSET, 0)));
  EXPECT_EQ(Smm.Smis()[2].Packet, ExpectedPacket(u"SocketProcessorCoreConfig", gSocketProcessorCoreConfigVariableGuid,
                                                 WithByte(Board.SocketProc, PROC_HIDE_OFFSET, 0)));
  for (const sim::SmmVariableHandler::Smi &Smi : Smm.Smis()) {
    EXPECT_EQ(Smi.Answer, std::optional<EFI_STATUS>(EFI_SUCCESS));
    EXPECT_EQ(Smi.Rbx, Smi.Packet.size());
  }
  // The handler did the writes; the runtime services were not used.
  EXPECT_EQ(Board.P.Faults().Count("SetVariable"), DirectWrites);
  EXPECT_EQ(Board.Stored(kSetup), WithByte(Board.Setup, SETUP_BIOS_SETUP_DEBUG_OFFSET, 0));
  EXPECT_EQ(Board.P.LiveAllocations(), 0u);
}

TEST(SmiVariablePath, KeyPressPacketsCarryTheSetOptions) {
  HotlatchBoard Board;
  sim::SmmVariableHandler &Smm = Board.AddSmmVariable();
  ASSERT_EQ(Board.Start(), EFI_SUCCESS);
  sim::Keyboard &Keyboard = Board.AddKeyboard();
  Keyboard.Install();

  Keyboard.Press(kDebugKeyStroke);

  ASSERT_EQ(Smm.Smis().size(), 6u);
  std::vector<UINT8> SetSetup =
      WithByte(WithByte(Board.Setup, SETUP_BIOS_SETUP_DEBUG_OFFSET, 1), SETUP_SECOND_DEBUG_OFFSET, 1);
  EXPECT_EQ(Smm.Smis()[3].Packet, ExpectedPacket(u"Setup", gSetupVariableGuid, SetSetup));
  EXPECT_EQ(Board.Stored(kSetup), SetSetup);
  EXPECT_EQ(Board.Stored(kSocketProc), WithByte(Board.SocketProc, PROC_HIDE_OFFSET, 1));
}

// After SMM ready-to-lock a handler on a platform with SMM memory protection can read only
// runtime, ACPI NVS and reserved memory: the packet and the request it is built from are
// runtime-services data, at the start and on the key alike, and both are freed.
TEST(SmiVariablePath, PacketAndRequestAreRuntimeServicesData) {
  HotlatchBoard Board;
  Board.AddSmmVariable();
  std::vector<std::optional<UINT32>> PacketTypes;
  std::vector<size_t> LiveRuntimeData;
  auto Answer = Board.P.OnSoftwareSmi;
  Board.P.OnSoftwareSmi = [&](UINT16 Port, UINT8 Value, UINT8 Ah, UINT64 Rbx, UINT64 Rsi) {
    PacketTypes.push_back(Board.P.PoolTypeOf(Rsi));
    PacketTypes.push_back(Board.P.PoolTypeOf(Rsi + Rbx - 1));
    LiveRuntimeData.push_back(Board.P.LiveAllocations(EfiRuntimeServicesData));
    Answer(Port, Value, Ah, Rbx, Rsi);
  };
  size_t Before = Board.P.LiveAllocations(EfiRuntimeServicesData);
  ASSERT_EQ(Board.Start(), EFI_SUCCESS);
  size_t AfterStart = Board.P.LiveAllocations(EfiRuntimeServicesData);
  sim::Keyboard &Keyboard = Board.AddKeyboard();
  Keyboard.Install();
  Keyboard.Press(kDebugKeyStroke);

  ASSERT_EQ(PacketTypes.size(), 12u);
  for (const std::optional<UINT32> &Type : PacketTypes) {
    EXPECT_EQ(Type, std::optional<UINT32>(EfiRuntimeServicesData));
  }
  // Request and packet: the two runtime blocks live during each SMI beside what the driver keeps.
  ASSERT_EQ(LiveRuntimeData.size(), 6u);
  for (size_t Index = 0; Index < LiveRuntimeData.size(); Index++) {
    EXPECT_EQ(LiveRuntimeData[Index], (Index < 3 ? Before : AfterStart) + 2) << Index;
  }
  EXPECT_EQ(Board.P.LiveAllocations(EfiRuntimeServicesData), AfterStart);
  EXPECT_EQ(Board.Stored(kSetup),
            WithByte(WithByte(Board.Setup, SETUP_BIOS_SETUP_DEBUG_OFFSET, 1), SETUP_SECOND_DEBUG_OFFSET, 1));
}

TEST(SmiVariablePath, StatusComesFromThePacket) {
  HotlatchBoard Board;
  Board.AddSmmVariable();
  Board.P.Faults().FailNth("SmmVariable.SoftwareSmi", 1, EFI_WRITE_PROTECTED);
  ASSERT_EQ(Board.Start(), EFI_SUCCESS);

  EXPECT_TRUE(Contains(Board.Lines(), "[BiosSetupDebug] Set Variable Failed....Write Protected"));
  EXPECT_EQ(Board.Stored(kSetup), Board.Setup);
  EXPECT_TRUE(Contains(Board.Lines(), "[PchHideOption] Set Variable PchRcConfig.PchHideOption Success....Success"));
}

// No handler answers the doorbell: the preset status is what the driver sees.
TEST(SmiVariablePath, UnansweredSmiReportsThePresetUnsupported) {
  HotlatchBoard Board;
  Board.AddSmmVariable();
  Board.P.OnSoftwareSmi = [](UINT16, UINT8, UINT8, UINT64, UINT64) {};
  ASSERT_EQ(Board.Start(), EFI_SUCCESS);

  EXPECT_TRUE(Contains(Board.Lines(), "[BiosSetupDebug] Set Variable Failed....Unsupported"));
  EXPECT_EQ(Board.Stored(kSetup), Board.Setup);
  EXPECT_EQ(Board.P.LiveAllocations(), 0u);
}

// The handler may arrive after the driver: it is looked up again for every write.
TEST(SmiVariablePath, HandlerInstalledAfterTheStartIsUsedByTheKey) {
  HotlatchBoard Board;
  sim::SmmVariableHandler &Smm = Board.P.Add<sim::SmmVariableHandler>(Board.P);
  ASSERT_EQ(Board.Start(), EFI_SUCCESS);
  EXPECT_TRUE(Smm.Smis().empty());
  sim::Keyboard &Keyboard = Board.AddKeyboard();
  Keyboard.Install();
  Smm.InstallProtocol();

  Keyboard.Press(kDebugKeyStroke);

  EXPECT_EQ(Smm.Smis().size(), 3u);
}

// The protocol's presence chooses the path; its interface is never used, and a platform
// may install it without one.
TEST(SmiVariablePath, ProtocolWithoutInterfaceStillChoosesTheSmiPath) {
  HotlatchBoard Board;
  sim::SmmVariableHandler &Smm = Board.P.Add<sim::SmmVariableHandler>(Board.P);
  Smm.InstallProtocol(/*NullInterface=*/true);
  const unsigned DirectWrites = Board.P.Faults().Count("SetVariable");
  ASSERT_EQ(Board.Start(), EFI_SUCCESS);

  ASSERT_EQ(Smm.Smis().size(), 3u);
  EXPECT_EQ(Smm.Smis()[0].Packet,
            ExpectedPacket(u"Setup", gSetupVariableGuid, WithByte(Board.Setup, SETUP_BIOS_SETUP_DEBUG_OFFSET, 0)));
  EXPECT_EQ(Board.P.Faults().Count("SetVariable"), DirectWrites);
}

TEST(SmiVariablePath, WritesAfterExitBootServicesAreRefusedUntouched) {
  HotlatchBoard Board;
  sim::SmmVariableHandler &Smm = Board.AddSmmVariable();
  ASSERT_EQ(Board.Start(), EFI_SUCCESS);
  sim::Keyboard &Keyboard = Board.AddKeyboard();
  Keyboard.Install();
  size_t Smis = Smm.Smis().size();
  Board.P.SystemTable()->ConOut = nullptr;

  Board.P.ExitBootServices();
  Board.ClearLines();
  Keyboard.Press(kDebugKeyStroke);

  // Refused before the SMM lookup: a boot-service call here would fail the test.
  EXPECT_EQ(Smm.Smis().size(), Smis);
  EXPECT_EQ(Board.Stored(kSetup), WithByte(Board.Setup, SETUP_BIOS_SETUP_DEBUG_OFFSET, 0));
  EXPECT_TRUE(
      Contains(Board.Lines(), "[BiosSetupDebug] Set Variable SetupConfig.BiosSetupDebug Failed....Unsupported"));
}

// --- The handler's side of the contract: what it refuses to act on.

std::vector<UINT8> GoodPacket() { return ExpectedPacket(u"Setup", gSetupVariableGuid, {1, 2, 3}); }

TEST(SmiPacketDecoding, AcceptsTheDriversPacket) {
  EFI_STATUS Status = EFI_UNSUPPORTED;
  std::vector<UINT8> Packet = GoodPacket();
  auto Write = sim::DecodeSmiVariablePacket(Packet, Packet.size(), Status);
  ASSERT_TRUE(Write.has_value());
  EXPECT_EQ(Status, EFI_SUCCESS);
  EXPECT_EQ(Write->Name, u"Setup");
  EXPECT_EQ(Write->Attributes, 7u);
  EXPECT_EQ(Write->Data, (std::vector<UINT8>{1, 2, 3}));
  EXPECT_TRUE(GuidEquals(Write->VendorGuid, gSetupVariableGuid));
}

TEST(SmiPacketDecoding, RefusesMalformedPackets) {
  struct Case {
    const char *What;
    std::function<void(std::vector<UINT8> &, UINT64 &)> Break;
    EFI_STATUS Status;
  };
  const std::vector<Case> Cases = {
      {"size disagreeing with RBX", [](auto &, UINT64 &Rbx) { Rbx -= 1; }, EFI_INVALID_PARAMETER},
      {"size field disagreeing with the bytes", [](auto &P, UINT64 &) { P[4] += 2; }, EFI_INVALID_PARAMETER},
      {"request data size too large", [](auto &P, UINT64 &) { P[16 + 10] = 4; }, EFI_INVALID_PARAMETER},
      {"request data size too small", [](auto &P, UINT64 &) { P[16 + 10] = 2; }, EFI_INVALID_PARAMETER},
      {"other request code", [](auto &P, UINT64 &) { P[16] = 5; }, EFI_UNSUPPORTED},
      {"append write", [](auto &P, UINT64 &) { P[16 + 6] |= 0x40; }, EFI_INVALID_PARAMETER},
      {"name not terminated",
       [](auto &P, UINT64 &Rbx) {
         P.resize(16 + 30 + 10);  // "Setup" without its terminator, no data
         P[4] = static_cast<UINT8>(P.size());
         P[5] = 0;
         P[16 + 10] = 0;
         Rbx = P.size();
       },
       EFI_INVALID_PARAMETER},
      {"empty name",
       [](auto &P, UINT64 &) {
         P[16 + 30] = 0;
         P[16 + 31] = 0;
       },
       EFI_INVALID_PARAMETER},
      {"truncated header",
       [](auto &P, UINT64 &Rbx) {
         P.resize(20);
         P[4] = 20;
         P[5] = 0;
         Rbx = 20;
       },
       EFI_INVALID_PARAMETER},
  };
  for (const Case &C : Cases) {
    std::vector<UINT8> Packet = GoodPacket();
    UINT64 Rbx = Packet.size();
    C.Break(Packet, Rbx);
    EFI_STATUS Status = EFI_SUCCESS;
    EXPECT_FALSE(sim::DecodeSmiVariablePacket(Packet, Rbx, Status).has_value()) << C.What;
    EXPECT_EQ(Status, C.Status) << C.What;
  }
}

TEST(SmiPacketDecoding, LeavesBytesWithoutTheSignatureAlone) {
  std::vector<UINT8> Packet = GoodPacket();
  Packet[0] = 'X';
  EFI_STATUS Status = EFI_WRITE_PROTECTED;
  EXPECT_FALSE(sim::DecodeSmiVariablePacket(Packet, Packet.size(), Status).has_value());
  EXPECT_EQ(Status, EFI_WRITE_PROTECTED);
  std::vector<UINT8> Short(8, 0);
  EXPECT_FALSE(sim::DecodeSmiVariablePacket(Short, Short.size(), Status).has_value());
}

// --- Sizes: computed without overflow; what the 32-bit size field cannot carry is refused.

TEST(VariableRequestSizes, SetupRequestAndPacket) {
  UINTN Request = 0;
  UINTN Packet = 0;
  ASSERT_TRUE(VariableRequestSizes(12, 1026, &Request, &Packet));
  EXPECT_EQ(Request, 1068u);
  EXPECT_EQ(Packet, 1084u);
}

TEST(VariableRequestSizes, RefusesWhatThePacketCannotDescribe) {
  UINTN Request = 0;
  UINTN Packet = 0;
  UINTN Largest = MAX_UINT32 - 46;
  EXPECT_TRUE(VariableRequestSizes(2, Largest - 2, &Request, &Packet));
  EXPECT_EQ(Packet, MAX_UINT32);
  EXPECT_FALSE(VariableRequestSizes(2, Largest - 1, &Request, &Packet));
  EXPECT_FALSE(VariableRequestSizes(2, MAX_UINTN, &Request, &Packet));
  EXPECT_FALSE(VariableRequestSizes(MAX_UINTN, 2, &Request, &Packet));
  EXPECT_FALSE(VariableRequestSizes(MAX_UINTN - 40, MAX_UINTN - 40, &Request, &Packet));
  EXPECT_FALSE(VariableRequestSizes(0x80000000ULL, 0x80000000ULL, &Request, &Packet));
}

}  // namespace
}  // namespace hotlatch_test
