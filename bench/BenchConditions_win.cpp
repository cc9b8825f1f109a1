#include "bench/BenchConditions_win.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace bench {

// ---- TBusyLoad ----

TBusyLoad::~TBusyLoad() {
  if (!stop_) return;
  SetEvent(stop_);
  CloseHandle(stop_);
}

bool TBusyLoad::Start(int threads, std::string* error) {
  char self[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, self, sizeof self);
  if (length == 0 || length >= sizeof self) {
    *error = "GetModuleFileNameA failed";
    return false;
  }
  const std::string stopName = "QEXBenchLoadStop" + std::to_string(GetCurrentProcessId());
  stop_ = CreateEventA(nullptr, TRUE, FALSE, stopName.c_str());
  // Wine does not pass the lowest priority class on to the Linux scheduler,
  // so the load runs under nice 19 (a Linux program started from here runs
  // as such), which gives way to everything else as the idle class does.
  const char* wine = std::getenv("QEX_BENCH_WINE");
  std::string commandLine = std::string("/usr/bin/nice -n 19 ") + (wine ? wine : "/usr/lib/wine/wine64") + " \"" +
                            self + "\" --spin " + std::to_string(threads) + " " + stopName;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  if (!stop_ || !CreateProcessA("Z:\\usr\\bin\\nice", &commandLine[0], nullptr, nullptr, FALSE,
                                IDLE_PRIORITY_CLASS, nullptr, nullptr, &startup, &info)) {
    *error = "cannot start the load (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  // A Linux program gives no handles; the load ends when the event is set.
  if (info.hProcess) CloseHandle(info.hProcess);
  if (info.hThread) CloseHandle(info.hThread);
  return true;
}

namespace {

volatile LONG g_spinStop = 0;

DWORD WINAPI Spin(void*) {
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_IDLE);
  for (volatile unsigned long n = 0; !g_spinStop; n = n + 1) {
  }
  return 0;
}

}  // namespace

void SpinUntil(int threads, const char* stopName) {
  // The event's name ends in the benchmark's process id: a benchmark that
  // ends without setting it ends the load too.
  HANDLE wait[2] = {OpenEventA(SYNCHRONIZE, FALSE, stopName), nullptr};
  const char* digits = stopName + std::strcspn(stopName, "0123456789");
  wait[1] = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(std::strtoul(digits, nullptr, 10)));
  if (!wait[0] || !wait[1]) ExitProcess(1);
  for (int i = 0; i < threads; ++i) CreateThread(nullptr, 0, &Spin, nullptr, 0, nullptr);
  WaitForMultipleObjects(2, wait, FALSE, INFINITE);
  InterlockedExchange(&g_spinStop, 1);
  ExitProcess(0);
}

// ---- TDebugViewer ----

TDebugViewer::~TDebugViewer() {
  InterlockedExchange(&stop_, 1);
  if (thread_) {
    SetEvent(dataReady_);
    WaitForSingleObject(thread_, 5000);
    CloseHandle(thread_);
  }
  if (view_) UnmapViewOfFile(view_);
  if (mapping_) CloseHandle(mapping_);
  if (dataReady_) CloseHandle(dataReady_);
  if (bufferReady_) CloseHandle(bufferReady_);
}

bool TDebugViewer::Start(std::string* error) {
  bufferReady_ = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_BUFFER_READY");
  const bool another = GetLastError() == ERROR_ALREADY_EXISTS;
  dataReady_ = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_DATA_READY");
  mapping_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, "DBWIN_BUFFER");
  if (bufferReady_ && dataReady_ && mapping_)
    view_ = static_cast<const char*>(MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, 4096));
  if (view_) thread_ = CreateThread(nullptr, 0, &TDebugViewer::ThreadProc, this, 0, nullptr);
  if (!thread_) {
    *error = "cannot act as a debug-output viewer (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  if (another) std::fprintf(stderr, "note: another debug-output viewer is attached as well\n");
  return true;
}

double TDebugViewer::CpuMs() const {
  FILETIME created, exited, kernel, user;
  if (!thread_ || !GetThreadTimes(thread_, &created, &exited, &kernel, &user)) return 0;
  const auto value = [](const FILETIME& t) {
    return static_cast<double>((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
  };
  return (value(kernel) + value(user)) / 10000;
}

DWORD WINAPI TDebugViewer::ThreadProc(void* self) {
  static_cast<TDebugViewer*>(self)->Run();
  return 0;
}

void TDebugViewer::Run() {
  char line[4096];
  SetEvent(bufferReady_);
  while (!stop_) {
    if (WaitForSingleObject(dataReady_, 200) != WAIT_OBJECT_0 || stop_) continue;
    // A viewer copies the text out before it frees the buffer.
    std::memcpy(line, view_, sizeof line);
    InterlockedIncrement64(&lines_);
    SetEvent(bufferReady_);
  }
}

// ---- TSystemCpu ----

TSystemCpu::TSystemCpu() {
  const char* list = std::getenv("QEX_BENCH_CPU_PIDS");
  for (const char* p = list ? list : ""; *p;) {
    const char* end = std::strchr(p, ',');
    const std::string item(p, end ? end : p + std::strlen(p));
    const std::size_t equals = item.find('=');
    if (equals != std::string::npos && std::atoi(item.c_str() + equals + 1) > 0) {
      names_.push_back(item.substr(0, equals));
      pids_.push_back(std::atoi(item.c_str() + equals + 1));
    }
    p = end ? end + 1 : p + std::strlen(p);
  }
}

namespace {

// utime + stime of /proc/<pid>/stat in ms; fields 14 and 15, counted after
// the ")" that ends the command name (which may hold blanks). Linux reports
// them in units of USER_HZ, which is 100 on every Linux ABI.
double ProcCpuMs(int pid) {
  const std::string path = "Z:\\proc\\" + std::to_string(pid) + "\\stat";
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return -1;
  char text[1024] = {};
  const std::size_t read = std::fread(text, 1, sizeof text - 1, file);
  std::fclose(file);
  text[read] = '\0';
  const char* p = std::strrchr(text, ')');
  if (!p) return -1;
  // After ")": state is field 3; utime is field 14, stime 15.
  unsigned long long values[13] = {};
  char state = 0;
  if (std::sscanf(p + 1, " %c %llu %llu %llu %llu %llu %llu %llu %llu %llu %llu %llu %llu", &state, &values[0],
                  &values[1], &values[2], &values[3], &values[4], &values[5], &values[6], &values[7], &values[8],
                  &values[9], &values[10], &values[11]) != 13)
    return -1;
  return static_cast<double>(values[10] + values[11]) * 10.0;
}

}  // namespace

std::vector<double> TSystemCpu::SampleMs() const {
  std::vector<double> sample;
  for (int pid : pids_) sample.push_back(ProcCpuMs(pid));
  return sample;
}

}  // namespace bench
