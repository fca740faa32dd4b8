#include "platform/lock.h"

#include <pthread.h>

static_assert(sizeof(pthread_mutex_t) <= sizeof(RecursiveLock::storage));

static pthread_mutex_t* mutex_of(RecursiveLock* lock) {
  return reinterpret_cast<pthread_mutex_t*>(lock->storage);
}

void lock_init(RecursiveLock* lock) {
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(mutex_of(lock), &attributes);
  pthread_mutexattr_destroy(&attributes);
}

void lock_destroy(RecursiveLock* lock) {
  pthread_mutex_destroy(mutex_of(lock));
}

void lock_enter(RecursiveLock* lock) {
  pthread_mutex_lock(mutex_of(lock));
}

void lock_leave(RecursiveLock* lock) {
  pthread_mutex_unlock(mutex_of(lock));
}
