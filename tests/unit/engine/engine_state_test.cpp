#include "engine/engine.h"

#include <gtest/gtest.h>

TEST(EngineState, CountsCalls) {
  EXPECT_EQ(active_calls(), 0);
  count_call(1);
  count_call(1);
  EXPECT_EQ(active_calls(), 2);
  count_call(-2);
  EXPECT_EQ(active_calls(), 0);
}
