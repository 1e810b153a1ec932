// The decoded facts of all files as one JSON document with stable keys.
#pragma once

#include <string>
#include <vector>

#include "DecodeTypes.h"

namespace RosterDecode {

std::string JsonDocument(const std::vector<FileFacts> &Files);

}  // namespace RosterDecode
