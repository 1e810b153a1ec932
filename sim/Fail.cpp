// A contract breach is a non-fatal GoogleTest failure: the test goes on and the driver's
// own failure path runs, as it would on a platform that refused the call.
#include "Platform.h"

#include <gtest/gtest.h>

namespace sim {

void Fail(const std::string &Message) { ADD_FAILURE() << "[sim] " << Message; }

}  // namespace sim
