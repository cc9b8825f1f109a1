#include "crash/report/BugReport.h"

#include <algorithm>

#include "crash/report/ReportText.h"

BugReport::BugReport(ILockFactory& locks)
    : lock_(locks.CreateLock()), header_(locks.CreateLock()), sections_(locks.CreateLock()) {}

void BugReport::SetHeaderField(const std::string& name, const std::string& value) {
  header_.Set(name, value);
  Regenerate();
}

void BugReport::SetSection(const std::string& title, const std::string& content) {
  sections_.Set(title, content);
  Regenerate();
}

void BugReport::Regenerate() {
  std::uint64_t generation;
  {
    std::lock_guard<ILock> hold(*lock_);
    generation = ++requested_generation_;
  }
  // Rendering runs outside the report's lock: the box can keep reading the
  // previous text meanwhile.
  std::string text = RenderReportText(header_.Snapshot(), sections_.Snapshot());
  std::vector<ChangedEvent> listeners;
  {
    std::lock_guard<ILock> hold(*lock_);
    if (generation > stored_generation_) {
      text_ = std::move(text);
      stored_generation_ = generation;
    }
    listeners = listeners_;
  }
  for (const ChangedEvent& listener : listeners)
    if (listener) listener(this);
}

std::string BugReport::Text() const {
  std::lock_guard<ILock> hold(*lock_);
  return text_;
}

std::uint64_t BugReport::Generation() const {
  std::lock_guard<ILock> hold(*lock_);
  return stored_generation_;
}

void BugReport::AddListener(const ChangedEvent& listener) {
  if (!listener) return;
  std::lock_guard<ILock> hold(*lock_);
  if (std::find(listeners_.begin(), listeners_.end(), listener) == listeners_.end()) listeners_.push_back(listener);
}

void BugReport::RemoveListener(const ChangedEvent& listener) {
  std::lock_guard<ILock> hold(*lock_);
  listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), listener), listeners_.end());
}
