// Soak benchmark: the unmodified agent on the driver-level console for a
// long run at a fixed report rate, with the field's everyday events on a
// schedule, every report tracked by its sequence number and the agent's
// resources sampled.
//
//   soak AGENT_EXE [--minutes 30] [--rate 1000] [--replug-s 30] [--stall-every-s 120] [--stall-s 5]
//        [--send-ms 100] [--confirm-every-s 300] [--viewer-every-s 300] [--viewer-s 60]
//        [--sample-s 10] [--settle-min 5]
//
// Events: the console is unplugged and replugged; the live host stops
// reading for a while; the live host sends a send message (checked at the
// console); the address prompt is confirmed (a reconnect); a debug-output
// viewer is attached. Every report written is relayed exactly once or
// accounted for: not taken by the console (unplugged), missed while the
// console was being taken into use again or while the link was down, or
// dropped whole by the agent's send queue while the live host did not read
// (those windows are read with a viewer attached, and the agent's traced
// drop counts must match). Run by bench/soak.sh.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>


#include "bench/LoopbackPeer_win.h"
#include "bench/Pacer_win.h"
#include "bench/RelayStats.h"
#include "tests/support/WineTestSupport_win.h"
#include "tools/simhid/SimHid.h"

using namespace bench;
namespace ts = testing_support;

namespace {

struct Options {
  std::string agent;
  int minutes = 30;
  int rate = 1000;
  int replugS = 30;
  int stallEveryS = 120;
  int stallS = 5;
  int sendMs = 100;
  int confirmEveryS = 300;
  int viewerEveryS = 300;
  int viewerS = 60;
  int sampleS = 10;
  int settleMin = 5;
};



// One disturbance: from its start to its end (performance-counter ticks);
// for an unplug or a reconnect the end is found afterwards (the first
// report written after it that arrived).
struct Window {
  enum Kind { Unplugged, Reconnect, Stall } kind;
  std::int64_t begin = 0, end = 0;
  std::uint32_t firstSeqAfter = 0;  // first report written once the event was over
  std::size_t missing = 0;          // reports taken by the console that never arrived
  long tracedReports = -1;          // the agent's own drop count (stalls)
};

struct Sample {
  double minute;
  double handles, threads, workingSetKiB, privateKiB, userObjects, gdiObjects;
};

const char* const kMetricNames[] = {"handles (Linux: open descriptors)", "threads", "working set KiB",
                                    "private KiB (Linux: RssAnon)", "USER objects", "GDI objects"};

double Metric(const Sample& s, int i) {
  const double values[] = {s.handles, s.threads, s.workingSetKiB, s.privateKiB, s.userObjects, s.gdiObjects};
  return values[i];
}

int CountThreads(DWORD pid) {
  ScopedKernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  if (!snapshot.IsValid() || snapshot.Get() == INVALID_HANDLE_VALUE) return -1;
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  int count = 0;
  for (BOOL more = Thread32First(snapshot.Get(), &entry); more; more = Thread32Next(snapshot.Get(), &entry))
    if (entry.th32OwnerProcessID == pid) ++count;
  return count;
}

// The agent's Linux process as Wine runs it, found by its command line
// through the Z: drive; 0 when not found. Wine gives no handle count, no
// private bytes and no USER/GDI counts of another process: the Linux side
// counts open descriptors (Wine's server holds the handles, but every file,
// socket, event and thread the agent keeps open shows there) and anonymous
// resident memory.
int FindLinuxPid(const std::string& exeName) {
  WIN32_FIND_DATAA entry;
  ScopedFindHandle find(FindFirstFileA("Z:\\proc\\*", &entry));
  if (!find.IsValid()) return 0;
  do {
    const int pid = std::atoi(entry.cFileName);
    if (pid <= 0) continue;
    std::string cmdline = ts::ReadWholeFile("Z:\\proc\\" + std::to_string(pid) + "\\cmdline");
    for (char& c : cmdline)
      if (c == 0) c = ' ';
    // Wine shows a program's own path as its first argument.
    const std::string first = cmdline.substr(0, cmdline.find(' '));
    if (first.size() >= exeName.size() && first.compare(first.size() - exeName.size(), exeName.size(), exeName) == 0)
      return pid;
  } while (FindNextFileA(find.Get(), &entry));
  return 0;
}

double StatusKiB(const std::string& status, const char* name) {
  const std::size_t at = status.find(std::string("\n") + name + ":");
  if (at == std::string::npos) return -1;
  return std::atof(status.c_str() + at + std::strlen(name) + 2);
}

int CountFds(int linuxPid) {
  WIN32_FIND_DATAA entry;
  ScopedFindHandle find(FindFirstFileA(("Z:\\proc\\" + std::to_string(linuxPid) + "\\fd\\*").c_str(), &entry));
  if (!find.IsValid()) return -1;
  int count = 0;
  do {
    if (entry.cFileName[0] != '.') ++count;
  } while (FindNextFileA(find.Get(), &entry));
  return count;
}

Sample TakeSample(HANDLE process, DWORD pid, int linuxPid, double minute) {
  Sample s{minute, -1, -1, -1, -1, -1, -1};
  DWORD handles = 0;
  if (GetProcessHandleCount(process, &handles) && handles > 0) s.handles = handles;
  s.threads = CountThreads(pid);
  PROCESS_MEMORY_COUNTERS_EX memory = {};
  memory.cb = sizeof memory;
  if (GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory)) {
    s.workingSetKiB = static_cast<double>(memory.WorkingSetSize) / 1024;
    if (memory.PrivateUsage > 0) s.privateKiB = static_cast<double>(memory.PrivateUsage) / 1024;
  }
  // 0 is what a platform that does not count gives; the agent always has a window.
  const DWORD user = GetGuiResources(process, GR_USEROBJECTS);
  const DWORD gdi = GetGuiResources(process, GR_GDIOBJECTS);
  if (user > 0) s.userObjects = user;
  if (gdi > 0) s.gdiObjects = gdi;
  if (linuxPid > 0) {
    const std::string status = ts::ReadWholeFile("Z:\\proc\\" + std::to_string(linuxPid) + "\\status");
    if (s.handles < 0) s.handles = CountFds(linuxPid);
    if (s.privateKiB < 0) s.privateKiB = StatusKiB(status, "RssAnon");
  }
  return s;
}

// Least-squares slope per 10 minutes over the samples from `fromMinute` on;
// false when the metric was not available or too few samples remain.
bool SlopePer10Min(const std::vector<Sample>& samples, int metric, double fromMinute, double* slope) {
  double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
  for (const Sample& s : samples) {
    const double y = Metric(s, metric);
    if (s.minute < fromMinute) continue;
    if (y < 0) return false;
    n += 1, sx += s.minute, sy += y, sxx += s.minute * s.minute, sxy += s.minute * y;
  }
  const double d = n * sxx - sx * sx;
  if (n < 3 || d <= 0) return false;
  *slope = 10 * (n * sxy - sx * sy) / d;
  return true;
}

bool ParseOptions(int argc, char** argv, Options& o) {
  const std::map<std::string, int*> numbers = {
      {"--minutes", &o.minutes},         {"--rate", &o.rate},           {"--replug-s", &o.replugS},
      {"--stall-every-s", &o.stallEveryS}, {"--stall-s", &o.stallS},     {"--send-ms", &o.sendMs},
      {"--confirm-every-s", &o.confirmEveryS}, {"--viewer-every-s", &o.viewerEveryS},
      {"--viewer-s", &o.viewerS},        {"--sample-s", &o.sampleS},    {"--settle-min", &o.settleMin}};
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto it = numbers.find(arg);
    if (it != numbers.end() && i + 1 < argc) {
      *it->second = std::atoi(argv[++i]);
      if (*it->second < 1) return false;
    } else if (o.agent.empty() && arg.compare(0, 2, "--") != 0) {
      o.agent = ts::ToWindowsPath(arg);
    } else {
      return false;
    }
  }
  return !o.agent.empty() && o.rate <= 10000;
}

// The send messages' codes: "SK", a 4-byte number, then a pattern from it:
// 32 bytes, the console's output report after its ID.
std::vector<std::uint8_t> SendCode(std::uint32_t n) {
  std::vector<std::uint8_t> code = {'S', 'K'};
  for (int i = 0; i < 4; ++i) code.push_back(static_cast<std::uint8_t>(n >> (8 * i)));
  while (code.size() < 32) code.push_back(static_cast<std::uint8_t>(n * 31 + code.size()));
  return code;
}

bool ParseSendCode(const simhid::Report& report, std::uint32_t* n) {
  if (report.size() < 33 || report[0] != 0 || report[1] != 'S' || report[2] != 'K') return false;
  std::uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value |= static_cast<std::uint32_t>(report[3 + i]) << (8 * i);
  if (std::vector<std::uint8_t>(report.begin() + 1, report.begin() + 33) != SendCode(value)) return false;
  *n = value;
  return true;
}

// The agent's traced drop counts: "dropped N messages (M reports): ...".
long TracedDroppedReports(const std::vector<std::string>& lines) {
  long total = 0;
  for (const std::string& line : lines) {
    const std::string body = ts::DebugOutputReader::Body(line);
    int messages = 0, reports = 0;
    if (std::sscanf(body.c_str(), "dropped %d messages (%d reports)", &messages, &reports) == 2) total += reports;
  }
  return total;
}

class TSoak {
 public:
  TSoak(const Options& o, simhid::TSimHid& console, DWORD serial, TLoopbackPeer& peer, ts::ChildProcess& agent,
        HWND main)
      : o_(o), console_(console), serial_(serial), peer_(peer), agent_(agent), frequency_(Frequency()), main_(main),
        configButton_(ts::AgentControl(main, "btnConfig")) {}

  void Run();
  int Report();

 private:
  std::int64_t Ticks(double seconds) const { return static_cast<std::int64_t>(seconds * frequency_); }
  double Minutes(std::int64_t ticks) const { return static_cast<double>(ticks - start_) / frequency_ / 60; }
  void Events(std::uint32_t seq);
  void ConfirmStep(std::uint32_t seq);
  void AttachReader(bool attach);

  const Options& o_;
  simhid::TSimHid& console_;
  DWORD serial_;
  TLoopbackPeer& peer_;
  ts::ChildProcess& agent_;
  std::int64_t frequency_;
  HWND main_, configButton_;
  std::int64_t start_ = 0;
  const std::uint8_t tag_ = 0x5A;

  std::vector<std::int64_t> written_;  // per seq: when the console took it, -1 not taken, -2 not written
  // Reports the simulated console dropped from its own queue (the agent never
  // saw them): collected before each unplug and at the end, since a plug
  // starts the device's list afresh.
  std::vector<bool> stackDropped_;
  void CollectStackDrops();
  std::vector<Window> windows_;
  std::vector<Sample> samples_;
  bool plugged_ = true;
  std::int64_t nextReplug_ = 0, replugAt_ = 0;
  std::int64_t nextStall_ = 0, stallEnd_ = 0;
  std::size_t stallWindow_ = 0;
  std::int64_t nextSend_ = 0;
  std::int64_t nextConfirm_ = 0;
  int confirmStep_ = 0;
  std::int64_t confirmDeadline_ = 0;
  std::int64_t nextViewer_ = 0, viewerEnd_ = 0, readerUntil_ = 0;
  std::int64_t nextSample_ = 0;
  int linuxPid_ = 0;
  int acceptedAtConfirm_ = 0;
  std::int64_t stallTraceUntil_ = 0, nextTracePoll_ = 0;
  std::unique_ptr<ts::DebugOutputReader> reader_;
  std::uint32_t sendCount_ = 0;
  std::vector<bool> sendWhileReady_;  // per send message: console plugged and link up when sent
  std::size_t readerWindows_ = 0, confirms_ = 0, failedConfirms_ = 0;
};

void TSoak::AttachReader(bool attach) {
  if (attach && !reader_) {
    reader_.reset(new ts::DebugOutputReader());
    reader_->FilterProcess(agent_.Pid());
    ++readerWindows_;
  } else if (!attach && reader_) {
    reader_.reset();
  }
}

// The address prompt, confirmed unchanged, one step per call so that the
// reports keep flowing meanwhile.
void TSoak::ConfirmStep(std::uint32_t seq) {
  const std::int64_t now = Now();
  if (confirmStep_ == 1) {
    PostMessageW(main_, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(configButton_), BN_CLICKED),
                 reinterpret_cast<LPARAM>(configButton_));
    confirmStep_ = 2;
    confirmDeadline_ = now + Ticks(10);
  } else if (confirmStep_ == 2) {
    const HWND dialog = ts::FindDialog(agent_.Pid(), L"\u8BBE\u7F6E");  // 设置
    if (dialog) {
      const HWND edit = ts::ChildOf(dialog, L"Edit");
      if (edit) SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"127.0.0.1"));
      Window w{Window::Reconnect};
      w.begin = now;
      acceptedAtConfirm_ = peer_.Accepted();
      PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                   reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
      w.firstSeqAfter = seq + 1;
      windows_.push_back(w);
      ++confirms_;
      confirmStep_ = 0;
    } else if (now > confirmDeadline_) {
      ++failedConfirms_;
      confirmStep_ = 0;
    }
  }
}

void TSoak::Events(std::uint32_t seq) {
  const std::int64_t now = Now();
  if (now >= nextReplug_ && plugged_) {
    Window w{Window::Unplugged};
    w.begin = now;
    CollectStackDrops();
    console_.Unplug(serial_);
    plugged_ = false;
    replugAt_ = Now() + Ticks(2);
    windows_.push_back(w);
  } else if (!plugged_ && now >= replugAt_) {
    console_.Replug(serial_);
    plugged_ = true;
    windows_.back().firstSeqAfter = seq + 1;
    nextReplug_ += Ticks(o_.replugS);
  }
  if (now >= nextStall_ && stallEnd_ == 0 && stallTraceUntil_ == 0) {
    peer_.Read(false);
    AttachReader(true);
    reader_->Clear();
    Window w{Window::Stall};
    w.begin = now;
    windows_.push_back(w);
    stallWindow_ = windows_.size();
    stallEnd_ = now + Ticks(o_.stallS);
  } else if (stallEnd_ != 0 && now >= stallEnd_) {
    peer_.Read(true);
    stallEnd_ = 0;
    // The agent traces what its queue dropped once the queue has drained:
    // the window lasts until that line, or a while when nothing was dropped.
    stallTraceUntil_ = now + Ticks(20);
    nextStall_ += Ticks(o_.stallEveryS);
  } else if (stallTraceUntil_ != 0 && now >= nextTracePoll_) {
    nextTracePoll_ = now + Ticks(0.1);
    Window& w = windows_[stallWindow_ - 1];
    const long traced = TracedDroppedReports(reader_->Lines());
    if (traced > 0 || now >= stallTraceUntil_) {
      w.tracedReports = traced;
      // What the agent said about its queue and its trace in this window.
      for (const std::string& line : reader_->Lines()) {
        const std::string body = ts::DebugOutputReader::Body(line);
        if (body.compare(0, 5, "send:") == 0 || body.compare(0, 8, "dropped ") == 0 || body.compare(0, 6, "trace:") == 0)
          std::fprintf(stderr, "stall at minute %.2f: %s\n", Minutes(w.begin), body.c_str());
      }
      w.end = traced > 0 ? now : w.begin + Ticks(o_.stallS + 3);
      stallTraceUntil_ = 0;
      stallWindow_ = 0;
    }
  }
  if (now >= nextSend_) {
    const std::vector<std::uint8_t> code = SendCode(sendCount_);
    // A reconnect is over once the agent's new connection is accepted: what
    // went to the old one before is lost with it.
    sendWhileReady_.push_back(plugged_ && peer_.Connected() && confirmStep_ == 0 &&
                              peer_.Accepted() > acceptedAtConfirm_);
    peer_.Send("usb-hid=send\r\ncode=" + ToHex(code.data(), code.size()) + "\r\n");
    ++sendCount_;
    nextSend_ += Ticks(o_.sendMs / 1000.0);
  }
  if (now >= nextConfirm_ && confirmStep_ == 0) {
    confirmStep_ = 1;
    nextConfirm_ += Ticks(o_.confirmEveryS);
  }
  if (confirmStep_ != 0) ConfirmStep(seq);
  if (now >= nextViewer_) {
    AttachReader(true);
    viewerEnd_ = now + Ticks(o_.viewerS);
    readerUntil_ = std::max(readerUntil_, viewerEnd_);
    nextViewer_ += Ticks(o_.viewerEveryS);
  }
  if (reader_ && now >= readerUntil_ && stallEnd_ == 0 && stallTraceUntil_ == 0) AttachReader(false);
  // Put off while the console is out or being taken into use again: the read
  // thread and the device's handles come and go with it, and samples taken
  // in both states would draw a square wave instead of a trend.
  if (now >= nextSample_ && plugged_ && now >= replugAt_ + Ticks(3)) {
    if (linuxPid_ == 0) linuxPid_ = FindLinuxPid(o_.agent.substr(o_.agent.find_last_of("\\/") + 1));
    samples_.push_back(TakeSample(agent_.Handle(), agent_.Pid(), linuxPid_, Minutes(now)));
    const Sample& last = samples_.back();
    std::fprintf(stderr, "soak: minute %.2f: descriptors %.0f, threads %.0f, working set %.0f KiB, anonymous %.0f KiB\n",
                 last.minute, last.handles, last.threads, last.workingSetKiB, last.privateKiB);
    while (nextSample_ <= now) nextSample_ += Ticks(o_.sampleS);
  }
}

void TSoak::Run() {
  const TPacer pacer;
  const std::size_t count = static_cast<std::size_t>(o_.rate) * o_.minutes * 60;
  written_.assign(count, -2);
  stackDropped_.assign(count, false);
  start_ = Now() + frequency_ / 10;
  nextReplug_ = start_ + Ticks(o_.replugS);
  nextStall_ = start_ + Ticks(o_.stallEveryS);
  nextSend_ = start_;
  nextConfirm_ = start_ + Ticks(o_.confirmEveryS);
  nextViewer_ = start_ + Ticks(o_.viewerEveryS);
  nextSample_ = start_;
  for (std::uint32_t seq = 0; seq < count; ++seq) {
    const std::int64_t due = start_ + static_cast<std::int64_t>(seq) * frequency_ / o_.rate;
    pacer.SleepUntil(due);
    // A report whose time passed while an unplug or replug call held this
    // thread is not written at all: a late burst would measure the harness.
    if (Now() - due > frequency_ / 10) {
      Events(seq);
      continue;
    }
    simhid::Report report{0x00};
    const std::vector<std::uint8_t> payload = MakePayload(tag_, seq);
    report.insert(report.end(), payload.begin(), payload.end());
    written_[seq] = console_.SendInput(serial_, report) ? Now() : -1;
    if ((seq & 7) == 0) Events(seq);
  }
  if (reader_) AttachReader(false);
  peer_.Read(true);
  Sleep(3000);  // the last reports and send messages arrive
  if (plugged_) CollectStackDrops();
}

void TSoak::CollectStackDrops() {
  simhid::TSimHid::InputCounts counts;
  console_.WaitForInputsSettled(serial_, &counts, 5000);
  for (const simhid::Report& r : console_.DroppedInputs(serial_)) {
    std::uint8_t tag = 0;
    std::uint32_t seq = 0;
    if (r.size() < 2) continue;
    const std::string hex = ToHex(r.data() + 1, r.size() - 1);
    if (ParsePayload(hex, tag, seq) == PayloadKind::Ours && tag == tag_ && seq < stackDropped_.size())
      stackDropped_[seq] = true;
  }
}

int TSoak::Report() {
  // Arrivals by sequence number.
  std::vector<int> arrived(written_.size(), 0);
  std::size_t unexpected = 0;
  for (const Arrival& a : peer_.Arrivals(tag_)) {
    if (a.seq < arrived.size())
      ++arrived[a.seq];
    else
      ++unexpected;
  }
  // The end of an unplug or a reconnect: the first report written after the
  // event that arrived; what the console took before it is accounted to it.
  for (Window& w : windows_) {
    if (w.kind == Window::Stall) continue;
    std::uint32_t seq = w.firstSeqAfter;
    while (seq < written_.size() && !(written_[seq] >= 0 && arrived[seq] > 0)) ++seq;
    w.end = seq < written_.size() ? written_[seq] : Now();
  }
  std::size_t written = 0, taken = 0, relayed = 0, duplicates = 0, unaccounted = 0, accounted = 0, byStack = 0;
  std::vector<std::uint32_t> firstUnaccounted;
  for (std::size_t seq = 0; seq < written_.size(); ++seq) {
    if (written_[seq] == -2) continue;
    ++written;
    if (written_[seq] == -1) continue;  // the console was unplugged
    ++taken;
    if (arrived[seq] > 0) ++relayed;
    if (arrived[seq] > 1) duplicates += static_cast<std::size_t>(arrived[seq] - 1);
    if (arrived[seq] > 0) continue;
    if (stackDropped_[seq]) {
      ++byStack;
      continue;
    }
    Window* in = nullptr;
    for (Window& w : windows_)
      if (written_[seq] >= w.begin && written_[seq] <= w.end) in = &w;
    if (in) {
      ++in->missing;
      ++accounted;
    } else {
      ++unaccounted;
      if (firstUnaccounted.size() < 10) firstUnaccounted.push_back(static_cast<std::uint32_t>(seq));
    }
  }
  // Send messages at the console: each written at most once; those sent
  // while the console and the link were up, exactly once.
  std::vector<int> writes(sendCount_, 0);
  std::size_t foreign = 0;
  for (const simhid::Report& r : console_.OutputReports(serial_)) {
    std::uint32_t n = 0;
    if (ParseSendCode(r, &n) && n < writes.size())
      ++writes[n];
    else
      ++foreign;
  }
  std::size_t sendsOnce = 0, sendsTwice = 0, sendsMissedReady = 0;
  for (std::size_t n = 0; n < writes.size(); ++n) {
    if (writes[n] == 1) ++sendsOnce;
    if (writes[n] > 1) ++sendsTwice;
    if (writes[n] == 0 && sendWhileReady_[n]) {
      ++sendsMissedReady;
      std::fprintf(stderr, "send message %zu (minute %.2f) sent while ready, not written\n", n,
                   static_cast<double>(n) * o_.sendMs / 60000.0);
    }
  }
  std::size_t stalls = 0, stallMissing = 0, unplugs = 0, unplugMissing = 0, reconnects = 0, reconnectMissing = 0;
  long stallTraced = 0;
  bool tracesMatch = true;
  std::printf("\nStall windows (live host not reading): reports missing vs the agent's traced drops\n\n");
  std::printf("| minute | missing | traced |\n|---|---|---|\n");
  for (const Window& w : windows_) {
    switch (w.kind) {
      case Window::Stall:
        ++stalls, stallMissing += w.missing;
        stallTraced += w.tracedReports < 0 ? 0 : w.tracedReports;
        if (static_cast<long>(w.missing) != (w.tracedReports < 0 ? 0 : w.tracedReports)) tracesMatch = false;
        std::printf("| %.1f | %zu | %ld |\n", Minutes(w.begin), w.missing, w.tracedReports);
        break;
      case Window::Unplugged:
        ++unplugs, unplugMissing += w.missing;
        break;
      case Window::Reconnect:
        ++reconnects, reconnectMissing += w.missing;
        break;
    }
  }
  std::printf("\n| what | count |\n|---|---|\n");
  std::printf("| reports written | %zu |\n| taken by the console | %zu |\n| relayed | %zu |\n", written, taken, relayed);
  std::printf("| duplicates | %zu |\n| unexpected numbers | %zu |\n| damaged | %zu |\n", duplicates, unexpected,
              peer_.Damaged());
  std::printf("| missing in %zu unplug windows | %zu |\n| missing in %zu reconnect windows (%zu confirmed, %zu prompts not "
              "found) | %zu |\n",
              unplugs, unplugMissing, reconnects, confirms_, failedConfirms_, reconnectMissing);
  std::printf("| missing in %zu stall windows / traced by the agent | %zu / %ld |\n", stalls, stallMissing, stallTraced);
  std::printf("| dropped by the simulated console's own queue (never reached the agent) | %zu |\n", byStack);
  std::printf("| unaccounted | %zu |\n", unaccounted);
  std::printf("| send messages sent / written once / written twice or more / missed while ready | %u / %zu / %zu / %zu |\n",
              sendCount_, sendsOnce, sendsTwice, sendsMissedReady);
  std::printf("| other output reports | %zu |\n| viewer windows | %zu |\n", foreign, readerWindows_);
  if (unaccounted > 0) {
    std::map<int, std::size_t> byTenSeconds;
    for (std::size_t seq = 0; seq < written_.size(); ++seq) {
      if (written_[seq] < 0 || arrived[seq] > 0) continue;
      bool inWindow = false;
      for (const Window& w : windows_) inWindow = inWindow || (written_[seq] >= w.begin && written_[seq] <= w.end);
      if (!inWindow) ++byTenSeconds[static_cast<int>(Minutes(written_[seq]) * 6)];
    }
    std::printf("\nunaccounted by 10 s from the start:");
    for (const auto& bucket : byTenSeconds) std::printf(" %ds: %zu,", bucket.first * 10, bucket.second);
    std::printf("\n");
  }
  if (!firstUnaccounted.empty()) {
    std::printf("\nfirst unaccounted sequence numbers (minute):");
    for (std::uint32_t seq : firstUnaccounted) std::printf(" %u (%.2f)", seq, Minutes(written_[seq]));
    std::printf("\n");
  }

  std::printf("\nResources, sampled every %d s; slope per 10 minutes after minute %d\n\n", o_.sampleS, o_.settleMin);
  std::printf("| metric | first | at minute %d | last | slope/10 min |\n|---|---|---|---|---|\n", o_.settleMin);
  double slopes[6] = {};
  bool have[6] = {};
  for (int m = 0; m < 6; ++m) {
    have[m] = SlopePer10Min(samples_, m, o_.settleMin, &slopes[m]);
    double atSettle = -1;
    for (const Sample& s : samples_)
      if (s.minute >= o_.settleMin) {
        atSettle = Metric(s, m);
        break;
      }
    const double first = samples_.empty() ? -1 : Metric(samples_.front(), m);
    const double last = samples_.empty() ? -1 : Metric(samples_.back(), m);
    auto cell = [](double v) { return v < 0 ? std::string("n/a") : std::to_string(static_cast<long long>(v)); };
    char slope[32] = "n/a";
    if (have[m]) std::snprintf(slope, sizeof slope, "%.2f", slopes[m]);
    std::printf("| %s | %s | %s | %s | %s |\n", kMetricNames[m], cell(first).c_str(), cell(atSettle).c_str(),
                cell(last).c_str(), slope);
  }

  std::printf("\nTargets:\n");
  bool met = true;
  auto check = [&](const char* what, bool ok) {
    std::printf("- %s: %s\n", what, ok ? "met" : "MISSED");
    met = met && ok;
  };
  check("0 reports unaccounted for", unaccounted == 0);
  check("0 duplicates, 0 damaged", duplicates == 0 && unexpected == 0 && peer_.Damaged() == 0);
  check("stall drops match the agent's traces", tracesMatch);
  check("every send message written at most once, each sent while ready written",
        sendsTwice == 0 && sendsMissedReady == 0);
  check("handles and threads flat (slope under 1 per 10 minutes)",
        (!have[0] || slopes[0] < 1) && (!have[1] || slopes[1] < 1));
  check("working set and private bytes slope under 100 KiB per 10 minutes",
        (!have[2] || slopes[2] < 100) && (!have[3] || slopes[3] < 100));
  return met ? 0 : 3;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: soak AGENT_EXE [--minutes 30] [--rate 1000] [--replug-s 30] [--stall-every-s 120] "
                 "[--stall-s 5] [--send-ms 100] [--confirm-every-s 300] [--viewer-every-s 300] [--viewer-s 60] "
                 "[--sample-s 10] [--settle-min 5]\n");
    return 2;
  }
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  ts::RegDeleteTree("Software\\QEX\\JoystickAgent");  // the default address

  simhid::TSimHid console;
  TLoopbackPeer peer;
  std::string installError;
  const char* driver = std::getenv("QEX_SIMHID_SYS");
  if (!driver || !console.Install(driver, &installError) || !peer.Ok()) {
    std::fprintf(stderr, "cannot set up the simulated console (%s) or the listener on 127.0.0.1:18884\n",
                 driver ? installError.c_str() : "QEX_SIMHID_SYS not set");
    return 1;
  }
  const DWORD serial = console.Plug(simhid::DeviceProfile());
  if (!serial) {
    std::fprintf(stderr, "cannot plug the simulated console: %s\n", console.LastError().c_str());
    return 1;
  }
  ts::ChildProcess agent;
  if (!agent.Start(options.agent)) {
    std::fprintf(stderr, "cannot start %s\n", options.agent.c_str());
    return 1;
  }
  const HWND main = ts::WaitForMainWindow(agent.Pid(), 30000);
  if (!main || !ts::WaitUntil([&] { return peer.Connected(); }, 30000)) {
    std::fprintf(stderr, "the agent did not come up or did not connect\n");
    return 1;
  }
  Sleep(2000);  // the agent takes the console into use from its first enumeration
  std::printf("Soak: %d minutes at %d reports/s; unplug and replug every %d s; the live host stops reading for %d s "
              "every %d s; a send message every %d ms; the address prompt confirmed every %d s; a debug-output viewer "
              "for %d s every %d s.\n",
              options.minutes, options.rate, options.replugS, options.stallS, options.stallEveryS, options.sendMs,
              options.confirmEveryS, options.viewerS, options.viewerEveryS);
  TSoak soak(options, console, serial, peer, agent, main);
  soak.Run();
  const int status = soak.Report();
  if (agent.Running() && agent.Close(10000) == -1) agent.Kill();
  return status;
}
