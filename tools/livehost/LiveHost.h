// The live-host peer's logic without platform calls: its options, the
// messages it sends, and the reader that turns the agent's byte stream into
// messages.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace livehost {

struct Options {
  std::string address = "127.0.0.1";
  int port = 18884;
  std::vector<std::string> sends;  // wire texts sent to each client once it connects
  bool recvLines = false;          // only "recv <microseconds> <code>" lines
  bool once = false;               // end when the first client has gone
  bool prompt = true;              // read commands from standard input
  int durationSeconds = 0;         // end after this long (0: never)
};

// Parses argv; on failure returns false with a message in error.
bool ParseOptions(int argc, const char* const* argv, Options& options, std::string& error);
std::string Usage();

// "usb-hid=send" CR LF "code=" code CR LF.
std::string SendMessageText(const std::string& code);
// C-style escapes \r \n \t \0 \\ and \xHH in a typed text.
std::string DecodeEscapes(const std::string& text);
// Control and non-ASCII bytes as \r, \n, \xHH, for printing.
std::string EscapeForPrint(const std::string& bytes);

struct AgentMessage {
  enum Kind { Recv, StatusRequest, KeepAlive, Other } kind = Other;
  std::string text;  // Recv: the code; Other: the line
};

// Lines end at CR, LF or CR LF; "usb-hid=recv" is joined with the code line
// that follows it. Bytes of an unfinished line wait for the next read.
class AgentStreamReader {
 public:
  void Feed(const char* data, std::size_t size, std::vector<AgentMessage>& messages);
  void Reset() { *this = AgentStreamReader(); }

 private:
  void TakeLine(const std::string& line, std::vector<AgentMessage>& messages);
  std::string line_;
  bool afterCr_ = false;
  bool awaitingCode_ = false;
};

// What a line typed at the prompt asks for.
struct Command {
  enum Kind { None, Send, Close, Reset, Quit, Help, Bad } kind = None;
  std::string bytes;  // Send: the wire text
};
Command ParseCommand(const std::string& line);

}  // namespace livehost
