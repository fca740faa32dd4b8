#include "engine/engine.h"

#include <atomic>

#include "engine/host.h"
#include "engine/retire.h"
#include "platform/lock.h"
#include "platform/thread.h"

namespace {

RecursiveLock EngineLock;
std::atomic<bool> EngineLockReady{false};
std::atomic<std::int32_t> ActiveCalls{0};

}  // namespace

using engine_detail::StopRequested;

void engine_start() {
  if (EngineLockReady.load(std::memory_order_acquire)) return;
  lock_init(&EngineLock);
  StopRequested.store(0);
  ActiveCalls.store(0);
  EngineLockReady.store(true, std::memory_order_release);
}

void engine_end() {
  if (!EngineLockReady.exchange(false, std::memory_order_acq_rel)) return;
  lock_destroy(&EngineLock);
}

void lock_engine() {
  lock_enter(&EngineLock);
}

void unlock_engine() {
  lock_leave(&EngineLock);
}

void count_call(std::int32_t delta) {
  if (ActiveCalls.fetch_add(delta, std::memory_order_acq_rel) + delta == 0) release_retired();
}

std::int32_t active_calls() {
  return ActiveCalls.load(std::memory_order_acquire);
}

void stop_all_scripts(Host* host) {
  lock_engine();
  StopRequested.store(1, std::memory_order_release);
  do {
    unlock_engine();
    // A script thread may be blocked in a delivery to this very thread; serve it, or it would never
    // return and the count would never fall.
    if (host != nullptr && host->serve_pending != nullptr) host->serve_pending(host);
    yield_processor();
    lock_engine();
  } while (ActiveCalls.load(std::memory_order_acquire) > 0);
  unlock_engine();
  lock_engine();
  StopRequested.store(0, std::memory_order_release);
  unlock_engine();
}
