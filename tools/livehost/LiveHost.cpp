#include "tools/livehost/LiveHost.h"

#include <cstdlib>
#include <cstring>

namespace livehost {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Trim(const std::string& text) {
  std::size_t begin = 0, end = text.size();
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t' || text[end - 1] == '\r')) --end;
  return text.substr(begin, end - begin);
}

}  // namespace

std::string Usage() {
  return "usage: livehost [options]\n"
         "  --address A      listen on address A (default 127.0.0.1)\n"
         "  --port P         listen on port P (default 18884)\n"
         "  --send HEX       send a send message with code HEX to each client (repeatable)\n"
         "  --send-raw TEXT  send TEXT as is, with \\r \\n \\0 \\xHH escapes (repeatable)\n"
         "  --recv-lines     print only 'recv <microseconds> <code>' per recv message\n"
         "  --once           end when the first client disconnects\n"
         "  --no-prompt      do not read commands from standard input\n"
         "  --duration S     end after S seconds\n"
         "prompt commands: HEX (send message), raw TEXT, close, reset, quit, help\n";
}

bool ParseOptions(int argc, const char* const* argv, Options& options, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) {
        error = arg + " needs a value";
        return false;
      }
      out = argv[++i];
      return true;
    };
    std::string v;
    if (arg == "--address" || arg == "-a") {
      if (!value(options.address)) return false;
    } else if (arg == "--port" || arg == "-p") {
      if (!value(v)) return false;
      char* end = nullptr;
      const long port = std::strtol(v.c_str(), &end, 10);
      if (v.empty() || *end || port <= 0 || port > 65535) {
        error = "bad port " + v;
        return false;
      }
      options.port = static_cast<int>(port);
    } else if (arg == "--send" || arg == "-s") {
      if (!value(v)) return false;
      options.sends.push_back(SendMessageText(v));
    } else if (arg == "--send-raw") {
      if (!value(v)) return false;
      options.sends.push_back(DecodeEscapes(v));
    } else if (arg == "--recv-lines") {
      options.recvLines = true;
    } else if (arg == "--once") {
      options.once = true;
    } else if (arg == "--no-prompt") {
      options.prompt = false;
    } else if (arg == "--duration") {
      if (!value(v)) return false;
      options.durationSeconds = std::atoi(v.c_str());
    } else {
      error = "unknown option " + arg;
      return false;
    }
  }
  return true;
}

std::string SendMessageText(const std::string& code) { return "usb-hid=send\r\ncode=" + code + "\r\n"; }

std::string DecodeEscapes(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out.push_back(text[i]);
      continue;
    }
    const char c = text[++i];
    switch (c) {
      case 'r': out.push_back('\r'); break;
      case 'n': out.push_back('\n'); break;
      case 't': out.push_back('\t'); break;
      case '0': out.push_back('\0'); break;
      case '\\': out.push_back('\\'); break;
      case 'x':
        if (i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
          out.push_back(static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2])));
          i += 2;
        } else {
          out += "\\x";
        }
        break;
      default:
        out.push_back('\\');
        out.push_back(c);
    }
  }
  return out;
}

std::string EscapeForPrint(const std::string& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else if (c == '\\') out += "\\\\";
    else if (c < 0x20 || c >= 0x7F) {
      out += "\\x";
      out.push_back(kDigits[c >> 4]);
      out.push_back(kDigits[c & 15]);
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

void AgentStreamReader::Feed(const char* data, std::size_t size, std::vector<AgentMessage>& messages) {
  for (std::size_t i = 0; i < size; ++i) {
    const char c = data[i];
    if (afterCr_ && c == '\n') {
      afterCr_ = false;
      continue;
    }
    afterCr_ = false;
    if (c == '\r' || c == '\n') {
      std::string line;
      line.swap(line_);
      TakeLine(line, messages);
      afterCr_ = c == '\r';
    } else if (line_.size() < 1 << 20) {
      line_.push_back(c);
    }
  }
}

void AgentStreamReader::TakeLine(const std::string& line, std::vector<AgentMessage>& messages) {
  if (awaitingCode_) {
    awaitingCode_ = false;
    if (line.compare(0, 5, "code=") == 0) {
      messages.push_back({AgentMessage::Recv, line.substr(5)});
      return;
    }
    messages.push_back({AgentMessage::Other, "usb-hid=recv"});
  }
  if (line == "usb-hid=recv") awaitingCode_ = true;
  else if (line == "usb-hid=get_status") messages.push_back({AgentMessage::StatusRequest, std::string()});
  else if (line == "mark=live") messages.push_back({AgentMessage::KeepAlive, std::string()});
  else messages.push_back({AgentMessage::Other, line});
}

Command ParseCommand(const std::string& typed) {
  const std::string line = Trim(typed);
  Command command;
  if (line.empty()) return command;
  if (line == "close") command.kind = Command::Close;
  else if (line == "reset") command.kind = Command::Reset;
  else if (line == "quit" || line == "exit") command.kind = Command::Quit;
  else if (line == "help" || line == "?") command.kind = Command::Help;
  else if (line.compare(0, 4, "raw ") == 0) {
    command.kind = Command::Send;
    command.bytes = DecodeEscapes(line.substr(4));
  } else {
    // A code as typed: hex digits, blanks allowed between them.
    for (char c : line) {
      if (HexValue(c) < 0 && c != ' ') {
        command.kind = Command::Bad;
        return command;
      }
    }
    command.kind = Command::Send;
    command.bytes = SendMessageText(line);
  }
  return command;
}

}  // namespace livehost
