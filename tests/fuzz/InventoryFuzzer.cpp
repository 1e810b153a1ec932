// One whole inventory on a board made from the input: SMBIOS structures of any type, length
// and string set; PCI functions with arbitrary configuration space (bridges, capability
// lists, bus numbers); disks with any interface, device path, WhichIde answer and IDENTIFY
// words; identity words; transport answers. The driver is started and the trigger installed
// once, in a simulated platform, as on a real board; afterwards no pool may be left and the
// event must be closed (the platform's teardown checks the pool; see SimFailurePolicy.cpp).
//
// What the platform promises its callers holds here too: every SMBIOS structure ends with
// two NULs and its Length covers its header; a device-path node's length covers the bytes
// the node holds (a length under 4 may still appear), and the path ends with an end node.
#include <fuzzer/FuzzedDataProvider.h>

#include <Guid/DebugMessageConfig.h>
#include <sim/Hob.h>
#include <sim/Platform.h>
#include <sim/peers/DiskInfoDisk.h>
#include <sim/peers/ManagementTransport.h>
#include <sim/peers/PciRootBridge.h>
#include <sim/peers/PlatformIdentity.h>
#include <sim/peers/SmbiosTable.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "FuzzInput.h"
#include "ModuleSnapshot.h"

namespace {

// The module built next to the fuzzer, or a copy named by ROSTER_FUZZ_MODULE (a long
// campaign keeps its own copy while the tree is rebuilt).
ModuleSnapshot &Driver() {
  const char *Chosen = std::getenv("ROSTER_FUZZ_MODULE");
  static ModuleSnapshot Module(Chosen != nullptr ? Chosen : ROSTER_FUZZ_MODULE);
  return Module;
}

constexpr UINT8 kInterestingTypes[] = {0, 4, 7, 17, 127, 1, 2};

void AddSmbios(FuzzedDataProvider &Input, sim::Platform &P) {
  auto &Table = P.Add<sim::SmbiosTable>(P);
  const unsigned Count = Input.ConsumeIntegralInRange<unsigned>(0, 20);
  for (unsigned Index = 0; Index < Count && Input.remaining_bytes() > 0; Index++) {
    const UINT8 Type = Input.ConsumeBool() ? Input.PickValueInArray(kInterestingTypes) : Input.ConsumeIntegral<UINT8>();
    const UINT8 Length = Input.ConsumeIntegralInRange<UINT8>(4, 0xFF);
    std::vector<UINT8> Bytes = Input.ConsumeBytes<UINT8>(Length);
    Bytes.resize(Length, 0);
    Bytes[0] = Type;
    Bytes[1] = Length;
    std::vector<UINT8> Strings = Input.ConsumeBytes<UINT8>(Input.ConsumeIntegralInRange<size_t>(0, 300));
    Bytes.insert(Bytes.end(), Strings.begin(), Strings.end());
    Bytes.push_back(0);
    Bytes.push_back(0);
    Table.AddBytes(std::move(Bytes));
  }
}

// One to three root bridges, as on a two-socket board with an expander. The input picks each
// one's decoded buses and what its Configuration() says of them (the same range, another
// one, no bus range, or a refusal), and which bridge holds each function, so ranges that
// overlap, miss a function or claim nothing at all are all reached.
void AddPci(FuzzedDataProvider &Input, sim::Platform &P) {
  const unsigned BridgeCount = Input.ConsumeIntegralInRange<unsigned>(1, 3);
  std::vector<sim::PciRootBridge *> Bridges;
  for (unsigned Index = 0; Index < BridgeCount; Index++) {
    Bridges.push_back(&P.Add<sim::PciRootBridge>(P));
  }
  const unsigned Count = Input.ConsumeIntegralInRange<unsigned>(0, 12);
  for (unsigned Index = 0; Index < Count && Input.remaining_bytes() > 0; Index++) {
    sim::PciRootBridge &Pci = *Bridges[Input.ConsumeIntegralInRange<size_t>(0, Bridges.size() - 1)];
    // Buses near 0 and near 0x80, where a second root bridge's range starts.
    const UINT8 Bus = (UINT8)(Input.ConsumeIntegralInRange<UINT8>(0, 4) | (Input.ConsumeBool() ? 0x80 : 0));
    const UINT8 Device = Input.ConsumeIntegralInRange<UINT8>(0, 31);
    const UINT8 Function = Input.ConsumeIntegralInRange<UINT8>(0, 7);
    sim::PciRootBridge::ConfigSpace &Space = Pci.AddFunction(Bus, Device, Function);
    std::vector<UINT8> Bytes = Input.ConsumeBytes<UINT8>(Input.ConsumeIntegralInRange<size_t>(0, 256));
    std::copy(Bytes.begin(), Bytes.end(), Space.begin());
  }
  for (size_t Index = 0; Index < Bridges.size(); Index++) {
    sim::PciRootBridge *Pci = Bridges[Index];
    // A real root bridge decodes a window of buses, and its Configuration() names the ones
    // enumeration handed out; the walk reads only those. By default each bridge decodes the
    // window its functions were placed in (buses 0-7, or 0x80-0x87 for the later ones), so
    // an input does not pay for 65,536 reads of empty buses that all answer alike; the input
    // may still pick any window, the whole 0-255 included.
    if (Input.ConsumeBool()) {
      const UINT8 First = Input.ConsumeIntegral<UINT8>();
      Pci->DecodeBuses(First, std::max(First, Input.ConsumeIntegral<UINT8>()));
    } else {
      const UINT8 First = Index == 0 ? 0x00 : 0x80;
      Pci->DecodeBuses(First, (UINT8)(First + 7));
    }
    switch (Input.ConsumeIntegralInRange<unsigned>(0, 3)) {
      case 1: {
        const UINT8 First = Input.ConsumeIntegral<UINT8>();
        Pci->ReportBuses(First, std::max(First, Input.ConsumeIntegral<UINT8>()));
        break;
      }
      case 2:
        Pci->ReportNoBusRange();
        break;
      case 3:
        Pci->RefuseConfiguration();
        break;
      default:
        break;  // reports what it decodes
    }
  }
}

std::vector<UINT8> DevicePath(FuzzedDataProvider &Input) {
  std::vector<UINT8> Path;
  if (Input.ConsumeBool()) {
    const UINT8 Device = Input.ConsumeBool() ? 0x17 : 0x11;
    return sim::SataDevicePath(Device, Device == 0x17 ? 0 : 5, Input.ConsumeIntegral<UINT16>());
  }
  const unsigned Nodes = Input.ConsumeIntegralInRange<unsigned>(0, 5);
  for (unsigned Index = 0; Index < Nodes; Index++) {
    const UINT8 Type = Input.ConsumeIntegralInRange<UINT8>(1, 4);
    const UINT8 SubType = Input.ConsumeIntegral<UINT8>();
    std::vector<UINT8> Body = Input.ConsumeBytes<UINT8>(Input.ConsumeIntegralInRange<size_t>(0, 24));
    // Mostly the honest length; now and then one shorter than a node header.
    UINT16 Length = Input.ConsumeIntegralInRange<UINT8>(0, 15) == 0 ? Input.ConsumeIntegralInRange<UINT16>(0, 3)
                                                                    : (UINT16)(4 + Body.size());
    Path.insert(Path.end(), {Type, SubType, (UINT8)(Length & 0xFF), (UINT8)(Length >> 8)});
    Path.insert(Path.end(), Body.begin(), Body.end());
  }
  Path.insert(Path.end(), {0x7F, 0xFF, 0x04, 0x00});
  return Path;
}

void AddDisks(FuzzedDataProvider &Input, sim::Platform &P) {
  const unsigned Count = Input.ConsumeIntegralInRange<unsigned>(0, 3);
  static const EFI_GUID kInterfaces[] = {gEfiDiskInfoAhciInterfaceGuid, gEfiDiskInfoIdeInterfaceGuid,
                                         gEfiDiskInfoNvmeInterfaceGuid};
  static const EFI_STATUS kStatuses[] = {EFI_SUCCESS, EFI_SUCCESS, EFI_SUCCESS, EFI_DEVICE_ERROR, EFI_UNSUPPORTED};
  for (unsigned Index = 0; Index < Count && Input.remaining_bytes() > 0; Index++) {
    sim::DiskInfoSetup Setup;
    Setup.Interface = Input.PickValueInArray(kInterfaces);
    if (Input.ConsumeIntegralInRange<UINT8>(0, 7) != 0) {
      Setup.DevicePath = DevicePath(Input);
    }
    Setup.IdeChannel = Input.ConsumeIntegral<UINT32>();
    Setup.IdeDevice = Input.ConsumeIntegral<UINT32>();
    Setup.WhichIdeStatus = Input.PickValueInArray(kStatuses);
    Setup.IdentifyStatus = Input.PickValueInArray(kStatuses);
    std::vector<UINT8> Identify = Input.ConsumeBytes<UINT8>(512);
    std::copy(Identify.begin(), Identify.end(), Setup.Identify.begin());
    P.Add<sim::DiskInfoDisk>(P, Setup);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  ModuleSnapshot &Module = Driver();
  Module.Restore();
  FuzzedDataProvider Input(Data, Size);
  {
    sim::Platform P;
    P.Faults().KeepCallLog(false);
    P.SetHobList(sim::HobListBuilder().Build());
    if (Input.ConsumeBool()) {
      std::vector<UINT8> Config(23, 0);
      Config[0] = 4;  // every message but pool and page ones: the message paths run too
      P.Variables().Put(kDebugMessageConfigName, gDebugMessageConfigGuid,
                        EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS, Config);
    }
    auto &Transport = P.Add<sim::ManagementTransport>(P);
    static const EFI_STATUS kAnswers[] = {EFI_SUCCESS, EFI_DEVICE_ERROR, EFI_TIMEOUT};
    std::vector<EFI_STATUS> Script;
    for (unsigned Index = Input.ConsumeIntegralInRange<unsigned>(0, 4); Index > 0; Index--) {
      Script.push_back(Input.PickValueInArray(kAnswers));
    }
    Transport.Script(Input.ConsumeBool() ? sim::ManagementTransport::Member::SendCommand
                                         : sim::ManagementTransport::Member::SendLargeCommand,
                     Script);
    if (Input.ConsumeBool()) {
      P.Add<sim::PlatformIdentity>(P, Input.ConsumeIntegral<UINT16>(), Input.ConsumeIntegral<UINT16>(),
                                   Input.ConsumeIntegral<UINT16>(), Input.ConsumeIntegral<UINT16>());
    }
    AddSmbios(Input, P);
    AddPci(Input, P);
    AddDisks(Input, P);

    sim::Platform::BindHostHooks(static_cast<ARCH_HOST_HOOKS *>(Module.Symbol("gArchHostHooks")));
    EFI_HANDLE Image = P.CreateImageHandle(EfiBootServicesCode, Module.Base(), Module.Size());
    auto Entry = reinterpret_cast<EFI_IMAGE_ENTRY_POINT>(Module.Symbol("_ModuleEntryPoint"));
    if (!EFI_ERROR(Entry(Image, P.SystemTable()))) {
      const size_t Events = P.OpenEventCount();
      const size_t Live = P.LiveAllocations();
      sim::InstallInventoryTrigger(P);
      // The inventory runs once and leaves nothing behind, whatever the board said.
      FUZZ_CHECK(P.OpenEventCount() + 1 == Events);
      FUZZ_CHECK(P.LiveAllocations() == Live);
      // Each image the transport saw is a whole one: its header's size is its length.
      for (const auto &Request : Transport.RequestsOf(sim::ManagementTransport::Member::SendLargeCommand)) {
        FUZZ_CHECK(Request.Data.size() >= 67);
      }
    }
  }
  return 0;
}
