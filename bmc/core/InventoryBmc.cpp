#include "InventoryBmc.h"

#include <algorithm>
#include <cstring>

#include "inventory/InventoryCheck.h"
#include <BmcInventorySummary.h>
#include <InventoryLayout.h>
#include <LargeCommandTransfer.h>

namespace RosterBmc {
namespace {

constexpr uint32_t kLargestImage = InventoryImageSize(Number_Of_CPU, Number_Of_DIMM, Number_Of_PCI);

uint8_t Saturated(uint32_t Count) { return static_cast<uint8_t>(std::min<uint32_t>(Count, 0xFF)); }

}  // namespace

InventoryBmc::InventoryBmc(const BmcOptions &Options, StateStore &Store, uint16_t SessionSeed)
    : Options(Options),
      Store(Store),
      Receiver(INVENTORY_COMMAND_HEADER, kLargestImage, SessionSeed,
               [this](ByteView Data, Bytes &) { return AcceptInventory(Data); }) {}

bool InventoryBmc::Handles(uint8_t NetFn, uint8_t Command) {
  return (NetFn == INVENTORY_NETFN && Command == INVENTORY_COMMAND) ||
         (NetFn == SATA_INFO_NETFN && Command == SATA_INFO_COMMAND) ||
         (NetFn == BMC_SUMMARY_NETFN && Command == BMC_SUMMARY_COMMAND);
}

Bytes InventoryBmc::Handle(uint8_t NetFn, uint8_t Command, ByteView Request) {
  if (NetFn == INVENTORY_NETFN && Command == INVENTORY_COMMAND) {
    return Receiver.Handle(Request);
  }
  if (NetFn == SATA_INFO_NETFN && Command == SATA_INFO_COMMAND) {
    return HandleSataInfo(Request);
  }
  if (NetFn == BMC_SUMMARY_NETFN && Command == BMC_SUMMARY_COMMAND) {
    if (!Request.empty()) {
      return Bytes{IPMI_CC_REQUEST_DATA_LENGTH_INVALID};
    }
    return Summary();
  }
  return Bytes{IPMI_CC_INVALID_COMMAND};
}

// Checked as every receiver checks an image; only a sound one replaces the stored one.
uint8_t InventoryBmc::AcceptInventory(ByteView Image) {
  if (!inventory::CheckImage(Image).Sound()) {
    return IPMI_CC_INVALID_DATA_FIELD;
  }
  if (!Store.StoreInventory(Image)) {
    return IPMI_CC_OUT_OF_SPACE;
  }
  SataSeen = 0;
  return IPMI_CC_SUCCESS;
}

Bytes InventoryBmc::HandleSataInfo(ByteView Request) {
  if (Request.size() != sizeof(SATA_INFO)) {
    return Bytes{IPMI_CC_REQUEST_DATA_LENGTH_INVALID};
  }
  // The configured failures stand for a busy controller: the message is not taken.
  if (SataSeen < Options.SataFailCount) {
    ++SataSeen;
    return Bytes{Options.SataFailCode};
  }
  if (!Store.StoreSata(Request)) {
    return Bytes{IPMI_CC_OUT_OF_SPACE};
  }
  return Bytes{IPMI_CC_SUCCESS};
}

Bytes InventoryBmc::Summary() const {
  BMC_INVENTORY_SUMMARY_RESPONSE Response;
  std::memset(&Response, 0, sizeof(Response));
  Response.CompletionCode = IPMI_CC_SUCCESS;
  Response.SataMessages = Saturated(Store.SataCount());
  auto Image = Store.ReadInventory();
  if (Image) {
    Response.StoredFlags = BMC_SUMMARY_INVENTORY_STORED;
    Response.TotalSize = static_cast<UINT32>(Image->size());
    inventory::ImageVerdict Verdict = inventory::CheckImage(*Image);
    if (Verdict.HeaderPresent) {
      INVENTORY_HEADER Header;
      std::memcpy(&Header, Image->data(), sizeof(Header));
      Response.HeaderVersion = Header.HeaderVersion;
      Response.HeaderSize = Header.HeaderSize;
      Response.StoredCrc32 = Header.Crc32;
      Response.ComputedCrc32 = Verdict.ComputedCrc;
      Response.BiosPresent = Header.BiosPresent;
      Response.IdentityPresent = Header.IdentityPresent;
      Response.CpuPresent = Header.CpuPresent;
      Response.DimmPresent = Header.DimmPresent;
      Response.PciPresent = Header.PciPresent;
      Response.RecordCount = Header.RecordCount;
      inventory::RecordCounts Counts = inventory::CountRecords(*Image);
      Response.CpuRecords = Saturated(Counts.Processors);
      Response.DimmRecords = Saturated(Counts.MemoryDevices);
      Response.PciRecords = Saturated(Counts.PciFunctions);
      Response.StoredFlags |= (Verdict.SignatureMatches && Verdict.VersionMatches ? BMC_SUMMARY_SIGNATURE_OK : 0) |
                              (Verdict.SizeAgrees ? BMC_SUMMARY_SIZE_AGREES : 0) |
                              (Verdict.CrcMatches ? BMC_SUMMARY_CRC_OK : 0) |
                              (Counts.FramingSound ? BMC_SUMMARY_RECORDS_FRAMED : 0);
    }
  }
  const auto *Raw = reinterpret_cast<const uint8_t *>(&Response);
  return Bytes(Raw, Raw + sizeof(Response));
}

}  // namespace RosterBmc
