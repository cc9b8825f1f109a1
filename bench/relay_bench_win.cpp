// Relay benchmark: the unmodified agent relays numbered input reports of the
// simulated console to a loopback peer in this process at fixed rates; the
// same harness with a direct pipe-to-socket relay thread is the baseline.
//
//   relay_bench AGENT_EXE [--seconds N] [--rates 125,500,1000] [--load N] [--viewer]
//
// --load N: N busy threads of a lowest-priority child process for the whole
// run; --viewer: a debug-output viewer attached for the whole run.
//
// The console is the simulated one at the driver level (tools/simhid): the
// agent and the baseline read it through the platform's own HID stack. Run
// in a prefix whose services are up, with QEX_SIMHID_SYS naming the driver
// (bench/run.sh).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/BaselineRelay_win.h"
#include "bench/BenchConditions_win.h"
#include "bench/LoopbackPeer_win.h"
#include "bench/Pacer_win.h"
#include "tests/support/WineTestSupport_win.h"
#include "bench/RelayStats.h"
#include "tools/simhid/SimHid.h"

using namespace bench;
using simhid::TSimHid;

namespace {

constexpr int kWarmUpMs = 1000;
constexpr int kReadyTimeoutMs = 30000;
constexpr int kSettleMs = 2000;
constexpr double kNone = -1e300;  // a figure that does not apply

struct Options {
  std::string agent;
  int seconds = 10;
  std::vector<int> rates = {125, 500, 1000};
  int load = 0;  // busy threads
  bool viewer = false;
};

ULONGLONG Value(const FILETIME& t) { return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime; }


struct Sending {
  std::vector<std::int64_t> completion;  // per sequence number, -1: not taken
  std::vector<double> writeUs;           // duration of each harness write
};

// Writes rate reports a second for the given time on a fixed schedule (a late
// report does not shift the ones after it).
Sending SendReports(TSimHid& console, DWORD serial, std::uint8_t tag, int rate, int milliseconds) {
  const TPacer pacer;
  const std::int64_t frequency = Frequency();
  const std::size_t count = static_cast<std::size_t>(rate) * static_cast<std::size_t>(milliseconds) / 1000;
  Sending sending;
  sending.completion.assign(count, -1);
  sending.writeUs.reserve(count);
  const std::int64_t start = Now() + frequency / 100;
  for (std::size_t seq = 0; seq < count; ++seq) {
    pacer.SleepUntil(start + static_cast<std::int64_t>(seq) * frequency / rate);
    simhid::Report report{0x00};
    const std::vector<std::uint8_t> payload = MakePayload(tag, static_cast<std::uint32_t>(seq));
    report.insert(report.end(), payload.begin(), payload.end());
    const std::int64_t before = Now();
    const bool taken = console.SendInput(serial, report);
    // The harness has handed the report to the device.
    const std::int64_t after = Now();
    if (taken) sending.completion[seq] = after;
    sending.writeUs.push_back(static_cast<double>(after - before) * 1e6 / static_cast<double>(frequency));
  }
  return sending;
}

// Until every taken report arrived, or nothing arrived for a second.
void Drain(const TLoopbackPeer& peer, std::uint8_t tag, std::size_t expected) {
  std::size_t last = peer.ArrivalCount(tag);
  ULONGLONG quietSince = GetTickCount64();
  while (last < expected && GetTickCount64() - quietSince < 1000) {
    Sleep(20);
    const std::size_t now = peer.ArrivalCount(tag);
    if (now != last) quietSince = GetTickCount64();
    last = now;
  }
  Sleep(200);  // late duplicates
}

struct Measurement {
  RunResult result;
  double writeP50Us = 0, writeP99Us = 0;
  double cpuMs = 0;         // relay's CPU time over the run and its drain
  std::vector<double> systemCpuMs;  // the same for each of TSystemCpu's processes
  double viewerCpuMs = 0;           // the debug-output viewer's, when attached
  double wallMs = 0;
  double peakWorkingSetKiB = kNone;  // agent only
  double workingSetKiB = kNone;
  std::size_t damaged = 0;
  // The simulated console's own count of the run's reports it dropped from
  // its queue (the relay never saw those); -1 when it did not answer.
  long long stackDropped = -1;
  std::string failure;
};

// The agent as a child process.
// The agent as a user runs it, closed as a user closes it and killed if it
// does not end.
class TAgentProcess {
 public:
  ~TAgentProcess() { Close(); }
  bool Start(const std::string& exe) { return child_.Start(exe); }
  HANDLE Handle() const { return child_.Handle(); }
  ULONGLONG CpuTime() const {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(child_.Handle(), &created, &exited, &kernel, &user)) return 0;
    return Value(kernel) + Value(user);
  }
  void Close() {
    if (child_.Running() && child_.Close(10000) == -1) child_.Kill();
  }

 private:
  testing_support::ChildProcess child_;
};

class TBench {
 public:
  TBench(const Options& options, TSimHid& console, DWORD serial, TLoopbackPeer& peer, const TSystemCpu& system,
         const TDebugViewer& viewer)
      : options_(options), console_(console), serial_(serial), peer_(peer), system_(system), viewer_(viewer) {}

  Measurement Baseline(int rate) {
    Measurement m;
    TBaselineRelay relay(console_.DevicePath(serial_));
    const int accepted = peer_.Accepted();
    if (!relay.Start(&m.failure)) return m;
    if (!testing_support::WaitUntil([&] { return peer_.Accepted() > accepted; }, kReadyTimeoutMs)) {
      m.failure = "the baseline relay did not connect";
      return m;
    }
    Run(rate, m, [&] { return relay.CpuTime(); });
    return m;
  }

  Measurement Agent(int rate) {
    Measurement m;
    TAgentProcess agent;
    const int accepted = peer_.Accepted();
    if (!agent.Start(options_.agent)) {
      m.failure = "cannot start " + options_.agent + " (error " + std::to_string(GetLastError()) + ")";
      return m;
    }
    if (!testing_support::WaitUntil([&] { return peer_.Accepted() > accepted && peer_.Open() > 0; }, kReadyTimeoutMs)) {
      m.failure = "the agent did not connect";
      return m;
    }
    // The agent takes the console into use from its first enumeration, which
    // runs at start; nothing outside shows when its read handle is open, and
    // the warm-up that follows is not measured.
    Sleep(kSettleMs);
    Run(rate, m, [&] { return agent.CpuTime(); });
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof memory;
    if (GetProcessMemoryInfo(agent.Handle(), &memory, sizeof memory)) {
      m.peakWorkingSetKiB = static_cast<double>(memory.PeakWorkingSetSize) / 1024;
      m.workingSetKiB = static_cast<double>(memory.WorkingSetSize) / 1024;
    }
    agent.Close();
    return m;
  }

  // Every relay lets go of the device and the link before the next one.
  bool Idle() {
    const bool closed = testing_support::WaitUntil([&] { return peer_.Open() == 0; }, 15000);
    Sleep(kSettleMs);  // the last relay's handle on the console closes
    return closed;
  }

 private:
  template <typename CpuTime>
  void Run(int rate, Measurement& m, const CpuTime& cpuTime) {
    const std::uint8_t warmTag = nextTag_++;
    const Sending warm = SendReports(console_, serial_, warmTag, rate, kWarmUpMs);
    Drain(peer_, warmTag, warm.completion.size());
    const std::uint8_t tag = nextTag_++;
    const std::size_t damagedBefore = peer_.Damaged();
    TSimHid::InputCounts countsBefore, countsAfter;
    const bool countedBefore = console_.WaitForInputsSettled(serial_, &countsBefore, 10000);
    const ULONGLONG cpuBefore = cpuTime();
    const std::vector<double> systemBefore = system_.SampleMs();
    const double viewerBefore = viewer_.CpuMs();
    const ULONGLONG wallBefore = GetTickCount64();
    Sending sending = SendReports(console_, serial_, tag, rate, options_.seconds * 1000);
    std::size_t taken = 0;
    for (std::int64_t c : sending.completion) taken += c >= 0 ? 1 : 0;
    Drain(peer_, tag, taken);
    if (countedBefore && console_.WaitForInputsSettled(serial_, &countsAfter, 10000))
      m.stackDropped = static_cast<long long>(countsAfter.dropped) - countsBefore.dropped;
    m.cpuMs = static_cast<double>(cpuTime() - cpuBefore) / 10000;
    const std::vector<double> systemAfter = system_.SampleMs();
    m.viewerCpuMs = viewer_.CpuMs() - viewerBefore;
    for (std::size_t i = 0; i < systemAfter.size(); ++i)
      m.systemCpuMs.push_back(systemBefore[i] < 0 || systemAfter[i] < 0 ? kNone : systemAfter[i] - systemBefore[i]);
    m.wallMs = static_cast<double>(GetTickCount64() - wallBefore);
    m.result = Evaluate(sending.completion, peer_.Arrivals(tag), Frequency());
    m.damaged = peer_.Damaged() - damagedBefore;
    std::sort(sending.writeUs.begin(), sending.writeUs.end());
    m.writeP50Us = Percentile(sending.writeUs, 0.50);
    m.writeP99Us = Percentile(sending.writeUs, 0.99);
  }

  const Options& options_;
  TSimHid& console_;
  DWORD serial_;
  TLoopbackPeer& peer_;
  const TSystemCpu& system_;
  const TDebugViewer& viewer_;
  std::uint8_t nextTag_ = 1;
};

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--seconds" && i + 1 < argc) {
      options.seconds = std::atoi(argv[++i]);
      if (options.seconds < 1) return false;
    } else if (arg == "--rates" && i + 1 < argc) {
      options.rates.clear();
      for (const char* p = argv[++i]; *p;) {
        char* end = nullptr;
        const long rate = std::strtol(p, &end, 10);
        if (end == p || rate < 1 || rate > 100000) return false;
        options.rates.push_back(static_cast<int>(rate));
        p = *end == ',' ? end + 1 : end;
      }
    } else if (arg == "--load" && i + 1 < argc) {
      options.load = std::atoi(argv[++i]);
      if (options.load < 1 || options.load > 64) return false;
    } else if (arg == "--viewer") {
      options.viewer = true;
    } else if (options.agent.empty() && arg.compare(0, 2, "--") != 0) {
      options.agent = testing_support::ToWindowsPath(arg);
    } else {
      return false;
    }
  }
  return !options.agent.empty() && !options.rates.empty();
}

std::string Cell(double value, const char* format = "%.0f") {
  if (value <= kNone) return "n/a";
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string Ratio(double agent, double baseline) {
  if (baseline <= 0 || agent <= 0) return "n/a";
  return Cell(agent / baseline, "%.2f");
}

void PrintRow(int rate, const char* relay, const Measurement& m) {
  if (!m.failure.empty()) {
    std::printf("| %d | %s | failed: %s |\n", rate, relay, m.failure.c_str());
    return;
  }
  const RunResult& r = m.result;
  std::printf("| %d | %s | %zu | %zu | %zu | %zu | %s | %s | %s | %s | %s/%s | %s | %s | %s |\n", rate, relay, r.sent,
              r.received, r.lost, r.duplicated + r.unexpected + m.damaged, Cell(r.minUs).c_str(), Cell(r.p50Us).c_str(),
              Cell(r.p99Us).c_str(), Cell(r.maxUs).c_str(), Cell(m.writeP50Us).c_str(), Cell(m.writeP99Us).c_str(),
              Cell(m.cpuMs, "%.1f").c_str(), Cell(m.wallMs > 0 ? 100 * m.cpuMs / m.wallMs : kNone, "%.1f").c_str(),
              Cell(m.peakWorkingSetKiB).c_str());
}

// Relay's own CPU plus every counted process's; kNone when one is unknown.
double TotalCpuMs(const Measurement& m) {
  double total = m.cpuMs;
  for (double ms : m.systemCpuMs) {
    if (ms <= kNone) return kNone;
    total += ms;
  }
  return total;
}

double PerReportUs(double ms, const RunResult& r) {
  if (ms <= kNone || r.taken == 0) return kNone;
  return ms * 1000 / static_cast<double>(r.taken);
}

void PrintCpuRow(int rate, const char* relay, const Measurement& m, bool viewer) {
  if (!m.failure.empty()) return;
  std::printf("| %d | %s | %s |", rate, relay, Cell(m.cpuMs).c_str());
  for (double ms : m.systemCpuMs) std::printf(" %s |", Cell(ms).c_str());
  const double total = TotalCpuMs(m);
  std::printf(" %s | %s |", Cell(total).c_str(), Cell(PerReportUs(total, m.result), "%.1f").c_str());
  if (viewer) std::printf(" %s |", Cell(m.viewerCpuMs).c_str());
  std::printf("\n");
}

struct Verdict {
  bool met = true;
  std::string text;
  void Check(const std::string& what, bool ok) {
    text += "- " + what + ": " + (ok ? "met" : "MISSED") + "\n";
    met = met && ok;
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--spin") SpinUntil(std::atoi(argv[2]), argv[3]);
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: relay_bench AGENT_EXE [--seconds N] [--rates 125,500,1000] [--load N] [--viewer]\n");
    return 2;
  }
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\QEX\\JoystickAgent");  // the default address

  TSimHid console;
  TLoopbackPeer peer;
  std::string installError;
  const char* driver = std::getenv("QEX_SIMHID_SYS");
  if (!driver || !console.Install(driver, &installError) || !peer.Ok()) {
    std::fprintf(stderr, "cannot set up the simulated console (%s) or the listener on 127.0.0.1:18884\n",
                 driver ? installError.c_str() : "QEX_SIMHID_SYS not set");
    return 1;
  }
  simhid::DeviceProfile profile;  // the console: 33-byte input reports
  const DWORD serial = console.Plug(profile, false);
  if (!serial) {
    std::fprintf(stderr, "cannot plug the simulated console: %s\n", console.LastError().c_str());
    return 1;
  }
  std::string error;
  TBusyLoad load;
  if (options.load > 0 && !load.Start(options.load, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  TDebugViewer viewer;
  if (options.viewer && !viewer.Start(&error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  const TSystemCpu system;
  TBench bench(options, console, serial, peer, system, viewer);

  struct Row {
    int rate;
    Measurement baseline, agent;
    std::uint64_t viewerLines;  // lines the viewer took during the agent's run
  };
  std::vector<Row> rows;
  for (int rate : options.rates) {
    std::fprintf(stderr, "rate %d/s: baseline...\n", rate);
    Row row{rate, bench.Baseline(rate), {}, 0};
    if (!bench.Idle()) std::fprintf(stderr, "the baseline relay did not let go\n");
    std::fprintf(stderr, "rate %d/s: agent...\n", rate);
    const std::uint64_t viewerBefore = viewer.Lines();
    row.agent = bench.Agent(rate);
    row.viewerLines = viewer.Lines() - viewerBefore;
    if (!bench.Idle()) std::fprintf(stderr, "the agent did not let go\n");
    rows.push_back(row);
  }

  std::printf("Reports of 32 payload bytes, %d s per rate after a %d ms warm-up. Latency: harness write completed\n"
              "to arrival at the peer (µs). Write: duration of the harness's write call (µs). CPU: the relay's CPU\n"
              "time over the run and its drain (agent: whole process; baseline: the relay thread). Peak WS: the\n"
              "agent process's peak working set (KiB, since its start).\n",
              options.seconds, kWarmUpMs);
  std::printf("Conditions: %s; %s.\n\n",
              options.load > 0 ? ("load of " + std::to_string(options.load) + " busy lowest-priority thread(s)").c_str()
                               : "no load of the benchmark's own",
              options.viewer ? "a debug-output viewer attached" : "no debug-output viewer");
  std::printf("| rate/s | relay | sent | received | lost | dup/bad | min | p50 | p99 | max | write p50/p99 | CPU ms | CPU %% | peak WS KiB |\n");
  std::printf("|---|---|---|---|---|---|---|---|---|---|---|---|---|---|\n");
  for (const Row& row : rows) {
    PrintRow(row.rate, "baseline", row.baseline);
    PrintRow(row.rate, "agent", row.agent);
  }
  // Where the lost reports went, and what "dup/bad" is made of.
  std::printf("\n| rate/s | relay | lost | of which the console dropped from its queue | lost by the relay | duplicated | "
              "arrived though the write failed | damaged |\n|---|---|---|---|---|---|---|---|\n");
  for (const Row& row : rows) {
    for (const auto& [name, m] : {std::pair<const char*, const Measurement&>{"baseline", row.baseline},
                                  std::pair<const char*, const Measurement&>{"agent", row.agent}}) {
      if (!m.failure.empty()) continue;
      const RunResult& r = m.result;
      const std::string stack = m.stackDropped < 0 ? "n/a" : std::to_string(m.stackDropped);
      const std::string relayLost =
          m.stackDropped < 0 ? "n/a" : std::to_string(static_cast<long long>(r.lost) - m.stackDropped);
      std::printf("| %d | %s | %zu | %s | %s | %zu | %zu | %zu |\n", row.rate, name, r.lost, stack.c_str(),
                  relayLost.c_str(), r.duplicated, r.unexpected, m.damaged);
    }
  }

  std::printf("\nCPU over the run and its drain (ms) of the relay and of the processes its work lands in; the\n"
              "harness's own writes and reads are in wineserver's share for both relays.\n\n");
  std::printf("| rate/s | relay | relay ms |");
  for (const std::string& name : system.Names()) std::printf(" %s ms |", name.c_str());
  std::printf(" total ms | total µs/report |%s\n|---|---|---|", options.viewer ? " viewer ms (not in total) |" : "");
  for (std::size_t i = 0; i < system.Names().size(); ++i) std::printf("---|");
  std::printf("---|---|%s\n", options.viewer ? "---|" : "");
  for (const Row& row : rows) {
    PrintCpuRow(row.rate, "baseline", row.baseline, options.viewer);
    PrintCpuRow(row.rate, "agent", row.agent, options.viewer);
  }

  std::printf("\n| rate/s | p50 agent/baseline | p99 agent/baseline | p99 agent-baseline µs | max agent/baseline | CPU agent/baseline | CPU all processes agent/baseline |%s\n",
              options.viewer ? " viewer lines (agent run) |" : "");
  std::printf("|---|---|---|---|---|---|---|%s\n", options.viewer ? "---|" : "");
  Verdict verdict;
  const bool loaded = options.load > 0 || options.viewer;
  for (const Row& row : rows) {
    const RunResult& a = row.agent.result;
    const RunResult& b = row.baseline.result;
    const bool failed = !row.agent.failure.empty() || !row.baseline.failure.empty();
    const double agentAll = TotalCpuMs(row.agent), baselineAll = TotalCpuMs(row.baseline);
    const double cpuAll =
        !system.Names().empty() && agentAll > kNone && baselineAll > 0 ? agentAll / baselineAll : kNone;
    std::printf("| %d | %s | %s | %s | %s | %s | %s |", row.rate, Ratio(a.p50Us, b.p50Us).c_str(),
                Ratio(a.p99Us, b.p99Us).c_str(), failed ? "n/a" : Cell(a.p99Us - b.p99Us).c_str(),
                Ratio(a.maxUs, b.maxUs).c_str(), Ratio(row.agent.cpuMs, row.baseline.cpuMs).c_str(),
                Cell(cpuAll, "%.2f").c_str());
    if (options.viewer) std::printf(" %llu |", static_cast<unsigned long long>(row.viewerLines));
    std::printf("\n");
    const std::string at = " at " + std::to_string(row.rate) + "/s";
    if (row.rate == 1000 || row.rate == 4000) {
      verdict.Check("no report lost or duplicated" + at,
                    !failed && a.lost == 0 && a.duplicated == 0 && a.unexpected == 0 && row.agent.damaged == 0 &&
                        a.taken == a.sent);
    }
    if (row.rate == 1000) {
      if (loaded)
        verdict.Check("p99 at most 2x the baseline's" + at, !failed && a.p99Us <= 2 * b.p99Us);
      else
        verdict.Check("p99 within 1 ms of the baseline" + at, !failed && a.p99Us - b.p99Us <= 1000);
      if (cpuAll > kNone) verdict.Check("CPU over all processes at most 1.5x the baseline's" + at, cpuAll <= 1.5);
    }
  }
  std::printf("\nTargets:\n%s", verdict.text.c_str());
  console.Unplug(serial, false);
  return verdict.met ? 0 : 3;
}
