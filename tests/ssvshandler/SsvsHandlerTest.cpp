// The handler image loaded into the simulator's MM environment: its start, the SMIs it
// claims and lets pass, served packets landing in the variable store, and hostile callers.
#include "SsvsPackets.h"

#include <sim/Platform.h>
#include <sim/peers/MmPlatform.h>

#include <Guid/SsvsHandlerStatistics.h>
#include <ssvshandler/SsvsPacket.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace ssvs_test {
namespace {

constexpr UINT16 kBootServiceDriver = 11;

UINT64 Address(const void *Pointer) { return reinterpret_cast<uintptr_t>(Pointer); }

class SsvsHandlerTest : public ::testing::Test {
 protected:
  sim::Platform P;
  sim::MmPlatform &Mm = P.Add<sim::MmPlatform>(P);
  std::unique_ptr<sim::LoadedDriver> Handler;

  EFI_STATUS Start() {
    Handler = std::make_unique<sim::LoadedDriver>(P.LoadModule(SSVS_HANDLER_MODULE_PATH, kBootServiceDriver));
    return Handler->Start();
  }
  void TearDown() override { Handler.reset(); }

  // A packet in ordinary memory, 8-byte aligned as pool is.
  struct Buffer {
    std::vector<UINT64> Words;
    size_t Size;
    explicit Buffer(const std::vector<UINT8> &Bytes) : Words((Bytes.size() + 7) / 8 + 1), Size(Bytes.size()) {
      std::memcpy(Words.data(), Bytes.data(), Bytes.size());
    }
    UINT8 *Bytes() { return reinterpret_cast<UINT8 *>(Words.data()); }
    UINT64 Status() { return Get<UINT64>(std::vector<UINT8>(Bytes(), Bytes() + Size), kStatus); }
  };

  void Raise(UINT64 Rbx, UINT64 Rsi, UINT8 Ah = SMI_VARIABLE_SERVICE_AH, UINTN Writer = 0) {
    Mm.RaiseSoftwareSmi(Writer, SMI_VARIABLE_COMMAND_VALUE, Ah, Rbx, Rsi);
  }

  const sim::VariableStore::Variable *Written(std::u16string_view Name = u"Setup") {
    return P.Variables().Find(Name, kVendor);
  }
  SSVS_HANDLER_STATISTICS Statistics() {
    SSVS_HANDLER_STATISTICS Result{};
    const sim::VariableStore::Variable *Stored =
        P.Variables().Find(SSVS_HANDLER_STATISTICS_NAME, gSsvsHandlerStatisticsGuid);
    if (Stored != nullptr && Stored->Data.size() == sizeof(Result)) {
      std::memcpy(&Result, Stored->Data.data(), sizeof(Result));
      EXPECT_EQ(Stored->Attributes, SSVS_HANDLER_STATISTICS_ATTRIBUTES);
    }
    return Result;
  }
};

TEST_F(SsvsHandlerTest, StartsAsARootHandlerWhereNoDispatcherIs) {
  ASSERT_EQ(Start(), EFI_SUCCESS);
  EXPECT_EQ(Mm.RootHandlerCount(), 1u);
  EXPECT_EQ(Mm.SwChildCount(), 0u);
  // Ranges and the copy buffer, both in MMRAM, kept for the whole boot.
  EXPECT_EQ(Mm.LivePoolAllocations(), 2u);
  EXPECT_EQ(Mm.SmmSetVariableCalls(), 0u);
}

TEST_F(SsvsHandlerTest, StartsAsADispatchedChildWhereADispatcherIs) {
  Mm.InstallSwDispatch();
  ASSERT_EQ(Start(), EFI_SUCCESS);
  EXPECT_EQ(Mm.RootHandlerCount(), 0u);
  EXPECT_EQ(Mm.SwChildCount(), 1u);

  Buffer Packet(BuildPacket());
  Mm.Cpus[1].Rax = 0x21EC;  // a decoy: the dispatcher names CPU 0
  Mm.HandlerCpu = 1;
  Raise(Packet.Size, Address(Packet.Bytes()));
  EXPECT_EQ(Packet.Status(), EFI_SUCCESS);
  ASSERT_NE(Written(), nullptr);
  EXPECT_EQ(Written()->Data, std::vector<UINT8>({1, 2, 3, 4, 5, 6, 7}));
}

TEST_F(SsvsHandlerTest, RefusesToStartWithoutItsServices) {
  struct Case {
    const char *What;
    void (sim::MmPlatform::*Remove)();
    EFI_STATUS Expected;
  };
  const Case Cases[] = {
      {"no MM variable service", &sim::MmPlatform::RemoveSmmVariable, EFI_NOT_FOUND},
      {"no MM CPU protocol", &sim::MmPlatform::RemoveMmCpu, EFI_NOT_FOUND},
      {"no MMRAM description", &sim::MmPlatform::RemoveSmmAccess, EFI_NOT_FOUND},
  };
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.What);
    (Mm.*C.Remove)();
    EXPECT_EQ(Start(), C.Expected);
    EXPECT_EQ(Mm.RootHandlerCount(), 0u);
    EXPECT_EQ(Mm.LivePoolAllocations(), 0u);
    Handler.reset();
  }
}

TEST_F(SsvsHandlerTest, ServesAPacketAndPublishesTheCount) {
  ASSERT_EQ(Start(), EFI_SUCCESS);
  Buffer Packet(BuildPacket({.Name = u"SocketProcessorCoreConfig", .Data = {0x10, 0x20, 0x30}, .Attributes = 3}));
  Raise(Packet.Size, Address(Packet.Bytes()));

  EXPECT_EQ(Packet.Status(), EFI_SUCCESS);
  const sim::VariableStore::Variable *Stored = Written(u"SocketProcessorCoreConfig");
  ASSERT_NE(Stored, nullptr);
  EXPECT_EQ(Stored->Attributes, 3u);
  EXPECT_EQ(Stored->Data, std::vector<UINT8>({0x10, 0x20, 0x30}));
  EXPECT_EQ(Mm.HandlerResults(), std::vector<EFI_STATUS>({EFI_SUCCESS}));
  EXPECT_EQ(Statistics().Served, 1u);
  EXPECT_EQ(Statistics().Refused, 0u);
  auto *Exported = static_cast<SSVS_HANDLER_STATISTICS *>(Handler->Symbol("mSsvsStatistics"));
  ASSERT_NE(Exported, nullptr);
  EXPECT_EQ(Exported->Served, 1u);

  // The variable service's answer is the caller's answer.
  P.Faults().FailNth("SmmVariable.SmmSetVariable", 1, EFI_WRITE_PROTECTED);
  Buffer Second(BuildPacket({.Name = u"Setup", .Data = {0xEE}}));
  Raise(Second.Size, Address(Second.Bytes()));
  EXPECT_EQ(Second.Status(), EFI_WRITE_PROTECTED);
  EXPECT_EQ(Written(), nullptr);
  EXPECT_EQ(Statistics().Served, 2u);
}

TEST_F(SsvsHandlerTest, LetsOtherInterruptsPass) {
  ASSERT_EQ(Start(), EFI_SUCCESS);
  Mm.ApmControl = 0x04;  // another command value on the port
  Mm.RaiseOtherMmi();
  Buffer Packet(BuildPacket());
  Mm.RaiseSoftwareSmi(0, 0x05, SMI_VARIABLE_SERVICE_AH, Packet.Size, Address(Packet.Bytes()));
  EXPECT_EQ(Mm.HandlerResults(),
            std::vector<EFI_STATUS>({EFI_WARN_INTERRUPT_SOURCE_QUIESCED, EFI_WARN_INTERRUPT_SOURCE_QUIESCED}));
  EXPECT_EQ(Packet.Status(), EFI_UNSUPPORTED);
  EXPECT_EQ(Mm.SmmSetVariableCalls(), 0u);
}

TEST_F(SsvsHandlerTest, FindsTheWriterWhenAnotherCpuRunsTheHandlers) {
  ASSERT_EQ(Start(), EFI_SUCCESS);
  Buffer Packet(BuildPacket());
  Mm.Cpus[0].Rax = 0x1234;  // the elected CPU did not write the port
  Mm.HandlerCpu = 0;
  Raise(Packet.Size, Address(Packet.Bytes()), SMI_VARIABLE_SERVICE_AH, 1);
  EXPECT_EQ(Packet.Status(), EFI_SUCCESS);
  EXPECT_NE(Written(), nullptr);
}

TEST_F(SsvsHandlerTest, TheSavedIoInstructionOutranksTheRegisters) {
  ASSERT_EQ(Start(), EFI_SUCCESS);
  // CPU 0 runs the handlers and its AX looks like a request, for a packet that is not one.
  Buffer Decoy(BuildPacket({.Signature = 0x44434F59}));
  Mm.Cpus[0].Rax = 0x21EC;
  Mm.Cpus[0].Rbx = Decoy.Size;
  Mm.Cpus[0].Rsi = Address(Decoy.Bytes());
  Mm.HandlerCpu = 0;
  Buffer Packet(BuildPacket());
  Mm.RaiseSoftwareSmi(1, SMI_VARIABLE_COMMAND_VALUE, SMI_VARIABLE_SERVICE_AH, Packet.Size, Address(Packet.Bytes()),
                      /*SaveStateIo=*/true);
  EXPECT_EQ(Packet.Status(), EFI_SUCCESS);
  EXPECT_EQ(Decoy.Status(), EFI_UNSUPPORTED);
  EXPECT_NE(Written(), nullptr);
}

// Each hostile caller is refused with nothing written to the store, and the handler goes on
// serving: an honest packet after every one of them is written.
TEST_F(SsvsHandlerTest, RefusesHostilePacketsAndKeepsServing) {
  ASSERT_EQ(Start(), EFI_SUCCESS);
  const std::vector<UINT8> Honest = BuildPacket({.Name = u"Honest", .Data = {0x42}});
  const EFI_STATUS Untouched = EFI_UNSUPPORTED;

  struct Case {
    std::string What;
    std::vector<UINT8> Bytes;
    // Where the packet is put: ordinary memory, inside MMRAM, or straddling MMRAM's start.
    enum { Ordinary, InMmram, StraddleStart } Where = Ordinary;
    INT64 RbxDelta = 0;
    UINT8 Ah = SMI_VARIABLE_SERVICE_AH;
    EFI_STATUS Expected;
  };
  std::vector<UINT8> Base = BuildPacket();
  std::vector<UINT8> LongData = Base;
  Put<UINT32>(LongData, kDataSize, Get<UINT32>(Base, kDataSize) + 2);
  std::vector<UINT8> Huge(SSVS_MAX_PACKET_SIZE + 8, 0);
  Put<UINT32>(Huge, 0, SMI_VARIABLE_PACKET_SIGNATURE);
  Put<UINT32>(Huge, kPacketSize, static_cast<UINT32>(Huge.size()));
  Put<UINT64>(Huge, kStatus, EFI_UNSUPPORTED);

  std::vector<Case> Cases = {
      {"a packet inside MMRAM", Base, Case::InMmram, 0, SMI_VARIABLE_SERVICE_AH, Untouched},
      {"a packet running into MMRAM", Base, Case::StraddleStart, 0, SMI_VARIABLE_SERVICE_AH, EFI_ACCESS_DENIED},
      {"RBX one short of the size field", Base, Case::Ordinary, -1, SMI_VARIABLE_SERVICE_AH, EFI_INVALID_PARAMETER},
      {"RBX one past the size field", Base, Case::Ordinary, 1, SMI_VARIABLE_SERVICE_AH, EFI_INVALID_PARAMETER},
      {"data size past the packet", LongData, Case::Ordinary, 0, SMI_VARIABLE_SERVICE_AH, EFI_INVALID_PARAMETER},
      {"an unterminated name", BuildPacket({.Name = u"Setup", .Data = {}, .Terminate = false}), Case::Ordinary, 0,
       SMI_VARIABLE_SERVICE_AH, EFI_INVALID_PARAMETER},
      {"a bad signature", BuildPacket({.Signature = 0x53565352}), Case::Ordinary, 0, SMI_VARIABLE_SERVICE_AH,
       EFI_INVALID_PARAMETER},
      {"another request code", BuildPacket({.Function = 5}), Case::Ordinary, 0, SMI_VARIABLE_SERVICE_AH,
       EFI_UNSUPPORTED},
      {"an append write", BuildPacket({.Attributes = kAttributes | EFI_VARIABLE_APPEND_WRITE}), Case::Ordinary, 0,
       SMI_VARIABLE_SERVICE_AH, EFI_INVALID_PARAMETER},
      {"another AH", Base, Case::Ordinary, 0, 0x22, Untouched},
      {"a packet above the largest served", Huge, Case::Ordinary, 0, SMI_VARIABLE_SERVICE_AH, Untouched},
  };

  UINT64 Refused = 0;
  UINT64 Served = 0;
  for (const Case &C : Cases) {
    SCOPED_TRACE(C.What);
    UINT8 *Where = nullptr;
    Buffer Ordinary(C.Bytes);
    switch (C.Where) {
      case Case::Ordinary:
        Where = Ordinary.Bytes();
        break;
      case Case::InMmram:
        Where = Mm.FreeMmram(C.Bytes.size() + 8);
        break;
      case Case::StraddleStart:
        // The packet's last 16 bytes are MMRAM's first; the rest lies in memory just below.
        Where = Mm.MmramBase() - (C.Bytes.size() - 16);
        break;
    }
    std::memcpy(Where, C.Bytes.data(), C.Bytes.size());
    const std::vector<UINT8> Before(Where, Where + C.Bytes.size());
    unsigned Writes = P.Variables().WriteCount();

    Raise(static_cast<UINT64>(static_cast<INT64>(C.Bytes.size()) + C.RbxDelta), Address(Where), C.Ah);

    EXPECT_EQ(Written(), nullptr);
    EXPECT_EQ(P.Variables().WriteCount(), Writes + 1);  // the statistics alone
    EXPECT_EQ(Statistics().Refused, ++Refused);
    EXPECT_EQ(Get<UINT64>(std::vector<UINT8>(Where, Where + C.Bytes.size()), kStatus), C.Expected);
    // Nothing but the status field changed in the caller's bytes.
    std::vector<UINT8> After(Where, Where + C.Bytes.size());
    Put<UINT64>(After, kStatus, Get<UINT64>(Before, kStatus));
    EXPECT_EQ(After, Before);

    Buffer Next(Honest);
    Raise(Next.Size, Address(Next.Bytes()));
    EXPECT_EQ(Next.Status(), EFI_SUCCESS);
    EXPECT_EQ(Statistics().Served, ++Served);
    P.Variables().Remove(u"Honest", kVendor);
  }
}

TEST_F(SsvsHandlerTest, RefusesAPacketThatReachesIntoASecondMmramRange) {
  Buffer Packet(BuildPacket());
  // MMRAM's second range begins on the packet's last byte.
  Mm.ExtraMmram = {{Address(Packet.Bytes()) + Packet.Size - 1, Address(Packet.Bytes()) + Packet.Size - 1, 0x1000, 0}};
  ASSERT_EQ(Start(), EFI_SUCCESS);
  Raise(Packet.Size, Address(Packet.Bytes()));
  EXPECT_EQ(Packet.Status(), EFI_ACCESS_DENIED);
  EXPECT_EQ(Written(), nullptr);
}

TEST_F(SsvsHandlerTest, RefusesRegistersThatWrapOrPointNowhere) {
  ASSERT_EQ(Start(), EFI_SUCCESS);
  // None of these may be read or written: a touch would crash the test.
  Raise(0x40, MAX_UINTN - 15);  // size + 16 wraps
  Raise(MAX_UINTN, 0x1000);  // RBX of 2^64-1: not even the status is written
  Raise(SSVS_MAX_PACKET_SIZE + 1ULL, 0x1000);
  Raise(0x40, 0);
  EXPECT_EQ(Statistics().Refused, 4u);
  EXPECT_EQ(Mm.SmmSetVariableCalls(), 4u);  // the statistics alone
}

// Once SMRAM is locked an EDK II SMM core unmaps boot-services memory: a packet there would
// fault in SMM, so it is refused unread, and its status (in the same pages) left alone.
TEST_F(SsvsHandlerTest, AfterReadyToLockRefusesPacketsInMemoryTheCoreUnmaps) {
  ASSERT_EQ(Start(), EFI_SUCCESS);
  EXPECT_EQ(Mm.ProtocolNotifyCount(), 1u);
  struct PageBuffer {
    UINT8 *Bytes = static_cast<UINT8 *>(std::aligned_alloc(4096, 8192));
    ~PageBuffer() { std::free(Bytes); }
  } BootData, RuntimeData;
  const std::vector<UINT8> Packet = BuildPacket();
  std::memcpy(BootData.Bytes, Packet.data(), Packet.size());
  std::memcpy(RuntimeData.Bytes, Packet.data(), Packet.size());
  Mm.MemoryMap = {{EfiBootServicesData, Address(BootData.Bytes), 0, 2, 0},
                  {EfiRuntimeServicesData, Address(RuntimeData.Bytes), 0, 2, 0},
                  {EfiConventionalMemory, 0x100000, 0, 0x100, 0}};

  // Before the lock the core maps everything: the boot-services packet is served.
  Raise(Packet.size(), Address(BootData.Bytes));
  EXPECT_EQ(Get<UINT64>(std::vector<UINT8>(BootData.Bytes, BootData.Bytes + 16), kStatus), EFI_SUCCESS);
  P.Variables().Remove(u"Setup", kVendor);
  std::memcpy(BootData.Bytes, Packet.data(), Packet.size());

  Mm.SignalReadyToLock();
  EXPECT_EQ(Mm.LivePoolAllocations(), 2u);  // the ranges replaced, not added
  Raise(Packet.size(), Address(BootData.Bytes));
  EXPECT_EQ(Get<UINT64>(std::vector<UINT8>(BootData.Bytes, BootData.Bytes + 16), kStatus), EFI_UNSUPPORTED);
  EXPECT_EQ(Written(), nullptr);
  Raise(0x40, 0x100000 - 8);  // a packet whose last bytes reach into free memory: never read
  EXPECT_EQ(Statistics().Refused, 2u);

  Raise(Packet.size(), Address(RuntimeData.Bytes));
  EXPECT_EQ(Get<UINT64>(std::vector<UINT8>(RuntimeData.Bytes, RuntimeData.Bytes + 16), kStatus), EFI_SUCCESS);
  EXPECT_NE(Written(), nullptr);
  // MMRAM is still refused.
  UINT8 *InMmram = Mm.FreeMmram(Packet.size() + 8);
  std::memcpy(InMmram, Packet.data(), Packet.size());
  Raise(Packet.size(), Address(InMmram));
  EXPECT_EQ(Get<UINT64>(std::vector<UINT8>(InMmram, InMmram + 16), kStatus), EFI_UNSUPPORTED);
  EXPECT_EQ(Statistics().Refused, 3u);
}

TEST_F(SsvsHandlerTest, UsesTheCopyWhenTheCallerChangesThePacket) {
  ASSERT_EQ(Start(), EFI_SUCCESS);
  Buffer Packet(BuildPacket({.Name = u"Setup", .Data = {1, 1, 1, 1}}));
  // While the variable service runs (the handler has checked the packet), another CPU
  // rewrites the sizes, the name and the data in the caller's memory.
  bool Changed = false;
  Mm.DuringSetVariable = [&] {
    if (Changed) {
      return;
    }
    Changed = true;
    std::vector<UINT8> Bytes(Packet.Bytes(), Packet.Bytes() + Packet.Size);
    Put<UINT32>(Bytes, kPacketSize, 0x7FFFFFFF);
    Put<UINT32>(Bytes, kDataSize, 0x7FFFFFF0);
    Put<CHAR16>(Bytes, kName, u'Z');
    Bytes.back() = 0xEE;
    std::memcpy(Packet.Bytes(), Bytes.data(), Bytes.size());
  };
  Raise(Packet.Size, Address(Packet.Bytes()));
  EXPECT_TRUE(Changed);
  ASSERT_NE(Written(u"Setup"), nullptr);
  EXPECT_EQ(Written(u"Setup")->Data, std::vector<UINT8>({1, 1, 1, 1}));
  EXPECT_EQ(P.Variables().Find(u"Zetup", kVendor), nullptr);
  EXPECT_EQ(Packet.Status(), EFI_SUCCESS);
}

}  // namespace
}  // namespace ssvs_test
