#include "platform/lock.h"

#include <windows.h>

static_assert(sizeof(CRITICAL_SECTION) <= sizeof(RecursiveLock::storage));

static CRITICAL_SECTION* section_of(RecursiveLock* lock) {
  return reinterpret_cast<CRITICAL_SECTION*>(lock->storage);
}

void lock_init(RecursiveLock* lock) {
  InitializeCriticalSection(section_of(lock));
}

void lock_destroy(RecursiveLock* lock) {
  DeleteCriticalSection(section_of(lock));
}

void lock_enter(RecursiveLock* lock) {
  EnterCriticalSection(section_of(lock));
}

void lock_leave(RecursiveLock* lock) {
  LeaveCriticalSection(section_of(lock));
}
