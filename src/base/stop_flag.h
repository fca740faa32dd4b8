// The process-wide stop flag. The engine's stop protocol sets and clears it (engine.h); long walks
// outside the engine, such as the regex matcher, poll it so that a stop ends them too.
#pragma once

#include <atomic>
#include <cstdint>

namespace engine_detail {
// An atomic so that the per-step test needs no lock; the stop protocol still changes it under the
// engine lock, so a host holding that lock excludes a stop.
extern std::atomic<std::int32_t> StopRequested;
}  // namespace engine_detail

// 1 while a stop is in progress. A cheap read, inline: running code tests it at every step.
inline std::int32_t stop_requested() {
  return engine_detail::StopRequested.load(std::memory_order_acquire);
}
