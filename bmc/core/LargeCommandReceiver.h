// The BMC's end of a large command moved in chunks (interfaces/LargeCommandTransfer.h): one
// session at a time, in-order writes with their CRC-16, a commit that checks the whole
// transfer's CRC-32 and then hands exactly the TotalLength bytes to the command's consumer.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace RosterBmc {

using ByteView = std::span<const uint8_t>;
using Bytes = std::vector<uint8_t>;

class LargeCommandReceiver {
 public:
  // Consumes a complete, CRC-checked transfer and answers with a completion code and the
  // large command's own response bytes (appended to Response).
  using Consumer = std::function<uint8_t(ByteView Data, Bytes &Response)>;

  // TargetHeader: the one large command this receiver takes. MaxLength: the largest
  // TotalLength it accepts. SessionSeed: where the session ids start, so that a restarted
  // BMC hands out other ids than its previous run (pass a random value).
  LargeCommandReceiver(uint16_t TargetHeader, uint32_t MaxLength, uint16_t SessionSeed, Consumer Consume);

  // One transfer step as it arrived (the request data after network function and command);
  // returns the response, completion code first.
  Bytes Handle(ByteView Request);

  bool SessionOpen() const { return Open; }
  uint16_t CurrentSession() const { return SessionId; }

 private:
  Bytes HandleOpen(ByteView Request);
  Bytes HandleWrite(ByteView Request);
  Bytes HandleCommit(ByteView Request);
  Bytes HandleAbort(ByteView Request);
  bool NamesOpenSession(uint16_t Id) const { return Open && Id == SessionId; }
  void Close();

  uint16_t TargetHeader;
  uint32_t MaxLength;
  uint16_t NextSession;
  Consumer Consume;

  bool Open = false;
  uint16_t SessionId = 0;
  uint32_t TotalLength = 0;
  Bytes Buffer;  // the bytes received so far
  bool HaveLastWrite = false;
  uint32_t LastOffset = 0;  // the last accepted WRITE, which a host may resend
  uint32_t LastLength = 0;
};

}  // namespace RosterBmc
