// Parses arbitrary bytes as a script and runs it: its top level, then the events a host fires. A
// watchdog stops every run that takes too long through the stop flag, as the stop command would, so
// endless loops end and every script failure must unwind cleanly.
#include <chrono>
#include <cstddef>
#include <cstdint>

#include "engine/engine.h"
#include "engine/host.h"
#include "script_run.h"

namespace {

// Shows nothing; every delivery returns at once.
std::intptr_t discard(Host*, std::uint32_t, std::uintptr_t, std::intptr_t) {
  return 0;
}

Host QuietHost{nullptr, UM_LINEECHO, discard, nullptr, nullptr, nullptr};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  engine_start();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ScratchFolder folder;
  Script* set = make_script_set(data, size, &QuietHost);
  if (set != nullptr) run_script_set(set, &QuietHost, std::chrono::milliseconds(30));
  return 0;
}
