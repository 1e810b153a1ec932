// Decides what a file holds (inventory image, SATA_INFO message or harness report) and
// decodes everything in it.
#pragma once

#include "DecodeTypes.h"

namespace RosterDecode {

FileFacts DecodeFile(const std::string &Path, ByteView Content);

}  // namespace RosterDecode
