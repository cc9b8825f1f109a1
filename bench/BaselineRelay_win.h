// The baseline: the least a relay can do. One thread opens the simulated
// device's pipe like the agent's read handle, waits for each input report
// with an overlapped read and sends the same recv message over a loopback
// connection of its own, with nothing in between.
#pragma once

#include <string>

#include "support/Win32.h"

namespace bench {

class TBaselineRelay {
 public:
  explicit TBaselineRelay(std::string devicePath) : path_(std::move(devicePath)) {}
  // Stops the thread; its pipe handle and connection close.
  ~TBaselineRelay();
  TBaselineRelay(const TBaselineRelay&) = delete;
  TBaselineRelay& operator=(const TBaselineRelay&) = delete;

  // Opens the device and connects to 127.0.0.1:18884, then starts reading.
  bool Start(std::string* error);
  // CPU time of the relay thread so far, in 100 ns units.
  ULONGLONG CpuTime() const;

 private:
  static DWORD WINAPI ThreadProc(void* self);
  void Run();

  std::string path_;
  HANDLE device_ = INVALID_HANDLE_VALUE;
  SOCKET socket_ = INVALID_SOCKET;
  HANDLE stop_ = nullptr;
  HANDLE readDone_ = nullptr;
  HANDLE thread_ = nullptr;
};

}  // namespace bench
