// Every platform call of one whole inventory fails in turn: the driver must neither crash
// nor leak, and its event must close.
#include "RosterFixture.h"

#include <sim/Hob.h>

#include <iostream>
#include <map>

namespace roster_test {
namespace {

// A board that reaches every path once: BIOS, a processor, two memory devices, one bridge
// with a two-function endpoint, identity, transport and two disks (one AHCI).
struct SmallBoard {
  sim::PciRootBridge *Pci = nullptr;
  explicit SmallBoard(sim::Platform &P) {
    P.SetHobList(sim::HobListBuilder().Build());
    auto &Smbios = P.Add<sim::SmbiosTable>(P);
    AddBios(Smbios, {});
    AddProcessor(Smbios, {});
    AddMemoryDevice(Smbios, {});
    AddMemoryDevice(Smbios, {});
    AddOther(Smbios, 127);
    Pci = &P.Add<sim::PciRootBridge>(P);
    AddEndpointBehindBridge(*Pci, {0, 1, 0, 1, sim::PciRootBridge::LinkStatus(3, 8), 2, 0x1000}, nullptr);
    P.Add<sim::PlatformIdentity>(P, 1, 2, 3, 4);
    P.Add<sim::ManagementTransport>(P);
    P.Add<sim::DiskInfoDisk>(P, AhciDisk(true, 1, sim::IdentifyData().Model("M").Serial(" S").Sectors28(1000000)));
    sim::DiskInfoSetup Nvme;
    Nvme.Interface = gEfiDiskInfoNvmeInterfaceGuid;
    P.Add<sim::DiskInfoDisk>(P, Nvme);
  }
};

struct CallToFail {
  std::string Service;
  unsigned Nth;  // counted from the trigger on
};

// The calls of a clean inventory. Of the configuration reads only those that touch a
// present function are taken: the tens of thousands of probes of empty addresses all fail
// the same way.
std::vector<CallToFail> CleanRunCalls() {
  sim::Platform P;
  SmallBoard Board(P);
  sim::LoadedDriver Driver = P.Load(sim::DriverImage::Roster);
  EXPECT_EQ(Driver.Start(), EFI_SUCCESS);
  const size_t First = P.Faults().CallLog().size();
  const size_t FirstRead = Board.Pci->ReadCount();
  sim::InstallInventoryTrigger(P);

  std::vector<CallToFail> Calls;
  std::map<std::string, unsigned> Seen;
  const auto &Log = P.Faults().CallLog();
  for (size_t Index = First; Index < Log.size(); Index++) {
    const unsigned Nth = ++Seen[Log[Index]];
    if (Log[Index] == "PciRootBridgeIo.Pci.Read") {
      const UINT64 Address = Board.Pci->Reads()[FirstRead + Nth - 1].Address;
      if (!Board.Pci->IsPresent((UINT8)(Address >> 24), (UINT8)(Address >> 16), (UINT8)(Address >> 8))) {
        continue;
      }
    }
    Calls.push_back({Log[Index], Nth});
  }
  return Calls;
}

TEST(RosterFaultInjectionTest, EachCallOfAnInventoryFailsInTurn) {
  const std::vector<CallToFail> Calls = CleanRunCalls();
  ASSERT_GT(Calls.size(), 50u);
  std::map<std::string, unsigned> Services;
  for (const CallToFail &Call : Calls) {
    Services[Call.Service]++;
  }
  std::cout << "[ metrics  ] calls failed in turn: " << Calls.size() << " of " << Services.size() << " services\n";

  for (const CallToFail &Call : Calls) {
    if (Call.Service == "FreePool") {
      continue;  // a block the platform refuses to take back is its leak, not the driver's
    }
    SCOPED_TRACE(Call.Service + " #" + std::to_string(Call.Nth));
    sim::Platform P;
    SmallBoard Board(P);
    sim::LoadedDriver Driver = P.Load(sim::DriverImage::Roster);
    ASSERT_EQ(Driver.Start(), EFI_SUCCESS);
    const size_t Live = P.LiveAllocations();
    const size_t Events = P.OpenEventCount();

    P.Faults().FailNth(Call.Service, Call.Nth, EFI_DEVICE_ERROR);
    sim::InstallInventoryTrigger(P);

    EXPECT_EQ(P.LiveAllocations(), Live) << "leak";
    if (Call.Service == "CloseEvent") {
      continue;  // the platform kept the event open; nothing the driver can do about it
    }
    EXPECT_EQ(P.OpenEventCount() + 1, Events) << "the inventory event stayed open";
  }
}

}  // namespace
}  // namespace roster_test
