#include "app/StatusText.h"

#include <cstring>
#include <limits>

#include "app/Texts.h"
#include "support/Text.h"

std::string JoyStatusText(bool consoleInUse) {
  return texts::kTextJoyPrefix + ChooseText(consoleInUse, texts::kTextConnected, texts::kTextDisconnected);
}

std::string NetStatusText(bool linkUp) {
  return texts::kTextNetPrefix + ChooseText(linkUp, texts::kTextConnected, texts::kTextDisconnected);
}

std::string SendCountText(int count) { return FormatText(texts::kFmtSendCount, count); }
std::string RecvCountText(int count) { return FormatText(texts::kFmtRecvCount, count); }

std::string AutorunCommandLine(const std::string& programPath) { return "\"" + programPath + "\" -min"; }

bool IsMinimizedStart(int argc, const char* const* argv) {
  return argc >= 2 && argv[1] != nullptr && std::strcmp(argv[1], "-min") == 0;
}

bool IsConsoleName(const std::string& name) {
  return SameTextAscii(name, "QEX PROPRE CONTROLLER") || SameTextAscii(name, "MRV-4000");
}

TPacketCounter& TPacketCounter::operator++() {
  value_ = value_ == std::numeric_limits<std::int32_t>::max() ? std::numeric_limits<std::int32_t>::min() : value_ + 1;
  return *this;
}
