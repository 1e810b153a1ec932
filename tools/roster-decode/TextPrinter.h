// The decoded facts as a person reads them.
#pragma once

#include <ostream>

#include "DecodeTypes.h"

namespace RosterDecode {

void PrintText(std::ostream &Out, const FileFacts &File);

// A field's text in double quotes, with quotes, backslashes and non-printable bytes escaped.
std::string QuotedText(const std::string &Text);

}  // namespace RosterDecode
