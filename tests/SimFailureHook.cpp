// Every simulator failure is a non-fatal GoogleTest failure: the test goes on and the
// driver's own failure path runs, as it would on a platform that refused the call.
#include <sim/Platform.h>

#include <gtest/gtest.h>

namespace {

void AddGoogleTestFailure(sim::Severity Level, const std::string &Message) {
  ADD_FAILURE() << (Level == sim::Severity::Unsafe ? "[sim, unsafe] " : "[sim] ") << Message;
}

const bool HookInstalled = (sim::SetFailureHook(AddGoogleTestFailure), true);

}  // namespace
