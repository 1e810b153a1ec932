// Failures leave the simulator through one hook, so the simulator itself does not depend on
// a test framework.
#include "Platform.h"

#include <cstdio>
#include <cstdlib>

namespace sim {

namespace {

void PrintAndAbortIfUnsafe(Severity Level, const std::string &Message) {
  std::fprintf(stderr, "[sim] %s\n", Message.c_str());
  if (Level == Severity::Unsafe) {
    std::abort();
  }
}

FailureHook CurrentHook = nullptr;

}  // namespace

FailureHook SetFailureHook(FailureHook Hook) {
  FailureHook Previous = CurrentHook;
  CurrentHook = Hook;
  return Previous;
}

void Fail(Severity Level, const std::string &Message) {
  (CurrentHook != nullptr ? CurrentHook : PrintAndAbortIfUnsafe)(Level, Message);
}

}  // namespace sim
