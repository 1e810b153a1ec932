// Reads the management-controller lines of a harness report: every command the transport
// received, printed as "BMC SendLargeCommand header=0x5AC8 length=<decimal> data=<hex>" or
// "BMC SendCommand header=0xA7E8 length=<decimal> data=<hex>". Other lines are ignored.
#pragma once

#include <string_view>

#include "DecodeTypes.h"

namespace RosterDecode {

enum class TransportCall { SendCommand, SendLargeCommand };

struct ReportMessage {
  size_t Line = 0;  // 1-based
  TransportCall Call = TransportCall::SendCommand;
  uint16_t CommandHeader = 0;
  std::vector<uint8_t> Data;
};

struct ReportContents {
  std::vector<ReportMessage> Messages;
  ProblemList Problems;  // one per line that names a transport call but cannot be read
};

// True when the bytes hold at least one line that names a transport call.
bool LooksLikeReport(ByteView Bytes);

ReportContents ParseReport(std::string_view Text);

}  // namespace RosterDecode
