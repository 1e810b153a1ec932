// What a simulator failure means while fuzzing, where no GoogleTest runner is listening.
//
// An Unsafe failure (memory misuse, lost memory, a hang) aborts the run, so libFuzzer keeps
// the input as a crash. A Breach is a contract breach that garbage fed to a peer or a
// harness built from garbage may provoke (a structure the SMBIOS peer refuses to store, an
// unexpected call on a path nobody modelled): it is printed the first time it is seen and
// the run goes on, because the interesting question there is whether the driver survives.
#include <sim/Platform.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

namespace {

void ApplyFuzzingPolicy(sim::Severity Level, const std::string &Message) {
  if (Level == sim::Severity::Unsafe) {
    std::fprintf(stderr, "[sim] fatal while fuzzing: %s\n", Message.c_str());
    std::abort();
  }
  static std::set<std::string> Seen;
  if (Seen.insert(Message).second) {
    std::fprintf(stderr, "[sim] (not fatal while fuzzing) %s\n", Message.c_str());
  }
}

const bool PolicyInstalled = (sim::SetFailureHook(ApplyFuzzingPolicy), true);

}  // namespace
