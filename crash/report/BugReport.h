// The bug report of one exception: header and sections, and the text
// rendered from them.
//
// Threads: the header is built on the handling thread, the sections are
// filled by the completion thread while the report box reads the text. Each
// FieldList has its own lock; the rendered text, its generation and the
// listener list sit behind the report's lock. Listeners are called on the
// thread that made the change, outside every lock, after the new text is
// stored.
//
// Texts are UTF-8 throughout; the Win32 side converts ANSI and wide texts
// before they enter the report.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "crash/report/FieldList.h"
#include "crash/report/Lock.h"
#include "support/Delegate.h"

class BugReport {
 public:
  using ChangedEvent = Event<void(BugReport* Sender)>;

  explicit BugReport(ILockFactory& locks);
  BugReport(const BugReport&) = delete;
  BugReport& operator=(const BugReport&) = delete;

  // Direct access for bulk building; call Regenerate() afterwards.
  FieldList& Header() { return header_; }
  FieldList& Sections() { return sections_; }
  const FieldList& Header() const { return header_; }
  const FieldList& Sections() const { return sections_; }

  // Change one pair, regenerate the text and notify.
  void SetHeaderField(const std::string& name, const std::string& value);
  void SetSection(const std::string& title, const std::string& content);

  // Renders the text from the current lists. It is stored only when no newer
  // rendering was stored meanwhile (two threads may render at once).
  void Regenerate();

  std::string Text() const;
  // Number of the rendering the stored text came from; 0 before the first.
  std::uint64_t Generation() const;

  // An event equal to one already listening is not added twice.
  void AddListener(const ChangedEvent& listener);
  void RemoveListener(const ChangedEvent& listener);

 private:
  std::unique_ptr<ILock> lock_;
  FieldList header_;
  FieldList sections_;
  std::string text_;
  std::uint64_t requested_generation_ = 0;
  std::uint64_t stored_generation_ = 0;
  std::vector<ChangedEvent> listeners_;
};
