// Thread services of the platform.
#pragma once

#include <cstdint>

// Gives the rest of the time slice to another ready thread (Sleep(0) on Windows).
void yield_processor();
// Sleeps for the given number of milliseconds.
void sleep_milliseconds(std::uint32_t milliseconds);
// The calling thread's identifier as the platform reports it.
std::uint32_t current_thread_id();
