// The steps of script code: each thread counts them, tests for quiescence once every batch, and
// yields the processor once every so many batches.
#include <cstdint>

#include "engine/evaluate.h"
#include "engine/retire.h"
#include "platform/thread.h"

namespace {

// Steps between two quiescent tests: retired memory waits a few statements or loop passes at most,
// and the tightest code does not pay for the test on every step.
constexpr std::uint32_t kStepsPerQuiescentTest = 64;
// A busy loop must not starve the window thread, but a system call per pass costs far more than
// the pass: yield once every so many batches (4096 steps).
constexpr std::uint32_t kBatchesPerYield = 64;
thread_local std::uint32_t StepBatches = 0;

}  // namespace

constinit thread_local std::uint32_t step_detail::StepsToBatch = kStepsPerQuiescentTest;

void step_detail::end_step_batch() {
  StepsToBatch = kStepsPerQuiescentTest;
  quiescent_point();
  if (++StepBatches % kBatchesPerYield == 0) yield_processor();
}
