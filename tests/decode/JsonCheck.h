// A strict JSON reader for tests: accepts exactly RFC 8259 documents, so a printer that
// misplaces a comma or leaves a control byte unescaped fails the test.
#pragma once

#include <string_view>

namespace DecodeTest {

bool IsValidJson(std::string_view Text);

}  // namespace DecodeTest
