// Arbitrary bytes from the network, cut into reads at arbitrary places, with
// quiet periods (Flush) between arbitrary reads, through the receiver and
// the hex decoding of every code it finds. The receiver must find exactly
// the send messages that a plain reading of the same lines gives: a code is
// only ever the value of the code line right after a "usb-hid=send" line,
// with no quiet period between them.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/LinkProtocol.h"
#include "support/Exceptions.h"
#include "support/Hex.h"

namespace {

// A line of the stream, or a quiet period.
struct Token {
  bool quiet;
  std::string line;
};

// The stream cut into lines the plain way, one read at a time.
class PlainLines {
 public:
  void Read(const char* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
      const char c = data[i];
      if (c == '\0') {
        if (!line_.empty()) End();
        afterCr_ = false;
        return;
      }
      const bool pairedLf = afterCr_ && c == '\n';
      afterCr_ = c == '\r';
      if (pairedLf) continue;
      if (c == '\r' || c == '\n') {
        End();
      } else {
        line_.push_back(c);
      }
    }
  }
  void Quiet() {
    if (!line_.empty()) End();
    tokens.push_back({true, std::string()});
  }
  std::vector<Token> tokens;

 private:
  void End() {
    // An overlong line keeps nothing of itself.
    tokens.push_back({false, line_.size() > TLinkReceiver::kMaxLineLength ? std::string() : line_});
    line_.clear();
  }
  std::string line_;
  bool afterCr_ = false;
};

std::vector<std::string> SendMessagesIn(const std::vector<Token>& tokens) {
  std::vector<std::string> codes;
  bool open = false;
  for (const Token& token : tokens) {
    if (token.quiet) {
      open = false;
    } else if (token.line == "usb-hid=send") {
      open = true;
    } else if (open) {
      open = false;
      codes.push_back(IsCodeLine(token.line) ? LineValue(token.line) : std::string());
    }
  }
  return codes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  // The first byte chooses the read length, so splits land everywhere; the
  // second, after which reads the stream goes quiet.
  const std::size_t step = 1 + data[0] % 17;
  const std::uint8_t quietPattern = data[1];
  const char* bytes = reinterpret_cast<const char*>(data + 2);
  const std::size_t length = size - 2;

  TLinkReceiver receiver;
  PlainLines plain;
  std::vector<std::string> codes;
  std::size_t read = 0;
  for (std::size_t at = 0; at < length; at += step, ++read) {
    const std::size_t n = length - at < step ? length - at : step;
    receiver.Feed(bytes + at, n, codes);
    plain.Read(bytes + at, n);
    if (quietPattern & (1u << (read % 8))) {
      receiver.Flush(codes);
      plain.Quiet();
    }
  }
  receiver.Flush(codes);
  plain.Quiet();
  if (receiver.AwaitsGrace()) __builtin_trap();  // nothing is left open after quiet
  if (codes != SendMessagesIn(plain.tokens)) __builtin_trap();

  for (const std::string& code : codes) {
    try {
      const Bytes decoded = HexToBytes(code);
      if (decoded.size() > code.size() / 2) __builtin_trap();
    } catch (const EConvertError&) {
    }
  }
  return 0;
}
