#include "app/LinkProtocol.h"

namespace {

constexpr char kSendFirstLine[] = "usb-hid=send";

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

std::string RecvMessageText(const std::string& hex) { return "usb-hid=recv\r\ncode=" + hex + "\r\n"; }
std::string StatusRequestText() { return "usb-hid=get_status\r\n"; }
std::string KeepAliveText() { return "mark=live\r\n"; }

std::string SendMessageTraceText(const std::string& address, const std::string& code) {
  return address + ": " + code;
}

bool IsCodeLine(const std::string& line) {
  const std::size_t equals = line.find('=');
  if (equals != 4) return false;
  static const char kKey[] = "CODE";
  for (std::size_t i = 0; i < 4; ++i)
    if (UpperAscii(line[i]) != kKey[i]) return false;
  return true;
}

std::string LineValue(const std::string& line) {
  const std::size_t equals = line.find('=');
  return equals == std::string::npos ? std::string() : line.substr(equals + 1);
}

bool HasWholeBytes(const std::string& code) {
  std::size_t digits = 0;
  for (char c : code)
    if (c != ' ') ++digits;
  return digits % 2 == 0;
}

void TLinkReceiver::Feed(const char* data, std::size_t size, std::vector<std::string>& codes) {
  for (std::size_t i = 0; i < size; ++i) {
    const char c = data[i];
    if (c == '\0') {
      // The text of this read ends here; the piece before is a line.
      if (!line_.empty() || overlong_) EndLine(codes);
      afterCr_ = false;
      return;
    }
    if (afterCr_ && c == '\n') {
      afterCr_ = false;
      continue;
    }
    afterCr_ = false;
    if (c == '\r' || c == '\n') {
      EndLine(codes);
      afterCr_ = c == '\r';
      continue;
    }
    if (overlong_) continue;
    if (line_.size() >= kMaxLineLength) {
      line_.clear();
      overlong_ = true;
      continue;
    }
    line_.push_back(c);
  }
}

void TLinkReceiver::EndLine(std::vector<std::string>& codes) {
  if (overlong_) {
    // Nothing of it is kept; it is a line that is not a code line.
    overlong_ = false;
    line_.clear();
    TakeLine(std::string(), codes);
    return;
  }
  std::string line;
  line.swap(line_);
  TakeLine(line, codes);
}

void TLinkReceiver::TakeLine(const std::string& line, std::vector<std::string>& codes) {
  if (line == kSendFirstLine) {
    inMessage_ = true;  // a first line alone before it was no message
    return;
  }
  if (!inMessage_) return;  // other text: ignored
  // The line after the first one decides: the code line completes the
  // message; any other line ends it without a code, so a code line further
  // on (of some other text) is never taken for it.
  inMessage_ = false;
  codes.push_back(IsCodeLine(line) ? LineValue(line) : std::string());
}

bool TLinkReceiver::AwaitsGrace() const { return inMessage_ || !line_.empty() || overlong_; }

void TLinkReceiver::Flush(std::vector<std::string>& codes) {
  // The last piece without a line end is a line; a send message still open
  // after it holds its first line only and is no message.
  if (!line_.empty() || overlong_) EndLine(codes);
  inMessage_ = false;
}

void TLinkReceiver::Reset() { *this = TLinkReceiver(); }
