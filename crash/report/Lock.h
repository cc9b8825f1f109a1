// The lock that guards one report's data. The report is completed on a
// background thread while the report box reads it, so every FieldList and the
// rendered text sit behind one of these. The Win32 side implements it with a
// CriticalSection; the portable code only sees this interface. It is
// BasicLockable: hold it with std::lock_guard<ILock>.
#pragma once

#include <memory>
#include <mutex>

class ILock {
 public:
  virtual ~ILock() = default;
  virtual void lock() = 0;
  virtual void unlock() = 0;
};

// For single-threaded use (tests, tools).
class NullLock : public ILock {
 public:
  void lock() override {}
  void unlock() override {}
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
