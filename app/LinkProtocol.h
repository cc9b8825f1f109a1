// The wire format of the link to the live host, without platform calls:
// the agent's messages, and the receiver that finds the live host's send
// messages in the received byte stream.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// "usb-hid=recv" CR LF "code=" hex CR LF: one console report.
std::string RecvMessageText(const std::string& hex);
// "usb-hid=get_status" CR LF.
std::string StatusRequestText();
// "mark=live" CR LF.
std::string KeepAliveText();
// What the agent traces for a send message: address, ": ", the code as
// received (spaces kept).
std::string SendMessageTraceText(const std::string& address, const std::string& code);

// Finds send messages in the bytes the live host sends. The bytes are a
// stream: a message may be split over reads and a read may hold several,
// so the bytes of an unfinished message are kept for the next read.
//
// A line ends at CR, LF or the pair CR LF (one line end, also when the pair
// is split over two reads). A NUL byte ends the text of its read: the piece
// before it is a line, the rest of that read is dropped. A send message
// begins with a line that is exactly "usb-hid=send" and ends with the next
// line: when that line's key (the part before the first "=") equals "code"
// without regard to ASCII case, its value is the message's; any other line
// gives a message without code (empty value). Lines outside a send message
// are ignored.
//
// When the stream goes quiet the caller waits a grace period, then calls
// Flush: a last piece without line end becomes a line, and a send message
// that still holds only its first line is dropped. When the connection ends
// instead, the rest of a line can no longer come: the caller drops what is
// unfinished (Reset) rather than complete it.
//
// One object per connection; Reset when a new connection begins. Not thread
// safe (the main thread feeds it).
class TLinkReceiver {
 public:
  // Lines longer than this are dropped (a peer that never ends a line must
  // not grow the buffer without bound); a code line of the longest report
  // is about 2 KiB.
  static constexpr std::size_t kMaxLineLength = 64 * 1024;

  // Takes the bytes of one read; appends the value of every send message
  // they complete to codes, in order.
  void Feed(const char* data, std::size_t size, std::vector<std::string>& codes);
  void Feed(const std::string& bytes, std::vector<std::string>& codes) { Feed(bytes.data(), bytes.size(), codes); }

  // True when something waits on more bytes: an open send message or an
  // unfinished line. The caller then waits a grace period and calls Flush
  // unless further bytes arrive first.
  bool AwaitsGrace() const;
  // No further byte arrived within the grace period (or the connection
  // ended): completes or drops what AwaitsGrace announced.
  void Flush(std::vector<std::string>& codes);

  // A send message has begun whose code line has not ended yet.
  bool InSendMessage() const { return inMessage_; }

  // Forgets everything held (a new connection, or the end of one).
  void Reset();

 private:
  void EndLine(std::vector<std::string>& codes);
  void TakeLine(const std::string& line, std::vector<std::string>& codes);

  std::string line_;        // the unfinished last line
  bool afterCr_ = false;    // the last byte taken was CR: a following LF is its pair
  bool overlong_ = false;   // dropping the rest of an overlong line
  bool inMessage_ = false;  // "usb-hid=send" seen, its next line not yet
};

// True when line has a "=" and the part before the first one equals "code"
// without regard to ASCII case.
bool IsCodeLine(const std::string& line);
// Everything after the first "=" of a line (empty without one).
std::string LineValue(const std::string& line);
// True when the code, its blanks left out, has an even number of characters:
// two hex digits per byte. An odd one lost a digit on the way (a line cut
// short), and decoding would drop its last digit and send another command.
bool HasWholeBytes(const std::string& code);
