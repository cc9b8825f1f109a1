// The agent's working set against a minimal window program under the same
// Wine, in the same run: each started fresh and measured once settled, the
// agent also after relaying reports at a fixed rate from a simulated console
// to a loopback live host. With --module-costs it then starts the minimal
// program once more for each module the agent loads beyond it, with that
// module loaded (and what it pulls in), and reports what each adds.
//   workingset_bench AGENT_EXE MINIMAL_EXE [--seconds N] [--rate N] [--module-costs]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "bench/LoopbackPeer_win.h"
#include "bench/RelayStats.h"
#include "tests/support/WineTestSupport_win.h"
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

// A program under measurement, closed as a user closes it and killed if it
// does not end.
class TChild {
 public:
  ~TChild() {
    if (child_.Running() && child_.Close(10000) == -1) child_.Kill();
  }
  bool Start(const std::string& exe, const std::string& arguments = "") { return child_.Start(exe, arguments); }
  bool HasWindow() const {
    for (HWND window : testing_support::ProcessWindows(child_.Pid()))
      if (IsWindowVisible(window)) return true;
    return false;
  }
  // The modules it has loaded, with their image sizes (KiB), largest first.
  std::vector<std::pair<double, std::string>> Modules() const {
    std::vector<std::pair<double, std::string>> modules;
    HMODULE handles[512];
    DWORD needed = 0;
    if (!EnumProcessModules(child_.Handle(), handles, sizeof handles, &needed)) return modules;
    for (DWORD i = 0; i < needed / sizeof(HMODULE) && i < 512; ++i) {
      char name[MAX_PATH] = "";
      MODULEINFO info = {};
      GetModuleBaseNameA(child_.Handle(), handles[i], name, sizeof name);
      GetModuleInformation(child_.Handle(), handles[i], &info, sizeof info);
      modules.emplace_back(static_cast<double>(info.SizeOfImage) / 1024, name);
    }
    std::sort(modules.rbegin(), modules.rend());
    return modules;
  }
  // Working set and its peak, KiB.
  bool Memory(double& workingSet, double& peak) const {
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof memory;
    if (!GetProcessMemoryInfo(child_.Handle(), &memory, sizeof memory)) return false;
    workingSet = static_cast<double>(memory.WorkingSetSize) / 1024;
    peak = static_cast<double>(memory.PeakWorkingSetSize) / 1024;
    return true;
  }

 private:
  testing_support::ChildProcess child_;
};

std::string WindowsPath(std::string path) {
  if (!path.empty() && path[0] == '/') {
    path = "Z:" + path;
    for (char& c : path)
      if (c == '/') c = '\\';
  }
  return path;
}

using ModuleList = std::vector<std::pair<double, std::string>>;

// Starts the program, waits for its window and settles; its working set,
// peak and modules. False when it shows no window.
bool MeasureWindowProgram(const std::string& exe, const std::string& arguments, double& workingSet, double& peak,
                          ModuleList* modules) {
  TChild child;
  if (!child.Start(exe, arguments) ||
      !WaitUntilTrue(kReadyTimeoutMs, [](void* c) { return static_cast<TChild*>(c)->HasWindow(); }, &child))
    return false;
  Sleep(kSettleMs);
  child.Memory(workingSet, peak);
  if (modules) *modules = child.Modules();
  return true;
}

bool Listed(const ModuleList& modules, const std::string& name) {
  for (const auto& module : modules)
    if (_stricmp(module.second.c_str(), name.c_str()) == 0) return true;
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: workingset_bench AGENT_EXE MINIMAL_EXE [--seconds N] [--rate N]\n");
    return 2;
  }
  const std::string agentExe = WindowsPath(argv[1]), minimalExe = WindowsPath(argv[2]);
  int seconds = 10, rate = 1000;
  bool moduleCosts = false;
  for (int i = 3; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--module-costs")) moduleCosts = true;
    else if (i + 1 < argc && !std::strcmp(argv[i], "--seconds")) seconds = std::atoi(argv[++i]);
    else if (i + 1 < argc && !std::strcmp(argv[i], "--rate")) rate = std::atoi(argv[++i]);
  }
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\QEX\\JoystickAgent");  // the default address

  double minimalWs = 0, minimalPeak = 0;
  ModuleList minimalModules;
  if (!MeasureWindowProgram(minimalExe, "", minimalWs, minimalPeak, &minimalModules)) {
    std::fprintf(stderr, "the minimal window program did not show its window\n");
    return 1;
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
  std::vector<std::string> extraModules;
  for (const auto& module : agentModules) {
    if (Listed(minimalModules, module.second)) continue;
    std::printf(" %s %.0f;", module.second.c_str(), module.first);
    if (_stricmp(module.second.c_str(), "QEXJoystick.exe") != 0) extraModules.push_back(module.second);
  }
  std::printf("\n");
  if (moduleCosts) {
    // A module brings in what it imports itself, so the rows overlap; the
    // last row is all of them at once.
    std::printf("\nWhat each module adds to the minimal program (working set KiB, 3 s after its window shows):\n\n");
    std::printf("| module loaded | minimal program KiB | added KiB | also loaded |\n|---|---|---|---|\n");
    std::string all;
    extraModules.push_back("");  // all of them
    for (const std::string& module : extraModules) {
      const std::string list = module.empty() ? all : module;
      if (!module.empty()) all += (all.empty() ? "" : ",") + module;
      double ws = 0, peak = 0;
      ModuleList loaded;
      if (!MeasureWindowProgram(minimalExe, "--load " + list, ws, peak, &loaded)) {
        std::printf("| %s | (did not start) | | |\n", module.empty() ? "all of the above" : module.c_str());
        continue;
      }
      std::string also;
      for (const auto& m : loaded)
        if (!Listed(minimalModules, m.second) && _stricmp(m.second.c_str(), module.c_str()) != 0 && !module.empty())
          also += (also.empty() ? "" : ", ") + m.second;
      std::printf("| %s | %.0f | %.0f | %s |\n", module.empty() ? "all of the above" : module.c_str(), ws,
                  ws - minimalWs, also.c_str());
    }
  }
  const bool met = startWs - minimalWs <= kTargetKiB && relayWs - minimalWs <= kTargetKiB;
  std::printf("\nTarget: the agent's working set within 6 MB of the minimal program: %s\n", met ? "met" : "MISSED");
  console.Unplug(serial, false);
  return met ? 0 : 3;
}
