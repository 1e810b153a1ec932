// One captured status code as a text line: "TYPE VALUE INSTANCE DATA" in hexadecimal (an
// optional 0x on the numbers), DATA the whole EFI_STATUS_CODE_DATA, header and payload.
#pragma once

#include <debug_render/StatusCodeReport.h>

#include <optional>
#include <string_view>

namespace debug_render {

// The report the line describes, or nothing when a field is missing, not hexadecimal,
// too wide for its type, or DATA has an odd number of digits.
std::optional<debug_render::StatusCodeReport> ParseRecordLine(std::string_view Line);

}  // namespace debug_render
