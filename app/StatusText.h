// Texts the main window shows and writes, built without platform calls.
#pragma once

#include <cstdint>
#include <string>

std::string JoyStatusText(bool consoleInUse);  // "USB遥杆: " + state
std::string NetStatusText(bool linkUp);        // "直播主机: " + state
std::string SendCountText(int count);          // "发送: %d 次"
std::string RecvCountText(int count);          // "接收: %d 次"

// The autorun command line: the quoted program path, then " -min".
std::string AutorunCommandLine(const std::string& programPath);
// True when the first argument is exactly "-min" (same case, whole argument).
bool IsMinimizedStart(int argc, const char* const* argv);

// The console's product string or its model name, ASCII letters folded, no
// trimming and no substring match.
bool IsConsoleName(const std::string& name);

// A packet counter: 32-bit signed, counting on from the largest value to the
// smallest (as the platform's integers wrap) instead of overflowing.
class TPacketCounter {
 public:
  explicit TPacketCounter(std::int32_t start = 0) : value_(start) {}
  TPacketCounter& operator++();
  operator std::int32_t() const { return value_; }

 private:
  std::int32_t value_;
};
