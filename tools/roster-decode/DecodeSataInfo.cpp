#include "DecodeSataInfo.h"

#include <cstring>

#include "DecodeBytes.h"
#include <InventoryLayout.h>

namespace RosterDecode {

SataDriveFacts DecodeSataInfo(ByteView Message) {
  SataDriveFacts Drive;
  if (Message.size() != sizeof(SATA_INFO)) {
    Drive.Problems.push_back(
        Format("a SATA_INFO message has %zu bytes, this one has %zu", sizeof(SATA_INFO), Message.size()));
    return Drive;
  }
  SATA_INFO Raw;
  std::memcpy(&Raw, Message.data(), sizeof(Raw));
  Drive.Decoded = true;
  Drive.SataIndex = Raw.SataIndex;
  Drive.SataPort = Raw.SataPort;
  Drive.SataPresent = Raw.SataPresent;
  Drive.ModelNumber = TrimBlanks(FieldText(Raw.ModelNumber, sizeof(Raw.ModelNumber)));
  Drive.SerialNumber = TrimBlanks(FieldText(Raw.SerialNumber, sizeof(Raw.SerialNumber)));
  // The one big-endian field of the message.
  Drive.HddSizeGb = static_cast<uint16_t>((Raw.HddSize[0] << 8) | Raw.HddSize[1]);

  if (Raw.SataPresent > 1) {
    Drive.Problems.push_back(Format("SataPresent %u is neither 0 nor 1", Raw.SataPresent));
  }
  if (Raw.SataIndex >= NUMBER_OF_SATA) {
    Drive.Problems.push_back(
        Format("SataIndex %u lies outside the %u known ports", Raw.SataIndex, static_cast<unsigned>(NUMBER_OF_SATA)));
  }
  return Drive;
}

}  // namespace RosterDecode
