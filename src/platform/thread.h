// Thread services of the platform.
#pragma once

#include <cstdint>

// Gives the rest of the time slice to another ready thread (Sleep(0) on Windows).
void yield_processor();
// Sleeps for the given number of milliseconds.
void sleep_milliseconds(std::uint32_t milliseconds);
// The calling thread's identifier as the platform reports it.
std::uint32_t current_thread_id();

using ThreadRoutine = void (*)(void* argument);

// Starts a detached thread with a stack of at least 8 MiB and stores its identifier. The routine
// must not start before *thread_id is written. False when no thread could be made.
bool start_detached_thread(ThreadRoutine routine, void* argument, std::uint32_t* thread_id);

// Has `routine` called when the calling thread ends, for per-thread caches that a thread the engine
// did not start (a host's or a test's) may leave behind. One routine per thread: a second call
// replaces the first. False where the platform does not offer it safely: on Windows the
// thread-exit callbacks run beside the runtime's own teardown of thread-local storage, so there
// the threads that run script code free their caches themselves (release_thread_caches).
bool call_at_thread_exit(void (*routine)());
