// The module's options, as ipmi_sim's `loadlib` line passes them: words separated by blanks,
//   statedir=DIR        where the inventory and SATA messages are stored
//   sata_fail=N[:CODE]  answer the first N SATA_INFO messages of each boot with CODE
//                       (default 0xC0, node busy) and store nothing for them
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace RosterBmc {

struct BmcOptions {
  std::string StateDir;  // empty: ipmi_sim's own state directory is used
  unsigned SataFailCount = 0;
  uint8_t SataFailCode = 0xC0;
};

// False, with the reason in Error, for an unknown word, a bad number or an out-of-range value.
bool ParseOptions(std::string_view Text, BmcOptions &Options, std::string &Error);

// The state directory given to ipmi_sim with -s, from its command line.
std::optional<std::string> StateDirFromCommandLine(const std::vector<std::string> &Arguments);

}  // namespace RosterBmc
