// The Win32 side's report lock: the program's one lock behind the portable
// ILock, and the factory that hands one to each part of a report.
#pragma once

#include <memory>

#include "crash/report/Lock.h"
#include "support/CriticalSection.h"

class CriticalSectionReportLock : public ILock {
 public:
  void lock() override { section_.lock(); }
  void unlock() override { section_.unlock(); }

 private:
  CriticalSection section_;
};

class CriticalSectionLockFactory : public ILockFactory {
 public:
  std::unique_ptr<ILock> CreateLock() override { return std::make_unique<CriticalSectionReportLock>(); }
};
