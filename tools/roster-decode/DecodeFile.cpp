#include "DecodeFile.h"

#include <cstring>
#include <string_view>

#include "DecodeBytes.h"
#include "DecodeInventory.h"
#include "DecodeReport.h"
#include "DecodeSataInfo.h"
#include <InventoryLayout.h>

namespace RosterDecode {
namespace {

void DecodeReportFile(ByteView Content, FileFacts &File) {
  ReportContents Report = ParseReport(std::string_view(reinterpret_cast<const char *>(Content.data()), Content.size()));
  File.Problems = std::move(Report.Problems);
  for (const auto &Message : Report.Messages) {
    std::string Origin = Format("line %zu", Message.Line);
    if (Message.Call == TransportCall::SendLargeCommand && Message.CommandHeader == INVENTORY_COMMAND_HEADER) {
      File.Inventories.push_back(DecodeInventory(Message.Data));
      File.Inventories.back().Origin = Origin;
    } else if (Message.Call == TransportCall::SendCommand && Message.CommandHeader == SATA_INFO_COMMAND_HEADER) {
      File.Drives.push_back(DecodeSataInfo(Message.Data));
      File.Drives.back().Origin = Origin;
    } else {
      File.Notes.push_back(
          Format("%s: command header 0x%04X with %zu bytes is not an inventory or SATA_INFO "
                 "message; not decoded",
                 Origin.c_str(), Message.CommandHeader, Message.Data.size()));
    }
  }
}

}  // namespace

FileFacts DecodeFile(const std::string &Path, ByteView Content) {
  FileFacts File;
  File.Path = Path;
  // The signature decides first: an image's own text fields may spell a transport line.
  bool Signed = Content.size() >= OFFSET_OF(INVENTORY_HEADER, Signature) + sizeof(UINT32) &&
                std::memcmp(Content.data() + OFFSET_OF(INVENTORY_HEADER, Signature), "SHIM", 4) == 0;
  if (LooksLikeReport(Content) && (!Signed || Content.size() == sizeof(SATA_INFO))) {
    File.Kind = InputKind::HarnessReport;
    DecodeReportFile(Content, File);
  } else if (Content.size() == sizeof(SATA_INFO)) {
    // Only the length says this is a SATA_INFO message: with impossible fields it is not
    // one, and its values would merely look meaningful.
    File.Kind = InputKind::SataInfo;
    SataDriveFacts Drive = DecodeSataInfo(Content);
    if (!Drive.Problems.empty()) {
      Drive.Decoded = false;
      Drive.Problems.insert(
          Drive.Problems.begin(),
          Format("%zu bytes as a SATA_INFO message has, but impossible fields; not decoded", Content.size()));
    }
    File.Drives.push_back(Drive);
  } else {
    File.Kind = InputKind::InventoryImage;
    File.Inventories.push_back(DecodeInventory(Content));
  }
  return File;
}

bool HasProblems(const FileFacts &File) {
  if (!File.Problems.empty()) {
    return true;
  }
  for (const auto &Inventory : File.Inventories) {
    if (!Inventory.Problems.empty()) {
      return true;
    }
  }
  for (const auto &Drive : File.Drives) {
    if (!Drive.Problems.empty()) {
      return true;
    }
  }
  return false;
}

}  // namespace RosterDecode
