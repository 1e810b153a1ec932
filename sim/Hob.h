// Builds a HOB list as the PEI phase hands it over: HOBs 8-byte aligned, each with its
// generic header, ending with the end-of-list HOB. Platform::SetHobList installs a copy.
#pragma once

#include <Uefi.h>

#include <span>
#include <vector>

namespace sim {

class HobListBuilder {
 public:
  // A GUID-extension HOB; its length is padded to 8 bytes as BuildGuidHob does, so the
  // data size seen by GET_GUID_HOB_DATA_SIZE includes the padding.
  HobListBuilder &AddGuidHob(const EFI_GUID &Name, std::span<const UINT8> Data);
  // A GUID HOB with an exact HobLength (24 + Data), not padded: for odd producers.
  HobListBuilder &AddUnpaddedGuidHob(const EFI_GUID &Name, std::span<const UINT8> Data);
  // Any other HOB type with the body that follows its generic header (padded to 8).
  HobListBuilder &AddHob(UINT16 Type, std::span<const UINT8> Body);
  // The list with its end marker.
  std::vector<UINT8> Build() const;

 private:
  void Append(UINT16 Type, std::span<const UINT8> Prefix, std::span<const UINT8> Body, bool Pad);
  std::vector<UINT8> Bytes;
};

}  // namespace sim
