// Process-wide engine state: the engine lock, the stop flag and the count of active calls, and the
// stop protocol that ends all running script code.
#pragma once

#include <atomic>
#include <cstdint>

#include "base/stop_flag.h"

struct Host;

// Initialises the engine lock; called once by the host before it loads scripts.
void engine_start();
// Deletes the engine lock after the host has stopped all script code.
void engine_end();

void lock_engine();
void unlock_engine();

// Adds delta to the number of calls in progress on all threads.
void count_call(std::int32_t delta);
// The number of calls in progress (for hosts and tests).
std::int32_t active_calls();

// Makes every running script fail at its next step and returns when no call is active any more.
// Between polls it lets `host` serve the deliveries that script threads wait on (may be null).
void stop_all_scripts(Host* host = nullptr);

// Holds the engine lock for a scope.
class EngineLockGuard {
 public:
  EngineLockGuard() { lock_engine(); }
  ~EngineLockGuard() { unlock_engine(); }
  EngineLockGuard(const EngineLockGuard&) = delete;
  EngineLockGuard& operator=(const EngineLockGuard&) = delete;
};
