// The peer's platform on Winsock 2 and Win32 threads.
#include <cstdio>
#include <deque>
#include <iostream>
#include <mutex>

#include "support/CriticalSection.h"
#include "support/ScopedHandle.h"
#include "support/Win32.h"
#include "tools/livehost/PeerNet.h"

namespace livehost {

namespace {

CriticalSection inputLock;
std::deque<std::string> inputLines;
bool inputEnded = false;

DWORD WINAPI InputThread(void*) {
  std::string line;
  while (std::getline(std::cin, line)) {
    std::lock_guard<CriticalSection> hold(inputLock);
    inputLines.push_back(line);
  }
  std::lock_guard<CriticalSection> hold(inputLock);
  inputEnded = true;
  return 0;
}

SOCKET AsSocket(SocketId id) { return static_cast<SOCKET>(id); }

}  // namespace

bool StartNetworking(std::string& error) {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
    error = "WSAStartup failed";
    return false;
  }
  return true;
}

SocketId Listen(const std::string& address, int port, std::string& error) {
  ScopedSocket s(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (!s) {
    error = "socket failed";
    return kNoSocket;
  }
  sockaddr_in local = {};
  local.sin_family = AF_INET;
  local.sin_port = htons(static_cast<u_short>(port));
  local.sin_addr.s_addr = inet_addr(address.c_str());
  if (bind(s.Get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 || listen(s.Get(), 4) != 0) {
    error = "cannot listen on " + address + ":" + std::to_string(port) + " (" + std::to_string(WSAGetLastError()) +
            ")";
    return kNoSocket;
  }
  u_long nonBlocking = 1;
  ioctlsocket(s.Get(), FIONBIO, &nonBlocking);
  return static_cast<SocketId>(s.Release());
}

SocketId Accept(SocketId listener, std::string& peer) {
  sockaddr_in from = {};
  int length = sizeof from;
  const SOCKET s = accept(AsSocket(listener), reinterpret_cast<sockaddr*>(&from), &length);
  if (s == INVALID_SOCKET) return kNoSocket;
  u_long blocking = 0;
  ioctlsocket(s, FIONBIO, &blocking);
  BOOL on = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
  peer = std::string(inet_ntoa(from.sin_addr)) + ":" + std::to_string(ntohs(from.sin_port));
  return static_cast<SocketId>(s);
}

int WaitReadable(SocketId listener, SocketId client, int timeoutMs) {
  fd_set readable;
  FD_ZERO(&readable);
  if (listener != kNoSocket) FD_SET(AsSocket(listener), &readable);
  if (client != kNoSocket) FD_SET(AsSocket(client), &readable);
  if (readable.fd_count == 0) {
    Sleep(static_cast<DWORD>(timeoutMs));
    return 0;
  }
  timeval timeout = {timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  if (select(0, &readable, nullptr, nullptr, &timeout) <= 0) return 0;
  int result = 0;
  if (listener != kNoSocket && FD_ISSET(AsSocket(listener), &readable)) result |= 1;
  if (client != kNoSocket && FD_ISSET(AsSocket(client), &readable)) result |= 2;
  return result;
}

long Receive(SocketId socket, char* buffer, std::size_t size) {
  return recv(AsSocket(socket), buffer, static_cast<int>(size), 0);
}

bool SendAll(SocketId socket, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const int n = send(AsSocket(socket), bytes.data() + done, static_cast<int>(bytes.size() - done), 0);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

void CloseSocket(SocketId socket, bool reset) {
  if (socket == kNoSocket) return;
  const ScopedSocket owned(AsSocket(socket));  // closes it on return
  if (reset) {
    linger abortive = {1, 0};
    setsockopt(owned.Get(), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abortive), sizeof abortive);
  }
}

void StartInputReader() {
  // Runs on its own until the input ends; nobody waits for it.
  ScopedKernelHandle thread(CreateThread(nullptr, 0, &InputThread, nullptr, 0, nullptr));
}

bool NextInputLine(std::string& line, bool& eof) {
  std::lock_guard<CriticalSection> hold(inputLock);
  eof = inputEnded && inputLines.empty();
  const bool have = !inputLines.empty();
  if (have) {
    line = inputLines.front();
    inputLines.pop_front();
  }
  return have;
}

std::uint64_t MonotonicMicros() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<std::uint64_t>(now.QuadPart / frequency.QuadPart * 1000000 +
                                    now.QuadPart % frequency.QuadPart * 1000000 / frequency.QuadPart);
}

std::string LocalTimeStamp() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  char text[32];
  std::snprintf(text, sizeof text, "%02u:%02u:%02u.%03u", t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
  return text;
}

}  // namespace livehost
