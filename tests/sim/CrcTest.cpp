#include "sim/Platform.h"

#include <gtest/gtest.h>

TEST(Crc, CheckValue) { EXPECT_EQ(sim::Crc32("123456789", 9), 0xCBF43926u); }
