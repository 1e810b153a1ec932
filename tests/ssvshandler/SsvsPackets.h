// "SSVS" packets as a DXE driver builds them, written out field by field from the shared
// layout, and the knobs a hostile caller turns.
#pragma once

#include <Uefi.h>
#include <VariableRequestLayout.h>

#include <cstring>
#include <string_view>
#include <vector>

namespace ssvs_test {

inline constexpr EFI_GUID kVendor = {0x11223344, 0x5566, 0x7788, {0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x01}};
inline constexpr UINT32 kAttributes =
    EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS;

struct PacketSpec {
  std::u16string_view Name = u"Setup";
  std::vector<UINT8> Data = {1, 2, 3, 4, 5, 6, 7};
  UINT32 Attributes = kAttributes;
  EFI_GUID Guid = kVendor;
  UINT32 Function = VARIABLE_REQUEST_SET_VARIABLE;
  UINT16 Marker = VARIABLE_REQUEST_MARKER;
  UINT32 Signature = SMI_VARIABLE_PACKET_SIGNATURE;
  bool Terminate = true;  // the name's null character
};

template <class T>
void Put(std::vector<UINT8> &Bytes, size_t Offset, T Value) {
  std::memcpy(Bytes.data() + Offset, &Value, sizeof(T));
}
template <class T>
T Get(const std::vector<UINT8> &Bytes, size_t Offset) {
  T Value;
  std::memcpy(&Value, Bytes.data() + Offset, sizeof(T));
  return Value;
}

inline constexpr size_t kRequest = SMI_VARIABLE_PACKET_REQUEST_OFFSET;
inline constexpr size_t kStatus = OFFSET_OF(SMI_VARIABLE_PACKET_HEADER, Status);
inline constexpr size_t kPacketSize = OFFSET_OF(SMI_VARIABLE_PACKET_HEADER, PacketSize);
inline constexpr size_t kDataSize = kRequest + OFFSET_OF(VARIABLE_REQUEST_HEADER, DataSize);
inline constexpr size_t kName = kRequest + VARIABLE_REQUEST_NAME_OFFSET;

inline std::vector<UINT8> BuildPacket(const PacketSpec &Spec = {}) {
  size_t NameSize = (Spec.Name.size() + (Spec.Terminate ? 1 : 0)) * sizeof(CHAR16);
  size_t Size = kName + NameSize + Spec.Data.size();
  std::vector<UINT8> Bytes(Size, 0);
  Put<UINT32>(Bytes, 0, Spec.Signature);
  Put<UINT32>(Bytes, kPacketSize, static_cast<UINT32>(Size));
  Put<UINT64>(Bytes, kStatus, EFI_UNSUPPORTED);
  VARIABLE_REQUEST_HEADER Header{Spec.Function, Spec.Marker, Spec.Attributes, static_cast<UINT32>(Spec.Data.size()),
                                 Spec.Guid};
  std::memcpy(Bytes.data() + kRequest, &Header, sizeof(Header));
  for (size_t Index = 0; Index < Spec.Name.size(); Index++) {
    Put<CHAR16>(Bytes, kName + Index * 2, Spec.Name[Index]);
  }
  if (!Spec.Data.empty()) {
    std::memcpy(Bytes.data() + kName + NameSize, Spec.Data.data(), Spec.Data.size());
  }
  return Bytes;
}

}  // namespace ssvs_test
