// PCI records on boards with several root bridges: every read reaches the instance that
// decodes its bus, an endpoint carries the link of the bridge above it on its own root
// bridge, and the routing costs no reads of its own.
#include "RosterFixture.h"

#include <sim/Hob.h>

#include <functional>

namespace roster_test {
namespace {

using Reports = std::function<void(sim::PciRootBridge &Socket0, sim::PciRootBridge &Socket1)>;

// The devices of a two-socket board: a host bridge and one root port with an endpoint
// behind it per socket, links told apart. Low holds socket 0's buses, High socket 1's;
// they may be the same instance.
void AddTwoSocketDevices(sim::PciRootBridge &Low, sim::PciRootBridge &High, std::vector<PciExpectation> *Expected) {
  Low.AddEndpoint(0, 0, 0, {0x8086, 0x09A2, 0x06, 0x00, 0, 0});
  High.AddEndpoint(0x80, 0, 0, {0x8086, 0x09A2, 0x06, 0x00, 0, 0});
  AddEndpointBehindBridge(Low, {0, 1, 0, 0x01, sim::PciRootBridge::LinkStatus(3, 16), 1, 0x1000}, Expected);
  AddEndpointBehindBridge(High, {0x80, 2, 0, 0x81, sim::PciRootBridge::LinkStatus(2, 4), 2, 0x2000}, Expected);
}

struct Outcome {
  std::vector<std::vector<UINT8>> Images;
  std::vector<std::vector<sim::PciRootBridge::Read>> Reads;  // per instance, in handle order
  std::vector<size_t> ConfigurationCalls;
  bool Clean = false;  // no pool block left behind, the inventory event closed

  size_t TotalReads() const {
    size_t Total = 0;
    for (const auto &Log : Reads) {
      Total += Log.size();
    }
    return Total;
  }
  size_t Refused(size_t Instance) const {
    size_t Count = 0;
    for (const auto &Read : Reads[Instance]) {
      Count += EFI_ERROR(Read.Status) ? 1 : 0;
    }
    return Count;
  }
  bool ReadsWithin(size_t Instance, UINT8 First, UINT8 Last) const {
    for (const auto &Read : Reads[Instance]) {
      const UINT8 Bus = (UINT8)(Read.Address >> 24);
      if (Bus < First || Bus > Last) {
        return false;
      }
    }
    return true;
  }
};

// One inventory of a board whose root bridges Build adds; Arm may set faults after the
// driver started.
Outcome RunBoard(const std::function<std::vector<sim::PciRootBridge *>(sim::Platform &)> &Build,
                 const std::function<void(sim::Platform &)> &Arm = nullptr) {
  sim::Platform P;
  P.SetHobList(sim::HobListBuilder().Build());
  auto &Smbios = P.Add<sim::SmbiosTable>(P);
  AddBios(Smbios, {});
  AddOther(Smbios, 127);
  const std::vector<sim::PciRootBridge *> Bridges = Build(P);
  auto &Transport = P.Add<sim::ManagementTransport>(P);
  sim::LoadedDriver Driver = P.Load(sim::DriverImage::Roster);
  EXPECT_EQ(Driver.Start(), EFI_SUCCESS);
  const size_t Live = P.LiveAllocations();
  const size_t Events = P.OpenEventCount();
  if (Arm) {
    Arm(P);
  }
  sim::InstallInventoryTrigger(P);

  Outcome Result;
  Result.Images = InventoryImages(Transport);
  for (const sim::PciRootBridge *Bridge : Bridges) {
    Result.Reads.push_back(Bridge->Reads());
    Result.ConfigurationCalls.push_back(Bridge->ConfigurationCount());
  }
  Result.Clean = P.LiveAllocations() == Live && P.OpenEventCount() + 1 == Events;
  return Result;
}

// Socket 0 decodes buses 0x00-0x7F, socket 1 buses 0x80-0xFF; Report says what each tells
// of its buses through Configuration().
Outcome RunTwoSockets(std::vector<PciExpectation> *Expected, const Reports &Report = nullptr,
                      const std::function<void(sim::Platform &)> &Arm = nullptr) {
  return RunBoard(
      [&](sim::Platform &P) {
        auto &Socket0 = P.Add<sim::PciRootBridge>(P);
        Socket0.DecodeBuses(0x00, 0x7F);
        auto &Socket1 = P.Add<sim::PciRootBridge>(P);
        Socket1.DecodeBuses(0x80, 0xFF);
        if (Report) {
          Report(Socket0, Socket1);
        }
        AddTwoSocketDevices(Socket0, Socket1, Expected);
        return std::vector<sim::PciRootBridge *>{&Socket0, &Socket1};
      },
      Arm);
}

size_t SingleRootReads() {
  return RunBoard([](sim::Platform &P) {
           auto &Pci = P.Add<sim::PciRootBridge>(P);
           AddTwoSocketDevices(Pci, Pci, nullptr);
           return std::vector<sim::PciRootBridge *>{&Pci};
         })
      .TotalReads();
}

void ExpectImage(const Outcome &Result, const std::vector<PciExpectation> &Records) {
  ExpectedInventory Board;
  Board.Bios = BiosInfo{};
  Board.Pci = Records;
  const std::vector<UINT8> Built = BuildExpectedImage(Board);
  ASSERT_EQ(Result.Images.size(), 1u);
  EXPECT_TRUE(Result.Images[0] == Built) << FirstDifference(Result.Images[0], Built);
  EXPECT_TRUE(Result.Clean) << "a pool block was left behind or the inventory event stayed open";
}

TEST(PciRootBridgesTest, EndpointBehindTheSecondRootBridgeCarriesTheLinkOfItsOwnBridge) {
  std::vector<PciExpectation> Expected;
  const Outcome Result = RunTwoSockets(&Expected);
  ExpectImage(Result, Expected);
  EXPECT_EQ(Result.ConfigurationCalls, (std::vector<size_t>{1, 1})) << "the instances are found once per walk";
  EXPECT_EQ(Result.Refused(0) + Result.Refused(1), 0u) << "a read went to a root bridge that refuses its bus";
  EXPECT_EQ(Result.TotalReads(), SingleRootReads()) << "the routing made reads of its own";
}

// OVMF reports only the buses its enumeration handed out; the rest of each root bridge's
// window holds nothing reachable and is not read at all.
TEST(PciRootBridgesTest, BusesNoRootBridgeReportsReadAsAbsentWithoutARead) {
  std::vector<PciExpectation> Expected;
  const Outcome Result = RunTwoSockets(&Expected, [](sim::PciRootBridge &Socket0, sim::PciRootBridge &Socket1) {
    Socket0.ReportBuses(0x00, 0x01);
    Socket1.ReportBuses(0x80, 0x81);
    // Decoded by socket 0, yet outside what it reports: the bridge's endpoint reads absent.
    Socket0.AddBridge(0, 3, 0, 0x40, sim::PciRootBridge::LinkStatus(1, 1));
    Socket0.AddEndpoint(0x40, 0, 0, {0x8086, 0x4040, 0x02, 0x00, 0, 0});
  });
  ExpectImage(Result, Expected);
  EXPECT_TRUE(Result.ReadsWithin(0, 0x00, 0x01));
  EXPECT_TRUE(Result.ReadsWithin(1, 0x80, 0x81));
  EXPECT_EQ(Result.Refused(0) + Result.Refused(1), 0u);
  // Four buses probed instead of 256; the bridge to 0x40 costs its two own reads.
  EXPECT_EQ(Result.TotalReads(), SingleRootReads() - (256u - 4u) * 256u + 2u);
}

TEST(PciRootBridgesTest, OnOverlappingRangesTheFirstInstanceKeepsTheBus) {
  std::vector<PciExpectation> Expected;
  const Outcome Partial = RunBoard([&](sim::Platform &P) {
    auto &First = P.Add<sim::PciRootBridge>(P);
    First.DecodeBuses(0x00, 0x3F);
    auto &Second = P.Add<sim::PciRootBridge>(P);
    Second.DecodeBuses(0x20, 0xFF);  // another segment numbering its buses from 0x20 on
    AddEndpointBehindBridge(First, {0, 1, 0, 0x21, sim::PciRootBridge::LinkStatus(3, 8), 1, 0x1100}, &Expected);
    // The second instance's bridge on a shared bus is never seen.
    AddEndpointBehindBridge(Second, {0x20, 0, 0, 0x22, sim::PciRootBridge::LinkStatus(4, 16), 1, 0x2200}, nullptr);
    AddEndpointBehindBridge(Second, {0x40, 1, 0, 0x41, sim::PciRootBridge::LinkStatus(2, 2), 1, 0x2400}, &Expected);
    return std::vector<sim::PciRootBridge *>{&First, &Second};
  });
  ExpectImage(Partial, Expected);
  EXPECT_TRUE(Partial.ReadsWithin(1, 0x40, 0xFF));
  EXPECT_EQ(Partial.Refused(0) + Partial.Refused(1), 0u);

  // Two segments that both claim every bus: only the first is read.
  const Outcome Whole = RunBoard([](sim::Platform &P) {
    auto &Segment0 = P.Add<sim::PciRootBridge>(P);
    auto &Segment1 = P.Add<sim::PciRootBridge>(P);
    AddEndpointBehindBridge(Segment1, {0, 1, 0, 1, sim::PciRootBridge::LinkStatus(3, 8), 1, 0x3300}, nullptr);
    return std::vector<sim::PciRootBridge *>{&Segment0, &Segment1};
  });
  ExpectImage(Whole, {});
  EXPECT_EQ(Whole.Reads[0].size(), 65536u);
  EXPECT_EQ(Whole.Reads[1].size(), 0u);
}

// Without bus ranges a root bridge still gets the buses nobody claimed: each such bus goes
// to the first of these instances that accepts a read of it, and stays there.
TEST(PciRootBridgesTest, InstancesWithoutABusRangeAreReachedThroughTheReadsTheyAccept) {
  const std::vector<std::pair<std::string, Reports>> Cases = {
      {"no bus descriptor",
       [](sim::PciRootBridge &Socket0, sim::PciRootBridge &Socket1) {
         Socket0.ReportNoBusRange();
         Socket1.ReportNoBusRange();
       }},
      {"Configuration() unsupported",
       [](sim::PciRootBridge &Socket0, sim::PciRootBridge &Socket1) {
         Socket0.RefuseConfiguration();
         Socket1.RefuseConfiguration();
       }},
  };
  const size_t Baseline = SingleRootReads();
  for (const auto &[Name, Report] : Cases) {
    SCOPED_TRACE(Name);
    std::vector<PciExpectation> Expected;
    const Outcome Result = RunTwoSockets(&Expected, Report);
    ExpectImage(Result, Expected);
    // Socket 0 refuses each of socket 1's buses once; nothing else is read twice.
    EXPECT_EQ(Result.Refused(0), 128u);
    EXPECT_EQ(Result.Refused(1), 0u);
    EXPECT_EQ(Result.TotalReads(), Baseline + 128u);
  }
}

// A read the rightful instance fails by chance makes no owner: the instances after it that
// refuse the bus as well must not keep it, or every later read of the bus goes to one that
// refuses it. Here socket 0 fails the walk's first read (bus 0) and socket 1 refuses it.
TEST(PciRootBridgesTest, ABusEveryInstanceWithoutARangeRefusedOnceStaysOpenToThemAll) {
  std::vector<PciExpectation> Expected;
  const Outcome Result = RunTwoSockets(
      &Expected,
      [](sim::PciRootBridge &Socket0, sim::PciRootBridge &Socket1) {
        Socket0.ReportNoBusRange();
        Socket1.ReportNoBusRange();
      },
      [](sim::Platform &P) { P.Faults().FailNth("PciRootBridgeIo.Pci.Read", 1, EFI_DEVICE_ERROR); });
  // The root port on bus 0 and the link it gives its endpoint are read from socket 0.
  ExpectImage(Result, Expected);
  ASSERT_FALSE(Result.Reads[0].empty());
  EXPECT_EQ(Result.Reads[0].front().Status, EFI_DEVICE_ERROR);
  EXPECT_EQ(Result.Refused(0), 128u + 1u) << "socket 1's buses, one refusal each, and the failed read";
  EXPECT_EQ(Result.Refused(1), 1u) << "socket 1 was asked for bus 0 once, after the failed read";
  ASSERT_FALSE(Result.Reads[1].empty());
  EXPECT_EQ(Result.Reads[1].front().Address >> 24, 0u);
}

// An instance with a range owns its buses first, wherever it stands in handle order; one
// without takes what is left, and a bus it refuses as well reads absent, one refused read
// per probe, as on a single root bridge.
TEST(PciRootBridgesTest, InstancesWithARangeKeepTheirBusesBeforeOnesWithout) {
  std::vector<PciExpectation> Expected;
  const Outcome Result = RunTwoSockets(&Expected, [](sim::PciRootBridge &Socket0, sim::PciRootBridge &Socket1) {
    Socket0.ReportNoBusRange();
    Socket1.ReportBuses(0x80, 0x81);
  });
  ExpectImage(Result, Expected);
  EXPECT_TRUE(Result.ReadsWithin(1, 0x80, 0x81));
  EXPECT_EQ(Result.Refused(0), (0x100u - 0x82u) * 256u) << "the buses above socket 1's report go to socket 0";
}

TEST(PciRootBridgesTest, AFailedLookupLeavesTheOtherInstancesReachable) {
  std::vector<PciExpectation> Expected;
  const Outcome Result = RunTwoSockets(&Expected, nullptr, [](sim::Platform &P) {
    P.Faults().FailNth("HandleProtocol", 1, EFI_DEVICE_ERROR);  // socket 0's instance
    P.Faults().FailNth("PciRootBridgeIo.Configuration", 1, EFI_DEVICE_ERROR);  // then socket 1's
  });
  ExpectImage(Result, {Expected.begin() + 1, Expected.end()});
  EXPECT_EQ(Result.Reads[0].size(), 0u);
  EXPECT_EQ(Result.ConfigurationCalls, (std::vector<size_t>{0, 1}));

  const Outcome NoHandles = RunTwoSockets(
      nullptr, nullptr, [](sim::Platform &P) { P.Faults().FailNth("LocateHandleBuffer", 1, EFI_OUT_OF_RESOURCES); });
  ExpectImage(NoHandles, {});
  EXPECT_EQ(NoHandles.TotalReads(), 0u);
}

// On a single root bridge the reads are the same, read for read, whatever it reports of
// its buses, so its image and transcript cannot differ either.
TEST(PciRootBridgesTest, OneRootBridgeReadsTheSameWithOrWithoutABusRange) {
  auto Run = [](const std::function<void(sim::PciRootBridge &)> &Report) {
    const Outcome Result = RunBoard([&](sim::Platform &P) {
      auto &Pci = P.Add<sim::PciRootBridge>(P);
      Pci.DecodeBuses(0x00, 0x3F);
      Report(Pci);
      AddEndpointBehindBridge(Pci, {0, 1, 0, 0x10, sim::PciRootBridge::LinkStatus(3, 8), 2, 0x1000}, nullptr);
      Pci.AddBridge(0, 2, 0, 0x50, sim::PciRootBridge::LinkStatus(3, 8));  // leads past the decoded buses
      return std::vector<sim::PciRootBridge *>{&Pci};
    });
    std::vector<UINT64> Addresses;
    for (const auto &Read : Result.Reads[0]) {
      Addresses.push_back(Read.Address);
    }
    return Addresses;
  };
  const auto Decoded = Run([](sim::PciRootBridge &) {});
  const auto Everything = Run([](sim::PciRootBridge &Pci) { Pci.ReportBuses(0x00, 0xFF); });
  EXPECT_EQ(Everything.size(), 65536u + 32u);
  EXPECT_EQ(Run([](sim::PciRootBridge &Pci) { Pci.ReportNoBusRange(); }), Everything);
  EXPECT_EQ(Run([](sim::PciRootBridge &Pci) { Pci.RefuseConfiguration(); }), Everything);
  // Reporting only its decoded buses saves the refused probes of the others.
  EXPECT_EQ(Decoded.size(), Everything.size() - 0xC0u * 256u - 1u);
}

}  // namespace
}  // namespace roster_test
