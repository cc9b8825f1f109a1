// The agent's working set against a minimal window program under the same
// Wine, in the same run: each started fresh and measured once settled, the
// agent also after relaying reports at a fixed rate from a simulated console
// to a loopback live host.
//   workingset_bench AGENT_EXE MINIMAL_EXE [--seconds N] [--rate N]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "bench/LoopbackPeer_win.h"
#include "bench/RelayStats.h"
#include "tools/simhid/SimHid.h"

#include <psapi.h>

using namespace bench;
using simhid::TSimHid;

namespace {

constexpr int kSettleMs = 3000;
constexpr int kReadyTimeoutMs = 30000;
constexpr double kTargetKiB = 6 * 1024;

bool WaitUntilTrue(int timeoutMs, bool (*condition)(void*), void* context) {
  const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
  while (GetTickCount64() < end) {
    if (condition(context)) return true;
    Sleep(20);
  }
  return condition(context);
}

class TChild {
 public:
  ~TChild() {
    if (!info_.hProcess) return;
    EnumWindows(&TChild::PostClose, static_cast<LPARAM>(info_.dwProcessId));
    if (WaitForSingleObject(info_.hProcess, 10000) != WAIT_OBJECT_0) TerminateProcess(info_.hProcess, 1);
    CloseHandle(info_.hProcess);
    CloseHandle(info_.hThread);
  }
  bool Start(const std::string& exe) {
    std::string commandLine = "\"" + exe + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    return CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &info_) != FALSE;
  }
  bool HasWindow() const {
    std::pair<DWORD, bool> search(info_.dwProcessId, false);
    EnumWindows(&TChild::FindVisible, reinterpret_cast<LPARAM>(&search));
    return search.second;
  }
  // The modules it has loaded, with their image sizes (KiB), largest first.
  std::vector<std::pair<double, std::string>> Modules() const {
    std::vector<std::pair<double, std::string>> modules;
    HMODULE handles[512];
    DWORD needed = 0;
    if (!EnumProcessModules(info_.hProcess, handles, sizeof handles, &needed)) return modules;
    for (DWORD i = 0; i < needed / sizeof(HMODULE) && i < 512; ++i) {
      char name[MAX_PATH] = "";
      MODULEINFO info = {};
      GetModuleBaseNameA(info_.hProcess, handles[i], name, sizeof name);
      GetModuleInformation(info_.hProcess, handles[i], &info, sizeof info);
      modules.emplace_back(static_cast<double>(info.SizeOfImage) / 1024, name);
    }
    std::sort(modules.rbegin(), modules.rend());
    return modules;
  }
  // Working set and its peak, KiB.
  bool Memory(double& workingSet, double& peak) const {
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof memory;
    if (!GetProcessMemoryInfo(info_.hProcess, &memory, sizeof memory)) return false;
    workingSet = static_cast<double>(memory.WorkingSetSize) / 1024;
    peak = static_cast<double>(memory.PeakWorkingSetSize) / 1024;
    return true;
  }

 private:
  static BOOL CALLBACK FindVisible(HWND window, LPARAM search) {
    auto* s = reinterpret_cast<std::pair<DWORD, bool>*>(search);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == s->first && IsWindowVisible(window)) s->second = true;
    return TRUE;
  }
  static BOOL CALLBACK PostClose(HWND window, LPARAM pid) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == static_cast<DWORD>(pid)) PostMessageA(window, WM_CLOSE, 0, 0);
    return TRUE;
  }
  PROCESS_INFORMATION info_ = {};
};

std::string WindowsPath(std::string path) {
  if (!path.empty() && path[0] == '/') {
    path = "Z:" + path;
    for (char& c : path)
      if (c == '/') c = '\\';
  }
  return path;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: workingset_bench AGENT_EXE MINIMAL_EXE [--seconds N] [--rate N]\n");
    return 2;
  }
  const std::string agentExe = WindowsPath(argv[1]), minimalExe = WindowsPath(argv[2]);
  int seconds = 10, rate = 1000;
  for (int i = 3; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--seconds")) seconds = std::atoi(argv[i + 1]);
    if (!std::strcmp(argv[i], "--rate")) rate = std::atoi(argv[i + 1]);
  }
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\QEX\\JoystickAgent");  // the default address

  double minimalWs = 0, minimalPeak = 0;
  std::vector<std::pair<double, std::string>> minimalModules;
  {
    TChild minimal;
    if (!minimal.Start(minimalExe) ||
        !WaitUntilTrue(kReadyTimeoutMs, [](void* c) { return static_cast<TChild*>(c)->HasWindow(); }, &minimal)) {
      std::fprintf(stderr, "the minimal window program did not show its window\n");
      return 1;
    }
    Sleep(kSettleMs);
    minimal.Memory(minimalWs, minimalPeak);
    minimalModules = minimal.Modules();
  }

  TSimHid console;
  TLoopbackPeer peer;
  simhid::DeviceProfile profile;
  std::string error;
  const char* driver = std::getenv("QEX_SIMHID_SYS");
  const DWORD serial = driver && console.Install(driver, &error) && peer.Ok() ? console.Plug(profile, false) : 0;
  if (!serial) {
    std::fprintf(stderr, "cannot set up the simulated console (%s) or the listener on 127.0.0.1:18884\n",
                 driver ? (error.empty() ? console.LastError().c_str() : error.c_str()) : "QEX_SIMHID_SYS not set");
    return 1;
  }
  TChild agent;
  struct Ready {
    TSimHid& console;
    DWORD serial;
    TLoopbackPeer& peer;
  } ready{console, serial, peer};
  if (!agent.Start(agentExe) ||
      !WaitUntilTrue(kReadyTimeoutMs, [](void* c) {
        auto* r = static_cast<Ready*>(c);
        return r->peer.Open() > 0;
      }, &ready)) {
    std::fprintf(stderr, "the agent did not connect and take the console into use\n");
    return 1;
  }
  Sleep(kSettleMs);
  double startWs = 0, startPeak = 0;
  agent.Memory(startWs, startPeak);
  const std::vector<std::pair<double, std::string>> agentModules = agent.Modules();

  // Reports on a fixed schedule, 1 ms granularity is enough for memory.
  const std::uint8_t tag = 1;
  const ULONGLONG begin = GetTickCount64();
  const long count = static_cast<long>(rate) * seconds;
  long taken = 0;
  for (long seq = 0; seq < count; ++seq) {
    while (GetTickCount64() < begin + static_cast<ULONGLONG>(seq) * 1000 / static_cast<ULONGLONG>(rate)) Sleep(1);
    simhid::Report report{0x00};
    const std::vector<std::uint8_t> payload = MakePayload(tag, static_cast<std::uint32_t>(seq));
    report.insert(report.end(), payload.begin(), payload.end());
    if (console.SendInput(serial, report)) ++taken;
  }
  Sleep(kSettleMs);
  double relayWs = 0, relayPeak = 0;
  agent.Memory(relayWs, relayPeak);
  const std::size_t arrived = peer.ArrivalCount(tag);

  std::printf("| program | when | working set KiB | peak KiB | over the minimal program KiB |\n");
  std::printf("|---|---|---|---|---|\n");
  std::printf("| minimal window | %d s after start | %.0f | %.0f | |\n", kSettleMs / 1000, minimalWs, minimalPeak);
  std::printf("| agent | %d s after link and console are up | %.0f | %.0f | %.0f |\n", kSettleMs / 1000, startWs,
              startPeak, startWs - minimalWs);
  std::printf("| agent | after %d s at %d reports/s (%ld written, %ld taken, %zu arrived) | %.0f | %.0f | %.0f |\n",
              seconds, rate, count, taken, arrived, relayWs, relayPeak, relayWs - minimalWs);
  std::printf("\nModules the agent loads beyond the minimal program's (image size KiB):");
  for (const auto& module : agentModules) {
    bool shared = false;
    for (const auto& other : minimalModules) shared = shared || _stricmp(other.second.c_str(), module.second.c_str()) == 0;
    if (!shared) std::printf(" %s %.0f;", module.second.c_str(), module.first);
  }
  std::printf("\n");
  const bool met = startWs - minimalWs <= kTargetKiB && relayWs - minimalWs <= kTargetKiB;
  std::printf("\nTarget: the agent's working set within 6 MB of the minimal program: %s\n", met ? "met" : "MISSED");
  console.Unplug(serial, false);
  return met ? 0 : 3;
}
