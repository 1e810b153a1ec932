// The SMM variable service as the driver meets it: the presence of the SMM variable
// protocol, and the software-SMI handler that answers an "SSVS" packet by writing the
// variable into the platform store and leaving the status in the packet.
#pragma once

#include <sim/Platform.h>

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sim {

// A packet the handler accepted: the request's fields, decoded.
struct SmiVariableWrite {
  UINT32 Attributes;
  EFI_GUID VendorGuid;
  std::u16string Name;
  std::vector<UINT8> Data;
};

// Checks a packet as the handler must before trusting it: signature, size agreeing with
// RBX and with the request's own sizes, request code, a name terminated inside the
// packet, no append write. On refusal Status says why (nothing to answer: std::nullopt
// with Status unchanged means the bytes are not an "SSVS" packet at all).
std::optional<SmiVariableWrite> DecodeSmiVariablePacket(std::span<const UINT8> Packet, UINT64 Rbx, EFI_STATUS &Status);

class SmmVariableHandler : public Peer {
 public:
  explicit SmmVariableHandler(Platform &P);  // answers the platform's software SMIs

  // Makes the SMM path visible to LocateProtocol. A platform may install the protocol
  // without an interface (NULL): only its presence counts.
  EFI_HANDLE InstallProtocol(bool NullInterface = false);
  void UninstallProtocol();

  struct Smi {
    UINT16 Port;
    UINT8 Value;
    UINT8 Ah;
    UINT64 Rbx;
    UINT64 Rsi;
    std::vector<UINT8> Packet;  // as received, before the answer
    std::optional<EFI_STATUS> Answer;  // written into the packet, if any
  };
  const std::vector<Smi> &Smis() const { return Log; }

  // Runs inside the SMI after the write (a test acting while the driver waits on the port).
  std::function<void()> DuringSmi;

 private:
  void OnSmi(UINT16 Port, UINT8 Value, UINT8 Ah, UINT64 Rbx, UINT64 Rsi);

  Platform &P;
  EFI_HANDLE Handle_ = nullptr;
  VOID *Interface_ = nullptr;
  std::vector<Smi> Log;
};

}  // namespace sim
