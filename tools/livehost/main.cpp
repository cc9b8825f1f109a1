// livehost: a stand-in for the live host. Listens for the agent, prints every
// message it receives with a time stamp, and sends send messages given on
// the command line or typed at its prompt. One client at a time.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/livehost/LiveHost.h"
#include "tools/livehost/PeerNet.h"

using namespace livehost;

namespace {

void Print(const Options& options, const std::string& text) {
  if (options.recvLines) return;
  std::printf("%s %s\n", LocalTimeStamp().c_str(), text.c_str());
  std::fflush(stdout);
}

void PrintMessage(const Options& options, const AgentMessage& message, std::uint64_t micros) {
  if (options.recvLines) {
    if (message.kind == AgentMessage::Recv) {
      std::printf("recv %llu %s\n", static_cast<unsigned long long>(micros), message.text.c_str());
      std::fflush(stdout);
    }
    return;
  }
  switch (message.kind) {
    case AgentMessage::Recv: Print(options, "recv code=" + message.text); break;
    case AgentMessage::StatusRequest: Print(options, "get_status"); break;
    case AgentMessage::KeepAlive: Print(options, "keep-alive"); break;
    case AgentMessage::Other: Print(options, "other: " + EscapeForPrint(message.text)); break;
  }
}

void SendTo(const Options& options, SocketId client, const std::string& bytes) {
  if (client == kNoSocket) {
    Print(options, "no client connected");
    return;
  }
  Print(options, (SendAll(client, bytes) ? "sent " : "send failed: ") + EscapeForPrint(bytes));
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  std::string error;
  if (!ParseOptions(argc, argv, options, error)) {
    std::fprintf(stderr, "livehost: %s\n%s", error.c_str(), Usage().c_str());
    return 2;
  }
  if (!StartNetworking(error)) {
    std::fprintf(stderr, "livehost: %s\n", error.c_str());
    return 1;
  }
  const SocketId listener = Listen(options.address, options.port, error);
  if (listener == kNoSocket) {
    std::fprintf(stderr, "livehost: %s\n", error.c_str());
    return 1;
  }
  Print(options, "listening on " + options.address + ":" + std::to_string(options.port));
  if (options.prompt) StartInputReader();

  const std::uint64_t started = MonotonicMicros();
  SocketId client = kNoSocket;
  AgentStreamReader reader;
  std::vector<char> buffer(64 * 1024);
  bool running = true;
  while (running) {
    if (options.durationSeconds > 0 &&
        MonotonicMicros() - started >= static_cast<std::uint64_t>(options.durationSeconds) * 1000000u)
      break;
    const int ready = WaitReadable(client == kNoSocket ? listener : kNoSocket, client, 20);
    if ((ready & 1) && client == kNoSocket) {
      std::string peer;
      client = Accept(listener, peer);
      if (client != kNoSocket) {
        Print(options, "connected: " + peer);
        for (const std::string& bytes : options.sends) SendTo(options, client, bytes);
      }
    }
    if (ready & 2) {
      const long n = Receive(client, buffer.data(), buffer.size());
      const std::uint64_t now = MonotonicMicros();
      if (n > 0) {
        std::vector<AgentMessage> messages;
        reader.Feed(buffer.data(), static_cast<std::size_t>(n), messages);
        for (const AgentMessage& message : messages) PrintMessage(options, message, now);
      } else {
        Print(options, n == 0 ? "disconnected" : "connection lost");
        CloseSocket(client, false);
        client = kNoSocket;
        reader.Reset();
        if (options.once) running = false;
      }
    }
    std::string line;
    bool eof = false;
    while (running && NextInputLine(line, eof)) {
      const Command command = ParseCommand(line);
      switch (command.kind) {
        case Command::Send: SendTo(options, client, command.bytes); break;
        case Command::Close:
        case Command::Reset:
          if (client != kNoSocket) {
            CloseSocket(client, command.kind == Command::Reset);
            client = kNoSocket;
            reader.Reset();
            Print(options, command.kind == Command::Reset ? "reset" : "closed");
          }
          break;
        case Command::Quit: running = false; break;
        case Command::Help: std::printf("%s", Usage().c_str()); break;
        case Command::Bad: Print(options, "not a hex code: " + line); break;
        case Command::None: break;
      }
    }
  }
  CloseSocket(client, false);
  CloseSocket(listener, false);
  return 0;
}
