#include "LinuxProcess_win.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "WineTestSupport_win.h"
#include "support/ScopedHandle.h"

namespace testing_support {

namespace {

// A variable of a Linux process's environment ("" when unset or unreadable).
std::string EnvironmentValue(const std::string& procEntry, const std::string& name) {
  const std::string block = ReadWholeFile("Z:\\proc\\" + procEntry + "\\environ");
  const std::string key = name + "=";
  for (std::size_t at = 0; at < block.size();) {
    const std::size_t end = std::min(block.find('\0', at), block.size());
    if (block.compare(at, key.size(), key) == 0) return block.substr(at + key.size(), end - at - key.size());
    at = end + 1;
  }
  return std::string();
}

}  // namespace

int LinuxPidOf(const std::string& exePath) {
  // Prefixes side by side may run the same program: only ours counts.
  const std::string prefix = EnvironmentValue("self", "WINEPREFIX");
  WIN32_FIND_DATAA entry;
  const ScopedFindHandle find(FindFirstFileA("Z:\\proc\\*", &entry));
  if (!find) return 0;
  int found = 0;
  do {
    const int pid = std::atoi(entry.cFileName);
    if (pid <= 0) continue;
    const std::string cmdline = ReadWholeFile("Z:\\proc\\" + std::to_string(pid) + "\\cmdline");
    const std::string first = cmdline.substr(0, cmdline.find('\0'));
    if (!first.empty() && lstrcmpiA(first.c_str(), exePath.c_str()) == 0 &&
        EnvironmentValue(std::to_string(pid), "WINEPREFIX") == prefix) {
      if (found) return 0;
      found = pid;
    }
  } while (FindNextFileA(find.Get(), &entry));
  return found;
}

double LinuxProcessCpuSeconds(int linuxPid) {
  if (linuxPid <= 0) return -1;
  const std::string stat = ReadWholeFile("Z:\\proc\\" + std::to_string(linuxPid) + "\\stat");
  // The fields after the command name, which is in parentheses and may hold
  // spaces: state first, user and system time the 12th and 13th.
  const std::size_t close = stat.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(stat.substr(close + 1));
  std::string field;
  unsigned long long user = 0, system = 0;
  for (int i = 1; i <= 13 && fields >> field; ++i) {
    if (i == 12) user = std::strtoull(field.c_str(), nullptr, 10);
    if (i == 13) system = std::strtoull(field.c_str(), nullptr, 10);
  }
  if (!fields) return -1;
  return static_cast<double>(user + system) / 100.0;  // clock ticks: 100 a second on Linux
}

}  // namespace testing_support
