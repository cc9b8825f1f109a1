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
    // Nothing of it is kept; it still counts as a line of an open message.
    overlong_ = false;
    line_.clear();
    if (inMessage_) hasSecondLine_ = true;
    return;
  }
  std::string line;
  line.swap(line_);
  TakeLine(line, codes);
}

void TLinkReceiver::TakeLine(const std::string& line, std::vector<std::string>& codes) {
  if (line == kSendFirstLine) {
    if (inMessage_ && hasSecondLine_) codes.emplace_back();  // the previous one had no code line
    inMessage_ = true;
    hasSecondLine_ = false;
    return;
  }
  if (!inMessage_) return;  // other text: ignored
  hasSecondLine_ = true;
  if (IsCodeLine(line)) {
    codes.push_back(LineValue(line));
    inMessage_ = false;
    hasSecondLine_ = false;
  }
}

bool TLinkReceiver::AwaitsGrace() const {
  if (!inMessage_) return false;
  return hasSecondLine_ || (!overlong_ && IsCodeLine(line_));
}

void TLinkReceiver::Flush(std::vector<std::string>& codes) {
  if (!inMessage_) return;
  if (!overlong_ && IsCodeLine(line_)) {
    EndLine(codes);
    afterCr_ = false;
  } else if (hasSecondLine_) {
    codes.emplace_back();
    inMessage_ = false;
    hasSecondLine_ = false;
  }
}

void TLinkReceiver::Reset() { *this = TLinkReceiver(); }
