// Shared helpers of the tests that run under Wine: a temporary folder, the
// program under test started as a real process, its traces read the way a
// debug-output viewer reads them, and its windows found from outside.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "support/CriticalSection.h"
#include "support/ScopedHandle.h"
#include "support/Win32.h"

namespace testing_support {

// A TCP listener on 127.0.0.1:port (0: a free one), or INVALID_SOCKET. A
// receiveBuffer above 0 sets the receive buffer of the connections it
// accepts; reuseAddress lets it listen again at once on a port whose last
// connections are still closing. The caller has started the socket library.
SOCKET ListenOnLoopback(std::uint16_t port, int receiveBuffer = 0, bool reuseAddress = true);

// How much slower this machine runs the programs under test than the one the
// waits were written for: QEX_TIME_SCALE (default 1), set by the emulated
// 32-bit lane. The helpers below widen every wait by it; a test widens its
// own timing tolerances with Scaled(). What a test proves stays the same.
double TimeScale();
int Scaled(int ms);
// Sleeps, scaled: for time given to something the test cannot observe.
void Pause(int ms);

// Dispatches this thread's messages and polls until the condition holds or
// the time (scaled) is up; true when it held.
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs, int pollMs = 20);

// Windows path of a file the build produced: env var `name` holds a Unix or
// Windows path (CMake passes Unix paths; Wine maps them under Z:).
std::string PathFromEnv(const char* name);
std::string ToWindowsPath(const std::string& path);
// The agent under test (QEX_AGENT_EXE).
std::string AgentPath();

// Files, by UTF-8 path (plain ASCII paths are UTF-8 too). ReadWholeFile
// gives "" for a file that cannot be opened; it shares the file with writers.
std::string ReadWholeFile(const std::string& path);
bool WriteWholeFile(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);

class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// Reads every OutputDebugString line of the machine (one reader at a time),
// keeping those of one process id (0: all).
class DebugOutputReader {
 public:
  DebugOutputReader();
  ~DebugOutputReader();
  bool Ok() const { return ok_; }
  void FilterProcess(DWORD pid) { pid_ = pid; }
  std::vector<std::string> Lines() const;
  void Clear();
  // Waits for a line containing `text` (after the time prefix) that arrived
  // at or after line index `from`; returns its index or -1.
  int WaitForLine(const std::string& text, int timeoutMs, std::size_t from = 0) const;
  std::size_t Count(const std::string& text) const;
  // The line texts without their "hh:nn:ss " prefix.
  static std::string Body(const std::string& line);
  // Local arrival time of each line, in GetTickCount64 milliseconds.
  std::vector<std::uint64_t> Times() const;
  // A slow viewer: it takes each line this long before it is ready for the
  // next one.
  void SetDelayPerLine(DWORD ms) { delayMs_ = ms; }
  // A stuck viewer: while held it takes no further line.
  void Hold(bool held) { held_ = held; }

 private:
  static DWORD WINAPI ThreadProc(void* self);
  void Run();

  ScopedKernelHandle bufferReady_, dataReady_, mapping_, thread_;
  const char* view_ = nullptr;
  std::atomic<bool> stop_{false};
  bool ok_ = false;
  std::atomic<DWORD> pid_{0};
  std::atomic<DWORD> delayMs_{0};
  std::atomic<bool> held_{false};
  mutable CriticalSection lock_;
  std::vector<std::string> lines_;
  std::vector<std::uint64_t> times_;
};

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts `exe` with the command-line tail `arguments` (may be empty).
  bool Start(const std::string& exe, const std::string& arguments = std::string(),
             const std::string& workingDir = std::string());
  // As Start, but its first thread waits for Resume: what must watch the
  // process from its first line (a viewer's filter) is set up in between.
  bool StartSuspended(const std::string& exe, const std::string& arguments = std::string());
  bool Resume();
  DWORD Pid() const { return pid_; }
  HANDLE Handle() const { return process_.Get(); }
  bool Running() const;
  // Waits (scaled) for the end; returns the exit code, or -1 on time-out.
  long Wait(int timeoutMs);
  // WM_CLOSE to the process's top-level windows, then waits.
  long Close(int timeoutMs);
  void Kill();

 private:
  bool Create(const std::string& exe, const std::string& arguments, const std::string& workingDir, DWORD flags);

  ScopedKernelHandle process_;
  ScopedKernelHandle suspendedThread_;
  DWORD pid_ = 0;
};

// Top-level windows of a process, optionally of one class.
std::vector<HWND> ProcessWindows(DWORD pid, const wchar_t* className = nullptr);
// The agent's main window (class "QEXForm") once it exists.
HWND WaitForMainWindow(DWORD pid, int timeoutMs);
// The dialog of a process with the given caption (class "#32770").
HWND FindDialog(DWORD pid, const std::wstring& caption);
HWND WaitForDialog(DWORD pid, const std::wstring& caption, int timeoutMs);
std::wstring WindowText(HWND window);  // the whole text, however long
// One header field of a bug report's text ("name   : value"), or "".
std::string ReportField(const std::string& text, const std::string& name);
std::wstring ClassName(HWND window);
// Child windows of a window, in z-order.
std::vector<HWND> Children(HWND parent);
// A control of the agent's main window by its name in the agent's window
// description (app/frmMains.desc: "lblNetStatus", "btnConfig", ...), or
// nullptr: the control id the description gives it.
HWND AgentControl(HWND main, const std::string& name);
// A child window of parent of that class and, when one is given, with that
// text ("OK", "Cancel"); nullptr when none is.
HWND ChildOf(HWND parent, const wchar_t* className, const std::wstring& text = std::wstring());
// Code page 936 text (as the program keeps it) to wide text.
std::wstring FromCp936(const std::string& text);
std::wstring FromUtf8(const std::string& text);
std::string ToUtf8(const std::wstring& text);

// Registry under HKEY_CURRENT_USER, for checks from outside.
bool RegValueExists(const std::string& key, const std::string& name);
std::string RegValue(const std::string& key, const std::string& name);  // REG_SZ, "" if none
void RegSetString(const std::string& key, const std::string& name, const std::string& value);
void RegDeleteTree(const std::string& key);
void DeleteRegValue(const std::string& key, const std::string& name);
bool RegKeyExists(const std::string& key);

}  // namespace testing_support
