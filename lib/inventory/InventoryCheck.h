// The checks a receiver of an inventory image makes before it trusts one (signature,
// version, HeaderSize against the bytes received, the image's own CRC-32), and a count of
// its records by kind. Shared by the decoder and the BMC module so both judge an image alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace inventory {

using ByteView = std::span<const uint8_t>;

// The receiver's CRC: CRC-32 over bytes 3 to the end of Covered with the Crc32 field taken as
// zero. Covered must hold at least a whole header.
uint32_t ReceiverCrc(ByteView Covered);

struct ImageVerdict {
  bool HeaderPresent = false;  // at least a whole header
  bool SignatureMatches = false;
  bool VersionMatches = false;
  bool SizeAgrees = false;  // HeaderSize + 3 is the number of bytes received
  bool CrcMatches = false;  // over the whole image; only computed when the size agrees
  uint32_t StoredCrc = 0;
  uint32_t ComputedCrc = 0;

  bool Sound() const { return HeaderPresent && SignatureMatches && VersionMatches && SizeAgrees && CrcMatches; }
};

ImageVerdict CheckImage(ByteView Image);

struct RecordCounts {
  uint32_t Processors = 0;
  uint32_t MemoryDevices = 0;
  uint32_t PciFunctions = 0;
  bool FramingSound = false;  // every byte after the header belongs to a known, whole record
};

// Walks the records after the header by their marker, type and BodyLength and stops at the
// first one whose framing cannot be trusted.
RecordCounts CountRecords(ByteView Image);

}  // namespace inventory
