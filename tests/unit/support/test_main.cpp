// Entry point of every unit-test executable: the engine is started once, as the host does.
#include <gtest/gtest.h>

#include "engine/engine.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  engine_start();
  int result = RUN_ALL_TESTS();
  engine_end();
  return result;
}
