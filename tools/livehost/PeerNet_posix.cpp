// The peer's platform on BSD sockets and POSIX threads.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <deque>
#include <iostream>
#include <mutex>
#include <thread>

#include "tools/livehost/PeerNet.h"

namespace livehost {

namespace {

std::mutex inputLock;
std::deque<std::string> inputLines;
bool inputEnded = false;

}  // namespace

bool StartNetworking(std::string&) { return true; }

SocketId Listen(const std::string& address, int port, std::string& error) {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  if (s < 0) {
    error = "socket failed";
    return kNoSocket;
  }
  const int on = 1;
  setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in local = {};
  local.sin_family = AF_INET;
  local.sin_port = htons(static_cast<uint16_t>(port));
  if (inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1) {
    close(s);
    error = "bad address " + address;
    return kNoSocket;
  }
  if (bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 || listen(s, 4) != 0) {
    close(s);
    error = "cannot listen on " + address + ":" + std::to_string(port);
    return kNoSocket;
  }
  fcntl(s, F_SETFL, fcntl(s, F_GETFL) | O_NONBLOCK);
  return s;
}

SocketId Accept(SocketId listener, std::string& peer) {
  sockaddr_in from = {};
  socklen_t length = sizeof from;
  const int s = accept(static_cast<int>(listener), reinterpret_cast<sockaddr*>(&from), &length);
  if (s < 0) return kNoSocket;
  fcntl(s, F_SETFL, fcntl(s, F_GETFL) & ~O_NONBLOCK);
  const int on = 1;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
  peer = std::string(text) + ":" + std::to_string(ntohs(from.sin_port));
  return s;
}

int WaitReadable(SocketId listener, SocketId client, int timeoutMs) {
  pollfd fds[2] = {};
  nfds_t n = 0;
  int listenerAt = -1, clientAt = -1;
  if (listener != kNoSocket) {
    fds[n] = {static_cast<int>(listener), POLLIN, 0};
    listenerAt = static_cast<int>(n++);
  }
  if (client != kNoSocket) {
    fds[n] = {static_cast<int>(client), POLLIN, 0};
    clientAt = static_cast<int>(n++);
  }
  if (poll(fds, n, timeoutMs) <= 0) return 0;
  int result = 0;
  if (listenerAt >= 0 && fds[listenerAt].revents) result |= 1;
  if (clientAt >= 0 && fds[clientAt].revents) result |= 2;
  return result;
}

long Receive(SocketId socket, char* buffer, std::size_t size) {
  return static_cast<long>(recv(static_cast<int>(socket), buffer, size, 0));
}

bool SendAll(SocketId socket, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = send(static_cast<int>(socket), bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

void CloseSocket(SocketId socket, bool reset) {
  if (socket == kNoSocket) return;
  if (reset) {
    linger abortive = {1, 0};
    setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
  }
  close(static_cast<int>(socket));
}

void StartInputReader() {
  std::thread([] {
    std::string line;
    while (std::getline(std::cin, line)) {
      std::lock_guard<std::mutex> lock(inputLock);
      inputLines.push_back(line);
    }
    std::lock_guard<std::mutex> lock(inputLock);
    inputEnded = true;
  }).detach();
}

bool NextInputLine(std::string& line, bool& eof) {
  std::lock_guard<std::mutex> lock(inputLock);
  eof = inputEnded && inputLines.empty();
  if (inputLines.empty()) return false;
  line = inputLines.front();
  inputLines.pop_front();
  return true;
}

std::uint64_t MonotonicMicros() {
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

std::string LocalTimeStamp() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const long millis = static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
  std::tm local = {};
  localtime_r(&seconds, &local);
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03ld", local.tm_hour, local.tm_min, local.tm_sec, millis);
  return text;
}

}  // namespace livehost
