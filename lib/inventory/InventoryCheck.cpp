#include "inventory/InventoryCheck.h"

#include <cstring>

#include "crc32/Crc32.h"
#include <InventoryLayout.h>

namespace inventory {

uint32_t ReceiverCrc(ByteView Covered) {
  constexpr size_t CrcAt = OFFSET_OF(INVENTORY_HEADER, Crc32);
  constexpr uint8_t Zeros[sizeof(UINT32)] = {};
  if (Covered.size() < sizeof(INVENTORY_HEADER)) {
    return 0;
  }
  // The zeroed field is fed in place of the stored one instead of copying the image.
  uint32_t Crc = crc32::Crc32(Covered.data() + INVENTORY_UNCOUNTED_PREFIX, CrcAt - INVENTORY_UNCOUNTED_PREFIX);
  Crc = crc32::Crc32(Zeros, sizeof(Zeros), Crc);
  return crc32::Crc32(Covered.data() + CrcAt + sizeof(Zeros), Covered.size() - CrcAt - sizeof(Zeros), Crc);
}

ImageVerdict CheckImage(ByteView Image) {
  ImageVerdict Verdict;
  if (Image.size() < sizeof(INVENTORY_HEADER)) {
    return Verdict;
  }
  INVENTORY_HEADER Header;
  std::memcpy(&Header, Image.data(), sizeof(Header));
  Verdict.HeaderPresent = true;
  Verdict.SignatureMatches = Header.Signature == INVENTORY_SIGNATURE;
  Verdict.VersionMatches = Header.HeaderVersion == INVENTORY_HEADER_VERSION;
  Verdict.SizeAgrees = static_cast<uint64_t>(Header.HeaderSize) + INVENTORY_UNCOUNTED_PREFIX == Image.size();
  Verdict.StoredCrc = Header.Crc32;
  if (Verdict.SizeAgrees) {
    Verdict.ComputedCrc = ReceiverCrc(Image);
    Verdict.CrcMatches = Verdict.ComputedCrc == Verdict.StoredCrc;
  }
  return Verdict;
}

RecordCounts CountRecords(ByteView Image) {
  RecordCounts Counts;
  if (Image.size() < sizeof(INVENTORY_HEADER)) {
    return Counts;
  }
  size_t Offset = sizeof(INVENTORY_HEADER);
  while (Image.size() - Offset >= sizeof(INVENTORY_RECORD_HEADER)) {
    INVENTORY_RECORD_HEADER Header;
    std::memcpy(&Header, Image.data() + Offset, sizeof(Header));
    size_t Size = 0;
    uint32_t *Count = nullptr;
    if (Header.RecordType == RECORD_TYPE_CPU && Header.BodyLength == CPU_RECORD_BODY_LENGTH) {
      Size = sizeof(CPU_RECORD);
      Count = &Counts.Processors;
    } else if (Header.RecordType == RECORD_TYPE_DIMM && Header.BodyLength == DIMM_RECORD_BODY_LENGTH) {
      Size = sizeof(DIMM_RECORD);
      Count = &Counts.MemoryDevices;
    } else if (Header.RecordType == RECORD_TYPE_PCI && Header.BodyLength == PCI_RECORD_BODY_LENGTH) {
      Size = sizeof(PCI_RECORD);
      Count = &Counts.PciFunctions;
    }
    if (Header.Marker != RECORD_MARKER || Count == nullptr || Image.size() - Offset < Size) {
      return Counts;
    }
    ++*Count;
    Offset += Size;
  }
  Counts.FramingSound = Offset == Image.size();
  return Counts;
}

}  // namespace inventory
