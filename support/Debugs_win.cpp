#include "support/Debugs.h"

#include <atomic>
#include <cstdarg>
#include <cstdlib>

#include "support/CriticalSection.h"
#include "support/ScopedHandle.h"
#include "support/Text.h"
#include "support/TraceQueue.h"
#include "support/Win32.h"

namespace {

// With a viewer attached every OutputDebugStringA waits for it to take the
// previous line, so lines go out from a thread of their own. About two
// seconds of the relay's lines at 1000 reports a second.
constexpr std::size_t kQueueLines = 4096;
constexpr std::size_t kQueueBytes = 4 * 1024 * 1024;
// How long exit waits for the lines still queued to go out.
constexpr DWORD kExitFlushMs = 3000;

std::string TimeSeparator() {
  char separator[8] = {};
  // The user's regional time separator; an empty setting gives no separator.
  if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STIME, separator, sizeof separator) == 0)
    return ":";
  return separator;
}

std::string TimePrefix() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return FormatTracePrefix(now.wHour, now.wMinute, now.wSecond, TimeSeparator());
}

// Owns the queue and the thread that drains it. Created on the first trace
// and never destroyed: a trace may still come from another thread, or from a
// destructor, after exit has flushed; such a line is written directly.
class TTraceWriter {
 public:
  static TTraceWriter* Instance() {
    static TTraceWriter* const writer = new TTraceWriter();
    return writer;
  }

  void Write(std::string line) {
    // Once exit is near, lines are written directly; the first look takes
    // no lock (see Flush).
    if (thread_ && !stopping_ && Queue(line)) {
      // A condition variable, not an event: waking it costs no round trip to
      // the wineserver (Wine) or the kernel when nobody waits.
      WakeConditionVariable(&work_);
      return;
    }
    OutputDebugStringA(line.c_str());
  }

  // Lets the thread finish what is queued, within a bound: a viewer that
  // stopped reading must not hold up the end of the process. Takes no lock,
  // since the process may be ending with the thread stopped inside it.
  void Flush() {
    if (!thread_) return;
    stopping_ = true;
    WakeConditionVariable(&work_);
    WaitForSingleObject(thread_.Get(), kExitFlushMs);
  }

 private:
  TTraceWriter() : queue_(kQueueLines, kQueueBytes) {
    InitializeConditionVariable(&work_);
    thread_.Reset(CreateThread(nullptr, 0, &TTraceWriter::ThreadProc, this, 0, nullptr));
    if (thread_) std::atexit(&TTraceWriter::FlushAtExit);
  }

  static void FlushAtExit() { Instance()->Flush(); }

  // Looked at again under the lock: once the thread has found the queue
  // empty with exit near, nothing may be queued behind its back.
  bool Queue(std::string& line) {
    std::lock_guard<CriticalSection> hold(lock_);
    if (stopping_) return false;
    queue_.Push(std::move(line));
    return true;
  }

  static DWORD WINAPI ThreadProc(void* self) {
    static_cast<TTraceWriter*>(self)->Drain();
    return 0;
  }

  void Drain() {
    for (;;) {
      std::string line;
      std::size_t dropped = 0;
      {
        std::lock_guard<CriticalSection> hold(lock_);
        // The thread ends only on an empty queue seen after exit began: lines
        // queued while it slept, just before exit, still go out.
        while (!queue_.Pop(line, dropped)) {
          if (stopping_) return;
          // Flush wakes without the lock, so its wake may come just before
          // this wait: the time-out bounds that case.
          SleepConditionVariableCS(&work_, lock_.native(), 100);
        }
      }
      if (dropped > 0) line = TimePrefix() + DroppedTraceText(dropped);
      OutputDebugStringA(line.c_str());
    }
  }

  CriticalSection lock_;
  TTraceQueue queue_;
  CONDITION_VARIABLE work_;  // lines were queued, or exit is near
  ScopedHandle<KernelHandleTraits> thread_;
  std::atomic<bool> stopping_{false};  // set by Flush, read by every writer and the thread
};

}  // namespace

void Trace(const std::string& text) {
  // The time stamp is the caller's, taken now, not when the line goes out.
  TTraceWriter::Instance()->Write(TimePrefix() + text);
}

void TraceFmt(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = FormatTextV(format, args);
  va_end(args);
  Trace(text);
}
