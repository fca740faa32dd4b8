#include "platform/thread.h"

#include <pthread.h>
#include <sched.h>

#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>
#include <atomic>
#include <cstdlib>

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

namespace {

struct Start {
  ThreadRoutine routine;
  void* argument;
};

void* thread_entry(void* parameter) {
  Start start = *static_cast<Start*>(parameter);
  std::free(parameter);
  start.routine(start.argument);
  return nullptr;
}

}  // namespace

bool start_detached_thread(ThreadRoutine routine, void* argument, std::uint32_t* thread_id) {
  auto* start = static_cast<Start*>(std::malloc(sizeof(Start)));
  if (start == nullptr) return false;
  *start = {routine, argument};
  // The kernel's id of the new thread is known only inside it; scripts get a process-unique
  // number instead, stored before the thread exists.
  static std::atomic<std::uint32_t> next_id{1};
  *thread_id = next_id.fetch_add(1);
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, 8u << 20);
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  int failed = pthread_create(&thread, &attributes, thread_entry, start);
  pthread_attr_destroy(&attributes);
  if (failed != 0) {
    std::free(start);
    return false;
  }
  return true;
}

namespace {

pthread_key_t ExitKey;
pthread_once_t ExitKeyOnce = PTHREAD_ONCE_INIT;

// Runs before the thread's thread-local storage goes, so the routine may still use it.
void run_exit_routine(void* routine) {
  reinterpret_cast<void (*)()>(routine)();
}

void make_exit_key() {
  pthread_key_create(&ExitKey, &run_exit_routine);
}

}  // namespace

bool call_at_thread_exit(void (*routine)()) {
  pthread_once(&ExitKeyOnce, &make_exit_key);
  return pthread_setspecific(ExitKey, reinterpret_cast<void*>(routine)) == 0;
}
