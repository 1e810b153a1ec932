// Decodes one SATA_INFO message: a drive, or a port on which no drive was reported.
#pragma once

#include "DecodeTypes.h"

namespace RosterDecode {

SataDriveFacts DecodeSataInfo(ByteView Message);

}  // namespace RosterDecode
