#include "bench/BaselineRelay_win.h"

#include <cstdint>

#include "bench/RelayStats.h"

namespace bench {

TBaselineRelay::~TBaselineRelay() {
  if (thread_) {
    SetEvent(stop_);
    WaitForSingleObject(thread_, 10000);
    CloseHandle(thread_);
  }
  if (socket_ != INVALID_SOCKET) closesocket(socket_);
  if (device_ != INVALID_HANDLE_VALUE) CloseHandle(device_);
  if (readDone_) CloseHandle(readDone_);
  if (stop_) CloseHandle(stop_);
}

bool TBaselineRelay::Start(std::string* error) {
  device_ = CreateFileA(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                        FILE_FLAG_OVERLAPPED, nullptr);
  if (device_ == INVALID_HANDLE_VALUE) {
    *error = "CreateFileA " + path_ + " failed (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  // As many buffered reports as the agent's read handle keeps.
  HidD_SetNumInputBuffers(device_, 512);
  socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (socket_ == INVALID_SOCKET) {
    *error = "socket failed (error " + std::to_string(WSAGetLastError()) + ")";
    return false;
  }
  // As the agent's client does: a report goes out at once.
  BOOL noDelay = TRUE;
  setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(18884);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    *error = "connect failed (error " + std::to_string(WSAGetLastError()) + ")";
    return false;
  }
  stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  readDone_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  thread_ = CreateThread(nullptr, 0, &TBaselineRelay::ThreadProc, this, 0, nullptr);
  if (!thread_) {
    *error = "CreateThread failed";
    return false;
  }
  return true;
}

ULONGLONG TBaselineRelay::CpuTime() const {
  FILETIME created, exited, kernel, user;
  if (!thread_ || !GetThreadTimes(thread_, &created, &exited, &kernel, &user)) return 0;
  const auto value = [](const FILETIME& t) { return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
  return value(kernel) + value(user);
}

DWORD WINAPI TBaselineRelay::ThreadProc(void* self) {
  static_cast<TBaselineRelay*>(self)->Run();
  return 0;
}

void TBaselineRelay::Run() {
  std::uint8_t report[1 + kPayloadSize];
  HANDLE waits[2] = {stop_, readDone_};
  for (;;) {
    OVERLAPPED overlapped = {};
    overlapped.hEvent = readDone_;
    ResetEvent(readDone_);
    if (!ReadFile(device_, report, sizeof report, nullptr, &overlapped) && GetLastError() != ERROR_IO_PENDING) return;
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) {
      CancelIoEx(device_, &overlapped);
      DWORD ignored = 0;
      GetOverlappedResult(device_, &overlapped, &ignored, TRUE);
      return;
    }
    DWORD bytes = 0;
    if (!GetOverlappedResult(device_, &overlapped, &bytes, FALSE)) return;
    if (bytes < 1 || report[0] != 0) continue;
    const std::string message = "usb-hid=recv\r\ncode=" + ToHex(report + 1, bytes - 1) + "\r\n";
    if (send(socket_, message.data(), static_cast<int>(message.size()), 0) != static_cast<int>(message.size())) return;
  }
}

}  // namespace bench
