#pragma once

// A COM object's lock: a slim reader/writer lock taken exclusively. Unlike
// std::mutex it never throws and never allocates, so methods that only lock
// need no guard against exceptions.

#include <windows.h>

namespace korvex::media_source {

class SlimLock {
 public:
  SlimLock() = default;
  SlimLock(const SlimLock&) = delete;
  SlimLock& operator=(const SlimLock&) = delete;

  void lock() noexcept { AcquireSRWLockExclusive(&lock_); }
  void unlock() noexcept { ReleaseSRWLockExclusive(&lock_); }

 private:
  SRWLOCK lock_ = SRWLOCK_INIT;
};

}  // namespace korvex::media_source
