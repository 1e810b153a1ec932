// What a simulator complaint means while fuzzing, where no GoogleTest runner is listening.
//
// Complaints that signal memory-unsafety, lost memory or a hang abort the run, so libFuzzer
// keeps the input as a crash: pool misuse (a double free, a foreign pointer, a leak at
// teardown), a NULL buffer handed to CopyMem/SetMem, an unterminated console string, an
// event closed twice or never created, a TPL raised or restored the wrong way, a dead loop
// entered. Every other complaint is a contract breach that garbage fed to a peer or a
// harness built from garbage may provoke (a structure the SMBIOS peer refuses to store, an
// unexpected call on a path nobody modelled): it is printed the first time it is seen and
// the run goes on, because the interesting question there is whether the driver survives.
#include <sim/Platform.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

namespace sim {

namespace {

constexpr const char *kFatalSignals[] = {
    "double free",          "pool never returned", "pool block leaked", "with a NULL buffer",
    "unterminated string",  "already closed event", "RaiseTPL",          "RestoreTPL",
    "dead loop spun",       "null This",            "foreign This",      "after ExitBootServices",
};

bool IsFatal(const std::string &Message) {
  for (const char *Signal : kFatalSignals) {
    if (Message.find(Signal) != std::string::npos) {
      return true;
    }
  }
  return false;
}

}  // namespace

void Fail(const std::string &Message) {
  if (IsFatal(Message)) {
    std::fprintf(stderr, "[sim] fatal while fuzzing: %s\n", Message.c_str());
    std::abort();
  }
  static std::set<std::string> Seen;
  if (Seen.insert(Message).second) {
    std::fprintf(stderr, "[sim] (not fatal while fuzzing) %s\n", Message.c_str());
  }
}

}  // namespace sim
