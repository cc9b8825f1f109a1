// The lock that guards one report's data. The report is completed on a
// background thread while the report box reads it, so every FieldList and the
// rendered text sit behind one of these. The Win32 side implements it with a
// CRITICAL_SECTION; the portable code only sees this interface.
#pragma once

#include <memory>

class ILock {
 public:
  virtual ~ILock() = default;
  virtual void Enter() = 0;
  virtual void Leave() = 0;
};

// For single-threaded use (tests, tools).
class NullLock : public ILock {
 public:
  void Enter() override {}
  void Leave() override {}
};

// Makes the locks a report needs; the Win32 side hands in one that makes
// critical sections.
class ILockFactory {
 public:
  virtual ~ILockFactory() = default;
  virtual std::unique_ptr<ILock> CreateLock() = 0;
};

class NullLockFactory : public ILockFactory {
 public:
  std::unique_ptr<ILock> CreateLock() override { return std::make_unique<NullLock>(); }
};

class LockGuard {
 public:
  explicit LockGuard(ILock& lock) : lock_(lock) { lock_.Enter(); }
  ~LockGuard() { lock_.Leave(); }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;

 private:
  ILock& lock_;
};
