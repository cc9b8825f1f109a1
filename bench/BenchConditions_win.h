// What the relay benchmark puts around a run: a low-priority busy load, a
// debug-output viewer, and the CPU counters of the processes a relay's work
// lands in besides its own (wineserver, the X server).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/Win32.h"

namespace bench {

// N busy threads of a low-priority process for as long as the object lives.
// The process is this program with "--spin N EVENT", under nice 19.
class TBusyLoad {
 public:
  ~TBusyLoad();
  bool Start(int threads, std::string* error);

 private:
  HANDLE stop_ = nullptr;  // set: the load ends
};
// The load's side: spins until the named event is set, then ends the process.
[[noreturn]] void SpinUntil(int threads, const char* stopName);

// A debug-output viewer as a support engineer runs one: it takes every line
// of every process and keeps a count. One viewer per machine session.
class TDebugViewer {
 public:
  ~TDebugViewer();
  bool Start(std::string* error);
  std::uint64_t Lines() const { return static_cast<std::uint64_t>(lines_); }
  // CPU time of the viewer's thread so far, in ms; 0 when not started.
  double CpuMs() const;

 private:
  static DWORD WINAPI ThreadProc(void* self);
  void Run();

  HANDLE bufferReady_ = nullptr, dataReady_ = nullptr, mapping_ = nullptr, thread_ = nullptr;
  const char* view_ = nullptr;
  volatile LONG stop_ = 0;
  volatile LONG64 lines_ = 0;
};

// CPU time (user + system, ms) of Linux processes from /proc/<pid>/stat,
// read through Wine's Z: drive. The processes come from the environment:
// QEX_BENCH_CPU_PIDS="wineserver=123,X server=456".
class TSystemCpu {
 public:
  TSystemCpu();
  const std::vector<std::string>& Names() const { return names_; }
  // One value per name, -1 where the counter cannot be read.
  std::vector<double> SampleMs() const;

 private:
  std::vector<std::string> names_;
  std::vector<int> pids_;
};

}  // namespace bench
