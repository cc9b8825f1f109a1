// Holds a platform critical section for one scope.
#pragma once

#include "support/Win32.h"

class CriticalSectionLock {
 public:
  explicit CriticalSectionLock(CRITICAL_SECTION& lock) : lock_(lock) { EnterCriticalSection(&lock_); }
  ~CriticalSectionLock() { LeaveCriticalSection(&lock_); }
  CriticalSectionLock(const CriticalSectionLock&) = delete;
  CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

 private:
  CRITICAL_SECTION& lock_;
};
