#include "Hob.h"

#include "Platform.h"

#include <cstring>
#include <string>

namespace sim {

void HobListBuilder::Append(UINT16 Type, std::span<const UINT8> Prefix, std::span<const UINT8> Body, bool Pad) {
  size_t Length = sizeof(EFI_HOB_GENERIC_HEADER) + Prefix.size() + Body.size();
  if (Pad) {
    Length = (Length + 7) & ~size_t{7};
  }
  if (Length > 0xFFFF) {
    Fail("HOB of " + std::to_string(Length) + " bytes does not fit its 16-bit length");
    return;
  }
  EFI_HOB_GENERIC_HEADER Header{Type, static_cast<UINT16>(Length), 0};
  const size_t Start = Bytes.size();
  Bytes.resize(Start + Length, 0);
  std::memcpy(Bytes.data() + Start, &Header, sizeof Header);
  if (!Prefix.empty()) {
    std::memcpy(Bytes.data() + Start + sizeof Header, Prefix.data(), Prefix.size());
  }
  if (!Body.empty()) {
    std::memcpy(Bytes.data() + Start + sizeof Header + Prefix.size(), Body.data(), Body.size());
  }
}

HobListBuilder &HobListBuilder::AddGuidHob(const EFI_GUID &Name, std::span<const UINT8> Data) {
  Append(EFI_HOB_TYPE_GUID_EXTENSION, {reinterpret_cast<const UINT8 *>(&Name), sizeof Name}, Data, true);
  return *this;
}

HobListBuilder &HobListBuilder::AddUnpaddedGuidHob(const EFI_GUID &Name, std::span<const UINT8> Data) {
  Append(EFI_HOB_TYPE_GUID_EXTENSION, {reinterpret_cast<const UINT8 *>(&Name), sizeof Name}, Data, false);
  return *this;
}

HobListBuilder &HobListBuilder::AddHob(UINT16 Type, std::span<const UINT8> Body) {
  Append(Type, {}, Body, true);
  return *this;
}

std::vector<UINT8> HobListBuilder::Build() const {
  std::vector<UINT8> List = Bytes;
  EFI_HOB_GENERIC_HEADER End{EFI_HOB_TYPE_END_OF_HOB_LIST, sizeof(EFI_HOB_GENERIC_HEADER), 0};
  const auto *EndBytes = reinterpret_cast<const UINT8 *>(&End);
  List.insert(List.end(), EndBytes, EndBytes + sizeof End);
  return List;
}

}  // namespace sim
