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

namespace {

struct Start {
  ThreadRoutine routine;
  void* argument;
};

DWORD WINAPI thread_entry(LPVOID parameter) {
  Start start = *static_cast<Start*>(parameter);
  HeapFree(GetProcessHeap(), 0, parameter);
  start.routine(start.argument);
  return 0;
}

}  // namespace

bool start_detached_thread(ThreadRoutine routine, void* argument, std::uint32_t* thread_id) {
  auto* start = static_cast<Start*>(HeapAlloc(GetProcessHeap(), 0, sizeof(Start)));
  if (start == nullptr) return false;
  *start = {routine, argument};
  DWORD id = 0;
  // Created suspended so that the identifier is stored before the routine runs.
  HANDLE thread = CreateThread(nullptr, 8u << 20, thread_entry, start,
                               CREATE_SUSPENDED | STACK_SIZE_PARAM_IS_A_RESERVATION, &id);
  if (thread == nullptr) {
    HeapFree(GetProcessHeap(), 0, start);
    return false;
  }
  *thread_id = id;
  ResumeThread(thread);
  CloseHandle(thread);
  return true;
}

bool call_at_thread_exit(void (*)()) {
  return false;
}
