#include "SmmVariable.h"

#include <VariableRequestLayout.h>

#include <cstring>

namespace sim {

namespace {
UINT8 SmmVariableInterface;
// Larger than any packet the driver can build for a real variable; a bigger RBX is refused
// before the handler reads through RSI.
constexpr UINT64 MaxPacketBytes = 16 * 1024 * 1024;

template <class T>
T ReadAt(std::span<const UINT8> Bytes, size_t Offset) {
  T Value;
  std::memcpy(&Value, Bytes.data() + Offset, sizeof(T));
  return Value;
}
}  // namespace

std::optional<SmiVariableWrite> DecodeSmiVariablePacket(std::span<const UINT8> Packet, UINT64 Rbx, EFI_STATUS &Status) {
  if (Packet.size() < sizeof(SMI_VARIABLE_PACKET_HEADER) ||
      ReadAt<UINT32>(Packet, OFFSET_OF(SMI_VARIABLE_PACKET_HEADER, Signature)) != SMI_VARIABLE_PACKET_SIGNATURE) {
    return std::nullopt;
  }
  Status = EFI_INVALID_PARAMETER;
  UINT32 PacketSize = ReadAt<UINT32>(Packet, OFFSET_OF(SMI_VARIABLE_PACKET_HEADER, PacketSize));
  if (PacketSize != Rbx || PacketSize != Packet.size() ||
      PacketSize < SMI_VARIABLE_PACKET_REQUEST_OFFSET + sizeof(VARIABLE_REQUEST_HEADER)) {
    return std::nullopt;
  }
  std::span<const UINT8> Request = Packet.subspan(SMI_VARIABLE_PACKET_REQUEST_OFFSET);
  VARIABLE_REQUEST_HEADER Header = ReadAt<VARIABLE_REQUEST_HEADER>(Request, 0);
  if (Header.Function != VARIABLE_REQUEST_SET_VARIABLE) {
    Status = EFI_UNSUPPORTED;
    return std::nullopt;
  }
  if ((Header.Attributes & EFI_VARIABLE_APPEND_WRITE) != 0) {
    return std::nullopt;
  }

  SmiVariableWrite Write{Header.Attributes, Header.VendorGuid, {}, {}};
  size_t Offset = VARIABLE_REQUEST_NAME_OFFSET;
  bool Terminated = false;
  while (Offset + sizeof(CHAR16) <= Request.size()) {
    CHAR16 Char = ReadAt<CHAR16>(Request, Offset);
    Offset += sizeof(CHAR16);
    if (Char == 0) {
      Terminated = true;
      break;
    }
    Write.Name.push_back(Char);
  }
  if (!Terminated || Write.Name.empty()) {
    return std::nullopt;
  }
  if (Request.size() - Offset != Header.DataSize) {
    return std::nullopt;
  }
  Write.Data.assign(Request.begin() + static_cast<std::ptrdiff_t>(Offset), Request.end());
  Status = EFI_SUCCESS;
  return Write;
}

SmmVariableHandler::SmmVariableHandler(Platform &Owner) : P(Owner) {
  P.OnSoftwareSmi = [this](UINT16 Port, UINT8 Value, UINT8 Ah, UINT64 Rbx, UINT64 Rsi) {
    OnSmi(Port, Value, Ah, Rbx, Rsi);
  };
}

EFI_HANDLE SmmVariableHandler::InstallProtocol(bool NullInterface) {
  Interface_ = NullInterface ? nullptr : &SmmVariableInterface;
  if (EFI_ERROR(P.InstallProtocol(&Handle_, gEfiSmmVariableProtocolGuid, Interface_))) {
    Fail("SMM variable protocol install failed");
  }
  return Handle_;
}

void SmmVariableHandler::UninstallProtocol() {
  if (Handle_ != nullptr) {
    P.UninstallProtocol(Handle_, gEfiSmmVariableProtocolGuid, Interface_);
    Handle_ = nullptr;
  }
}

void SmmVariableHandler::OnSmi(UINT16 Port, UINT8 Value, UINT8 Ah, UINT64 Rbx, UINT64 Rsi) {
  Smi Entry{Port, Value, Ah, Rbx, Rsi, {}, std::nullopt};
  // An injected status is the handler's answer: the packet is read but nothing is written.
  std::optional<EFI_STATUS> Injected = P.Faults().Check("SmmVariable.SoftwareSmi");
  // Only the variable service's doorbell is ours; anything else is a driver fault.
  if (Port != SMI_VARIABLE_COMMAND_PORT || Value != SMI_VARIABLE_COMMAND_VALUE || Ah != SMI_VARIABLE_SERVICE_AH) {
    Fail("software SMI with unexpected port, value or AH");
    Log.push_back(std::move(Entry));
    return;
  }
  if (Rsi == 0 || Rbx < sizeof(SMI_VARIABLE_PACKET_HEADER) || Rbx > MaxPacketBytes) {
    Log.push_back(std::move(Entry));
    return;
  }
  auto *Bytes = reinterpret_cast<UINT8 *>(static_cast<uintptr_t>(Rsi));
  Entry.Packet.assign(Bytes, Bytes + Rbx);

  EFI_STATUS Status = EFI_UNSUPPORTED;
  std::optional<SmiVariableWrite> Write = DecodeSmiVariablePacket(Entry.Packet, Rbx, Status);
  if (Injected) {
    Status = *Injected;
  } else if (Write) {
    Status = P.Variables().Set(reinterpret_cast<const CHAR16 *>(Write->Name.c_str()), &Write->VendorGuid,
                               Write->Attributes, Write->Data.size(), Write->Data.data(), P.BootServicesEnded());
  }
  // Without the signature the bytes are not ours to write into.
  if (ReadAt<UINT32>(std::span<const UINT8>(Entry.Packet), 0) == SMI_VARIABLE_PACKET_SIGNATURE) {
    std::memcpy(Bytes + OFFSET_OF(SMI_VARIABLE_PACKET_HEADER, Status), &Status, sizeof(Status));
    Entry.Answer = Status;
  }
  Log.push_back(std::move(Entry));
  if (DuringSmi) {
    DuringSmi();
  }
}

}  // namespace sim
