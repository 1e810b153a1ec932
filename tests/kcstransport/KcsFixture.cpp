#include "KcsFixture.h"

#include <crc32/Crc32.h>
#include <sim/Hob.h>

#include <cstring>

namespace kcs_test {

UINT16 ReferenceCrc16(const UINT8 *Data, size_t Length) {
  UINT16 Crc = 0xFFFF;
  for (size_t Index = 0; Index < Length; Index++) {
    for (int Bit = 7; Bit >= 0; Bit--) {
      const bool In = ((Data[Index] >> Bit) & 1) != 0;
      const bool Top = (Crc & 0x8000) != 0;
      Crc = (UINT16)(Crc << 1);
      if (In != Top) {
        Crc ^= 0x1021;
      }
    }
  }
  return Crc;
}

std::vector<UINT8> LargeCommandBmc::Answer(const std::vector<UINT8> &Request, UINT8 Code, std::vector<UINT8> Data) {
  return sim::KcsDevice::Reply(Request, Code, std::move(Data));
}

std::vector<UINT8> LargeCommandBmc::operator()(const std::vector<UINT8> &Request) {
  if (Request.size() < 2 || (UINT16)(Request[0] | (Request[1] << 8)) != Header_) {
    Breaches.push_back("request under another header");
    return Answer(Request, IPMI_CC_INVALID_COMMAND);
  }
  const std::vector<UINT8> Data(Request.begin() + 2, Request.end());
  const UINT8 Step = Data.empty() ? 0 : Data[0];
  if (Step < LARGE_COMMAND_STEP_OPEN || Step > LARGE_COMMAND_STEP_ABORT) {
    Plain++;
    Commands.push_back(Data);
    return Answer(Request, IPMI_CC_SUCCESS);
  }
  const unsigned Index = StepCount[Step]++;
  Opens += Step == LARGE_COMMAND_STEP_OPEN ? 1 : 0;
  Commits += Step == LARGE_COMMAND_STEP_COMMIT ? 1 : 0;
  Aborts += Step == LARGE_COMMAND_STEP_ABORT ? 1 : 0;
  if (Step == LARGE_COMMAND_STEP_WRITE && Data.size() >= sizeof(LARGE_COMMAND_WRITE_REQUEST)) {
    WriteOffsets.push_back((UINT32)Data[4] | ((UINT32)Data[5] << 8) | ((UINT32)Data[6] << 16) |
                           ((UINT32)Data[7] << 24));
    WriteLengths.push_back(Data.size() - sizeof(LARGE_COMMAND_WRITE_REQUEST));
  }
  if (Override) {
    if (auto Code = Override(Step, Index)) {
      if (Step == LARGE_COMMAND_STEP_COMMIT || Step == LARGE_COMMAND_STEP_ABORT) {
        Session = 0;
      }
      return Answer(Request, *Code);
    }
  }
  auto Field16 = [&](size_t Offset) { return (UINT16)(Data[Offset] | (Data[Offset + 1] << 8)); };
  auto Field32 = [&](size_t Offset) {
    return (UINT32)Data[Offset] | ((UINT32)Data[Offset + 1] << 8) | ((UINT32)Data[Offset + 2] << 16) |
           ((UINT32)Data[Offset + 3] << 24);
  };
  switch (Step) {
    case LARGE_COMMAND_STEP_OPEN: {
      if (Data.size() != sizeof(LARGE_COMMAND_OPEN_REQUEST) || Data[1] != 0) {
        Breaches.push_back("OPEN of " + std::to_string(Data.size()) + " bytes or reserved byte set");
        return Answer(Request, IPMI_CC_REQUEST_DATA_LENGTH_INVALID);
      }
      if (Field16(2) != Header_) {
        Breaches.push_back("OPEN for another target header");
      }
      Session = NextSessionId++;
      Total = Field32(4);
      Bytes.clear();
      LastWrite.clear();
      if (OpenAnswer) {
        return Answer(Request, IPMI_CC_SUCCESS, *OpenAnswer);
      }
      return Answer(Request, IPMI_CC_SUCCESS, {(UINT8)Session, (UINT8)(Session >> 8)});
    }
    case LARGE_COMMAND_STEP_WRITE: {
      if (Data.size() <= sizeof(LARGE_COMMAND_WRITE_REQUEST) ||
          Data.size() > sizeof(LARGE_COMMAND_WRITE_REQUEST) + LARGE_COMMAND_MAX_CHUNK) {
        Breaches.push_back("WRITE of " + std::to_string(Data.size()) + " bytes");
        return Answer(Request, IPMI_CC_REQUEST_DATA_LENGTH_INVALID);
      }
      if (Session == 0 || Field16(2) != Session) {
        Breaches.push_back("WRITE to a session that is not open");
        return Answer(Request, IPMI_CC_NOT_SUPPORTED_IN_PRESENT_STATE);
      }
      const UINT32 Offset = Field32(4);
      const std::vector<UINT8> Chunk(Data.begin() + sizeof(LARGE_COMMAND_WRITE_REQUEST), Data.end());
      if (ReferenceCrc16(Chunk.data(), Chunk.size()) != Field16(8)) {
        Breaches.push_back("chunk CRC-16 wrong at offset " + std::to_string(Offset));
        return Answer(Request, IPMI_CC_INVALID_DATA_FIELD);
      }
      if (Data == LastWrite) {
        return Answer(Request, IPMI_CC_SUCCESS);  // a repeat changes nothing
      }
      if (Offset != Bytes.size() || Offset + Chunk.size() > Total) {
        Breaches.push_back("WRITE at offset " + std::to_string(Offset) + " with " + std::to_string(Bytes.size()) +
                           " of " + std::to_string(Total) + " bytes received");
        return Answer(Request, IPMI_CC_INVALID_DATA_FIELD);
      }
      Bytes.insert(Bytes.end(), Chunk.begin(), Chunk.end());
      LastWrite = Data;
      return Answer(Request, IPMI_CC_SUCCESS);
    }
    case LARGE_COMMAND_STEP_COMMIT: {
      const bool Matches = Data.size() == sizeof(LARGE_COMMAND_COMMIT_REQUEST) && Session != 0 && Field16(2) == Session;
      const UINT16 Ended = Session;
      Session = 0;  // whatever the outcome
      if (!Matches || Ended == 0) {
        Breaches.push_back("COMMIT without its session");
        return Answer(Request, IPMI_CC_NOT_SUPPORTED_IN_PRESENT_STATE);
      }
      if (Bytes.size() != Total) {
        Breaches.push_back("COMMIT with " + std::to_string(Bytes.size()) + " of " + std::to_string(Total) + " bytes");
        return Answer(Request, IPMI_CC_REQUEST_DATA_LENGTH_INVALID);
      }
      if (crc32::Crc32(Bytes.data(), Bytes.size()) != Field32(4)) {
        Breaches.push_back("COMMIT CRC-32 wrong");
        return Answer(Request, IPMI_CC_INVALID_DATA_FIELD);
      }
      Commands.push_back(Bytes);
      return Answer(Request, IPMI_CC_SUCCESS, CommitData);
    }
    default: {
      const bool Matches = Data.size() == sizeof(LARGE_COMMAND_ABORT_REQUEST) && Session != 0 && Field16(2) == Session;
      if (!Matches) {
        return Answer(Request, IPMI_CC_INVALID_DATA_FIELD);
      }
      Session = 0;
      return Answer(Request, IPMI_CC_SUCCESS);
    }
  }
}

KcsTest::KcsTest() { P.SetHobList(sim::HobListBuilder().Build()); }

sim::KcsDevice &KcsTest::Device(UINT16 DataPort, UINT16 StatusPort) {
  if (Device_ == nullptr) {
    Device_ = &P.Add<sim::KcsDevice>(P, DataPort, StatusPort);
  }
  return *Device_;
}

void KcsTest::StartTransport() {
  // An earlier copy makes way, so the new one is what LocateProtocol finds.
  for (EFI_HANDLE Handle : P.HandlesWith(gManagementTransportProtocolGuid)) {
    P.UninstallProtocol(Handle, gManagementTransportProtocolGuid,
                        P.InterfaceOn(Handle, gManagementTransportProtocolGuid));
  }
  Loaded.push_back(P.LoadModule(KCS_TRANSPORT_MODULE, 11));
  ASSERT_EQ(Loaded.back().Start(), EFI_SUCCESS);
  VOID *Interface = nullptr;
  ASSERT_EQ(
      P.BootServices()->LocateProtocol(const_cast<EFI_GUID *>(&gManagementTransportProtocolGuid), nullptr, &Interface),
      EFI_SUCCESS);
  Transport = static_cast<MANAGEMENT_TRANSPORT_PROTOCOL *>(Interface);
}

KcsTest::Result KcsTest::Call(bool Large, UINT16 Header, const std::vector<UINT8> &Data, UINT8 Offered) {
  std::vector<UINT8> Buffer(256, 0xEE);
  std::vector<UINT8> Request = Data;
  UINT8 *Bytes = Request.empty() ? nullptr : Request.data();
  UINT8 Length = Offered;
  const UINT64 Start = P.Microseconds();
  Result R{};
  R.Status =
      Large ? Transport->SendLargeCommand(Transport, Header, Bytes, Request.size(), Buffer.data(), &Length, nullptr)
            : Transport->SendCommand(Transport, Header, Bytes, (UINT8)Request.size(), Buffer.data(), &Length, nullptr);
  R.Microseconds = P.Microseconds() - Start;
  EXPECT_LE(Length, Offered) << "the response length grew past what was offered";
  R.Response.assign(Buffer.begin(), Buffer.begin() + std::min<size_t>(Length, Buffer.size()));
  for (size_t Index = Offered; Index < Buffer.size(); Index++) {
    EXPECT_EQ(Buffer[Index], 0xEE) << "written past the offered length at " << Index;
  }
  return R;
}

std::vector<UINT8> Pattern(size_t Length, UINT32 Seed) {
  std::vector<UINT8> Bytes(Length);
  UINT32 State = Seed * 2654435761u + 1;
  for (auto &Byte : Bytes) {
    State = State * 1103515245u + 12345u;
    Byte = (UINT8)(State >> 16);
  }
  return Bytes;
}

}  // namespace kcs_test
