#include "platform/thread.h"

#include <windows.h>

void yield_processor() {
  Sleep(0);
}

void sleep_milliseconds(std::uint32_t milliseconds) {
  Sleep(milliseconds);
}

std::uint32_t current_thread_id() {
  return GetCurrentThreadId();
}
