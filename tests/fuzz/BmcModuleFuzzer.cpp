// The BMC module's core on whatever a host may send: chunked inventory steps, SATA_INFO
// messages and read-back requests in any order, some steps made consistent by the harness
// (the open session, the next offset, right CRCs) so that whole transfers and the store are
// reached, and store failures injected. Every answer is bounded and carries a completion
// code the module documents; the state directory only ever holds the module's own names,
// only whole and sound images and 65-byte messages; nothing appears beside it.
//
// Input: byte 0 sets the SATA fault option, then records of [operation, length, bytes].
#include <BmcInventorySummary.h>
#include <InventoryBmc.h>
#include <InventoryLayout.h>
#include <LargeCommandTransfer.h>
#include <crc32/Crc32.h>
#include <inventory/InventoryCheck.h>
#include <Crc16.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "FuzzInput.h"

namespace {

using RosterBmc::Bytes;
namespace fs = std::filesystem;

enum Operation : uint8_t {
  RawStep,  // a large-command request exactly as given
  FixedStep,  // a step the harness makes consistent with the transfer it has seen answered
  SataInfo,
  ReadBack,
  WholeImage,  // a sealed image built from the bytes, sent in chunks of a size they choose
  StoreFault,  // the store fails before a chosen step from now on, or no longer
  OperationCount
};

fs::path &Root() {
  static fs::path Path = [] {
    // A memory-backed folder when there is one: every store syncs.
    std::string Base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : fs::temp_directory_path().string();
    std::string Pattern = Base + "/bmc-fuzz-XXXXXX";
    FUZZ_CHECK(mkdtemp(Pattern.data()) != nullptr);
    std::atexit([] { fs::remove_all(Root()); });
    return fs::path(Pattern);
  }();
  return Path;
}

template <typename T>
Bytes Raw(const T &Value) {
  const auto *Start = reinterpret_cast<const uint8_t *>(&Value);
  return Bytes(Start, Start + sizeof(T));
}

struct Harness {
  RosterBmc::InventoryBmc &Bmc;
  uint8_t FailCode;
  uint16_t Session = 0;
  Bytes Sent;  // what the open session has accepted, as the harness saw it

  Bytes Call(uint8_t NetFn, uint8_t Command, const Bytes &Request) {
    Bytes Response = Bmc.Handle(NetFn, Command, Request);
    FUZZ_CHECK(!Response.empty() && Response.size() <= RosterBmc::InventoryBmc::MaxResponse);
    uint8_t Code = Response[0];
    FUZZ_CHECK(Code == IPMI_CC_SUCCESS || Code == IPMI_CC_OUT_OF_SPACE || Code == IPMI_CC_REQUEST_DATA_LENGTH_INVALID ||
               Code == IPMI_CC_REQUEST_DATA_TOO_LONG || Code == IPMI_CC_INVALID_DATA_FIELD || Code == FailCode);
    return Response;
  }

  Bytes Step(const Bytes &Request) {
    Bytes Response = Call(INVENTORY_NETFN, INVENTORY_COMMAND, Request);
    if (!Request.empty() && Request[0] == LARGE_COMMAND_STEP_OPEN && Response[0] == IPMI_CC_SUCCESS) {
      FUZZ_CHECK(Response.size() == sizeof(LARGE_COMMAND_OPEN_RESPONSE));
      uint16_t Id = static_cast<uint16_t>(Response[1] | Response[2] << 8);
      FUZZ_CHECK(Id != 0 && Id != Session);
      Session = Id;
      Sent.clear();
    }
    return Response;
  }

  void Fixed(const uint8_t *Data, size_t Size) {
    uint8_t Kind = Size > 0 ? Data[0] % 4 : 0;
    const uint8_t *Rest = Size > 1 ? Data + 1 : nullptr;
    size_t RestSize = Size > 1 ? Size - 1 : 0;
    if (Kind == 0) {
      uint32_t Total = 0;
      if (RestSize > 0) {
        std::memcpy(&Total, Rest, std::min<size_t>(RestSize, sizeof(Total)));
      }
      Step(Raw(LARGE_COMMAND_OPEN_REQUEST{LARGE_COMMAND_STEP_OPEN, 0, INVENTORY_COMMAND_HEADER, Total % 0x6000}));
    } else if (Kind == 1) {
      LARGE_COMMAND_WRITE_REQUEST Write{LARGE_COMMAND_STEP_WRITE, 0, Session, static_cast<UINT32>(Sent.size()),
                                        RosterBmc::Crc16CcittFalse({Rest, RestSize})};
      Bytes Request = Raw(Write);
      Request.insert(Request.end(), Rest, Rest + RestSize);
      if (Step(Request)[0] == IPMI_CC_SUCCESS) {
        Sent.insert(Sent.end(), Rest, Rest + RestSize);
      }
    } else if (Kind == 2) {
      Step(Raw(
          LARGE_COMMAND_COMMIT_REQUEST{LARGE_COMMAND_STEP_COMMIT, 0, Session, crc32::Crc32(Sent.data(), Sent.size())}));
    } else {
      Step(Raw(LARGE_COMMAND_ABORT_REQUEST{LARGE_COMMAND_STEP_ABORT, 0, Session}));
    }
  }

  void Whole(const uint8_t *Data, size_t Size) {
    size_t Chunk = Size > 0 ? 1 + Data[0] % LARGE_COMMAND_MAX_CHUNK : LARGE_COMMAND_MAX_CHUNK;
    Bytes Image(sizeof(INVENTORY_HEADER), 0);
    if (Size > 1) {
      Image.insert(Image.end(), Data + 1, Data + Size);
    }
    INVENTORY_HEADER Header{};
    Header.Signature = INVENTORY_SIGNATURE;
    Header.HeaderVersion = INVENTORY_HEADER_VERSION;
    Header.HeaderSize = static_cast<UINT32>(Image.size() - INVENTORY_UNCOUNTED_PREFIX);
    std::memcpy(Image.data(), &Header, sizeof(Header));
    uint32_t Crc = crc32::Crc32(Image.data() + INVENTORY_UNCOUNTED_PREFIX, Header.HeaderSize);
    std::memcpy(Image.data() + OFFSET_OF(INVENTORY_HEADER, Crc32), &Crc, sizeof(Crc));

    Step(Raw(LARGE_COMMAND_OPEN_REQUEST{LARGE_COMMAND_STEP_OPEN, 0, INVENTORY_COMMAND_HEADER,
                                        static_cast<UINT32>(Image.size())}));
    for (size_t Offset = 0; Offset < Image.size(); Offset += Chunk) {
      Bytes Write = {1};
      Write.insert(Write.end(), Image.begin() + Offset, Image.begin() + std::min(Image.size(), Offset + Chunk));
      Fixed(Write.data(), Write.size());
    }
    uint8_t Commit = 2;
    Fixed(&Commit, 1);
  }
};

void CheckStateDirectory(const fs::path &State) {
  for (const auto &Entry : fs::directory_iterator(Root())) {
    FUZZ_CHECK(Entry.path() == State);
  }
  if (!fs::exists(State)) {
    return;
  }
  for (const auto &Entry : fs::directory_iterator(State)) {
    std::string Name = Entry.path().filename().string();
    FUZZ_CHECK(Entry.is_regular_file() && !Entry.is_symlink());
    if (Name == RosterBmc::kInventoryFile) {
      RosterBmc::StateStore Reader;
      std::string Error;
      FUZZ_CHECK(Reader.Open(State.string(), Error));
      auto Image = Reader.ReadInventory();
      FUZZ_CHECK(Image && inventory::CheckImage(*Image).Sound());
    } else {
      FUZZ_CHECK(Name.size() == 11 && Name.rfind("sata-", 0) == 0 && Name.substr(7) == ".bin");
      FUZZ_CHECK(fs::file_size(Entry.path()) == sizeof(SATA_INFO));
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  if (Size == 0) {
    return 0;
  }
  fs::path State = Root() / "state";
  fs::remove_all(State);

  RosterBmc::BmcOptions Options;
  Options.SataFailCount = Data[0] & 3;
  Options.SataFailCode = (Data[0] & 4) != 0 ? 0xC0 : 0xFF;
  RosterBmc::StateStore Store;
  std::string Error;
  FUZZ_CHECK(Store.Open(State.string(), Error));
  RosterBmc::InventoryBmc Bmc(Options, Store, static_cast<uint16_t>(Data[0] << 8));
  Harness Host{Bmc, Options.SataFailCode};

  size_t At = 1;
  while (At + 2 <= Size) {
    uint8_t Operation = Data[At] % OperationCount;
    size_t Length = std::min<size_t>(Data[At + 1], Size - At - 2);
    const uint8_t *Body = Data + At + 2;
    At += 2 + Length;
    Bytes Request(Body, Body + Length);
    switch (Operation) {
      case RawStep:
        Host.Step(Request);
        break;
      case FixedStep:
        Host.Fixed(Body, Length);
        break;
      case SataInfo:
        Host.Call(SATA_INFO_NETFN, SATA_INFO_COMMAND, Request);
        break;
      case ReadBack: {
        Bytes Response = Host.Call(BMC_SUMMARY_NETFN, BMC_SUMMARY_COMMAND, Request);
        FUZZ_CHECK(Request.empty() ? Response.size() == sizeof(BMC_INVENTORY_SUMMARY_RESPONSE) : Response.size() == 1);
        break;
      }
      case WholeImage:
        Host.Whole(Body, Length);
        break;
      case StoreFault: {
        uint8_t Stage = Length > 0 ? Body[0] % 6 : 5;
        if (Stage == 5) {
          Store.FailBefore = nullptr;
        } else {
          Store.FailBefore = [Stage](RosterBmc::StoreStage Next) { return static_cast<uint8_t>(Next) != Stage; };
        }
        break;
      }
    }
  }
  CheckStateDirectory(State);
  return 0;
}
