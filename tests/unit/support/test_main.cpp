// Entry point of every unit-test executable: the engine is started once, as the host does.
#include <gtest/gtest.h>

#include <cstdlib>

#include "engine/engine.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  engine_start();
  // For a run of the engine's tests through the general evaluator alone.
  const char* general_only = std::getenv("LUMO_GENERAL_EVALUATION_ONLY");
  GeneralEvaluationOnly = general_only != nullptr && general_only[0] == '1';
  int result = RUN_ALL_TESTS();
  engine_end();
  return result;
}
