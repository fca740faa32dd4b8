#include "platform/thread.h"

#include <sched.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

void yield_processor() {
  sched_yield();
}

void sleep_milliseconds(std::uint32_t milliseconds) {
  timespec wanted{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1000000L};
  timespec left{};
  while (nanosleep(&wanted, &left) != 0)
    wanted = left;
}

std::uint32_t current_thread_id() {
  return static_cast<std::uint32_t>(syscall(SYS_gettid));
}
