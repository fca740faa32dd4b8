// A recursive lock with the behaviour of a Win32 critical section: the owning thread may enter it
// again, and must leave it as often as it entered.
#pragma once

struct RecursiveLock {
  alignas(16) unsigned char storage[64];
};

void lock_init(RecursiveLock* lock);
void lock_destroy(RecursiveLock* lock);
void lock_enter(RecursiveLock* lock);
void lock_leave(RecursiveLock* lock);

// Holds a lock for a scope.
class LockGuard {
 public:
  explicit LockGuard(RecursiveLock* lock) : lock_(lock) { lock_enter(lock_); }
  ~LockGuard() { lock_leave(lock_); }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;

 private:
  RecursiveLock* lock_;
};
