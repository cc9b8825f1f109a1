// The program's one lock: a platform critical section, held for a scope with
// std::lock_guard<CriticalSection> (or std::unique_lock where a wait needs to
// let go). Recursive, as the platform's sections are.
#pragma once

#include <mutex>

#include "support/Win32.h"

class CriticalSection {
 public:
  CriticalSection() { InitializeCriticalSection(&section_); }
  ~CriticalSection() { DeleteCriticalSection(&section_); }
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

  void lock() { EnterCriticalSection(&section_); }
  void unlock() { LeaveCriticalSection(&section_); }
  bool try_lock() { return TryEnterCriticalSection(&section_) != FALSE; }
  // For the platform's condition-variable waits, which let go of it inside.
  CRITICAL_SECTION* native() { return &section_; }

 private:
  CRITICAL_SECTION section_;
};
