// The KCS transport against a BMC whose every answer, fault and timing comes from the
// input: response bytes of any length and content, error states at chosen writes, an input
// buffer that sticks, late or missing answers, and a type 38 structure of any bytes. Whatever
// the BMC does, the host keeps the interface's rules (no write while IBF is set, no data read
// without OBF), every call ends within its time bound with one of the documented statuses,
// and nothing is written past the response length offered.
//
// Input (FuzzedDataProvider): flags, fault positions, the response delay, the type 38
// bytes, the large command's length, the length offered, then the scripted answers.
#include <fuzzer/FuzzedDataProvider.h>

#include <Library/UefiBootServicesTableLib.h>
#include <kcstransport/KcsTransport.h>
#include <sim/Hob.h>
#include <sim/Platform.h>
#include <sim/peers/KcsDevice.h>
#include <sim/peers/SmbiosTable.h>

#include <deque>
#include <vector>

#include "FuzzInput.h"

namespace {

constexpr UINT64 kMessageBound = KCS_MESSAGE_BUDGET_US + KCS_RECOVERY_BUDGET_US;

bool Documented(EFI_STATUS Status) {
  return Status == EFI_SUCCESS || Status == EFI_NOT_READY || Status == EFI_UNSUPPORTED ||
         Status == EFI_OUT_OF_RESOURCES || Status == EFI_BAD_BUFFER_SIZE || Status == EFI_DEVICE_ERROR ||
         Status == EFI_TIMEOUT;
}

void CheckPorts(const std::vector<UINT8> &Record) {
  if (Record.size() < sizeof(SMBIOS_STRUCTURE)) {
    return;
  }
  std::vector<UINT8> Exact = Record;
  Exact.resize(std::max<size_t>(sizeof(SMBIOS_STRUCTURE), std::min<size_t>(Record.size(), Record[1])));
  Exact[1] = (UINT8)std::min<size_t>(Exact.size(), Record[1]);
  UINT16 Data = 0, Status = 0;
  if (KcsPortsFromSmbios(reinterpret_cast<const SMBIOS_STRUCTURE *>(Exact.data()), &Data, &Status)) {
    FUZZ_CHECK(Data != 0);
    FUZZ_CHECK(Status == Data + 1 || Status == Data + 4 || Status == Data + 16);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Bytes, size_t Size) {
  FuzzedDataProvider Input(Bytes, Size);
  const UINT8 Flags = Input.ConsumeIntegral<UINT8>();
  const UINT16 ErrorAt1 = Input.ConsumeIntegral<UINT16>();
  const UINT16 ErrorAt2 = Input.ConsumeIntegral<UINT16>();
  const UINT16 StickAt = Input.ConsumeIntegral<UINT16>();
  const UINT32 Delay = Input.ConsumeIntegral<UINT32>();
  const std::vector<UINT8> Type38 = Input.ConsumeBytes<UINT8>(Input.ConsumeIntegralInRange<size_t>(0, 24));
  const size_t LargeLength = Input.ConsumeIntegralInRange<size_t>(0, 2500);
  const UINT8 Offered = Input.ConsumeIntegral<UINT8>();
  std::deque<std::vector<UINT8>> Script;
  while (Input.remaining_bytes() > 0 && Script.size() < 64) {
    const UINT8 Kind = Input.ConsumeIntegral<UINT8>();
    std::vector<UINT8> Answer = Input.ConsumeBytes<UINT8>(Input.ConsumeIntegralInRange<size_t>(0, Kind & 0x3F));
    if ((Kind & 0x80) != 0) {
      Answer.insert(Answer.begin(), 0xFF);  // a marker: the right header goes in front of it
    }
    Script.push_back(std::move(Answer));
  }
  CheckPorts(Type38);

  sim::Platform P;
  sim::Platform::BindHostHooks(&gArchHostHooks);
  P.SetHobList(sim::HobListBuilder().Build());
  if ((Flags & 0x04) != 0 && Type38.size() >= sizeof(SMBIOS_STRUCTURE)) {
    auto &Smbios = P.Add<sim::SmbiosTable>(P);
    // Any formatted area, but one the table holds whole: a structure's Length never
    // reaches past its table (the SMBIOS producer checks that when it adds one).
    std::vector<UINT8> Record = Type38;
    Record[0] = 38;
    Record.resize(std::max<size_t>(Record.size(), Record[1]));
    Record.push_back(0);
    Record.push_back(0);
    Smbios.AddBytes(Record);
  }
  sim::KcsDevice *Device = nullptr;
  if ((Flags & 0x08) == 0) {
    Device = &P.Add<sim::KcsDevice>(P);
    Device->HoldInputWhileProcessing = (Flags & 0x01) != 0;
    Device->StuckInError = (Flags & 0x02) != 0;
    Device->ByteDelay = (Flags & 0x10) != 0 ? (Delay & 0xFF) : 0;
    Device->ResponseDelay = (Flags & 0x20) != 0 ? sim::KcsDevice::kNever : (Delay >> 8) % 1500000;
    for (UINT16 At : {ErrorAt1, ErrorAt2}) {
      if (At != 0) {
        Device->ErrorAtWrites.insert(At);
      }
    }
    if (StickAt != 0 && (Flags & 0x40) != 0) {
      Device->StickInputAtWrite = StickAt;
    }
    Device->Answer([&Script](const std::vector<UINT8> &Request) {
      if (Script.empty()) {
        // Past the script the BMC agrees, with a session id for an OPEN.
        return sim::KcsDevice::Reply(Request, 0x00, {0x01, 0x00});
      }
      std::vector<UINT8> Answer = std::move(Script.front());
      Script.pop_front();
      if (!Answer.empty() && Answer[0] == 0xFF) {
        return sim::KcsDevice::Reply(
            Request, Answer.size() > 1 ? Answer[1] : 0x00,
            std::vector<UINT8>(Answer.begin() + std::min<size_t>(2, Answer.size()), Answer.end()));
      }
      return Answer;
    });
  }

  // Fresh module state, as a newly loaded image has.
  mKcs = KCS_INTERFACE{};
  EFI_HANDLE Image = P.CreateImageHandle(EfiBootServicesCode);
  gST = P.SystemTable();
  gBS = P.BootServices();
  gImageHandle = Image;
  FUZZ_CHECK(KcsTransportStart(Image, P.SystemTable()) == EFI_SUCCESS);
  const auto Handles = P.HandlesWith(gManagementTransportProtocolGuid);
  FUZZ_CHECK(Handles.size() == 1);
  auto *Transport =
      static_cast<MANAGEMENT_TRANSPORT_PROTOCOL *>(P.InterfaceOn(Handles[0], gManagementTransportProtocolGuid));

  std::vector<UINT8> Large(LargeLength);
  for (size_t Index = 0; Index < Large.size(); Index++) {
    Large[Index] = (UINT8)(Index * 7 + (Flags >> 4));
  }
  std::vector<UINT8> Response(300, 0xEE);
  UINT8 Length = Offered;
  UINT64 Start = P.Microseconds();
  EFI_STATUS Status = Transport->SendLargeCommand(Transport, 0x5AC8, Large.empty() ? nullptr : Large.data(),
                                                  Large.size(), Response.data(), &Length, nullptr);
  FUZZ_CHECK(Documented(Status));
  FUZZ_CHECK(Length <= Offered);
  const UINT64 Chunks = (LargeLength + LARGE_COMMAND_MAX_CHUNK - 1) / LARGE_COMMAND_MAX_CHUNK;
  // OPEN, each chunk twice at most, COMMIT and an ABORT.
  FUZZ_CHECK(P.Microseconds() - Start <= (3 + 2 * Chunks + 1) * kMessageBound);

  for (int Call = 0; Call < 3; Call++) {
    std::vector<UINT8> Sata(65, (UINT8)Call);
    Length = Offered;
    Start = P.Microseconds();
    Status = Transport->SendCommand(Transport, 0xA7E8, Sata.data(), 65, Response.data(), &Length, nullptr);
    FUZZ_CHECK(Documented(Status));
    FUZZ_CHECK(Length <= Offered);
    FUZZ_CHECK(P.Microseconds() - Start <= kMessageBound);
    if (Device == nullptr) {
      FUZZ_CHECK(Status == EFI_DEVICE_ERROR && P.Microseconds() == Start);
    }
  }
  for (size_t Index = Offered; Index < Response.size(); Index++) {
    FUZZ_CHECK(Response[Index] == 0xEE);
  }
  if (Device != nullptr) {
    FUZZ_CHECK(Device->Violations().empty());
  }
  return 0;
}
