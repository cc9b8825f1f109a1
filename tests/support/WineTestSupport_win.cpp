#include "WineTestSupport_win.h"

#include <cstdlib>
#include <cstring>
#include <sstream>

#include "toolkit/WindowDescription.h"

namespace testing_support {

SOCKET ListenOnLoopback(std::uint16_t port, int receiveBuffer, bool reuseAddress) {
  ScopedSocket listener(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (!listener) return INVALID_SOCKET;
  if (reuseAddress) {
    BOOL reuse = TRUE;
    setsockopt(listener.Get(), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof reuse);
  }
  // Set before listening, so that the accepted connections inherit it.
  if (receiveBuffer > 0)
    setsockopt(listener.Get(), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&receiveBuffer),
               sizeof receiveBuffer);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(listener.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener.Get(), 4) != 0)
    return INVALID_SOCKET;
  return listener.Release();
}

double TimeScale() {
  static const double scale = [] {
    const char* text = std::getenv("QEX_TIME_SCALE");
    const double value = text ? std::atof(text) : 1.0;
    // Never narrower than written.
    return value > 1.0 ? value : 1.0;
  }();
  return scale;
}

int Scaled(int ms) { return static_cast<int>(ms * TimeScale() + 0.5); }

void Pause(int ms) { Sleep(static_cast<DWORD>(Scaled(ms))); }

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs, int pollMs) {
  const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(Scaled(timeoutMs));
  for (;;) {
    // This thread's own windows and sockets (if any) first: the condition
    // may wait on what they handle.
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (condition()) return true;
    if (GetTickCount64() >= end) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(pollMs), QS_ALLINPUT);
  }
}

std::string ToWindowsPath(const std::string& path) {
  if (path.empty() || path[0] != '/') return path;
  std::string windows = "Z:" + path;
  for (char& c : windows)
    if (c == '/') c = '\\';
  return windows;
}

std::string PathFromEnv(const char* name) {
  const char* value = std::getenv(name);
  return value ? ToWindowsPath(value) : std::string();
}

std::string AgentPath() { return PathFromEnv("QEX_AGENT_EXE"); }

std::string ReadWholeFile(const std::string& path) {
  std::string bytes;
  const ScopedFile file(CreateFileW(FromUtf8(path).c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                                   nullptr));
  if (!file) return bytes;
  char buffer[65536];
  DWORD got = 0;
  while (::ReadFile(file.Get(), buffer, sizeof buffer, &got, nullptr) && got) bytes.append(buffer, got);
  return bytes;
}

bool WriteWholeFile(const std::string& path, const std::string& bytes) {
  const ScopedFile file(CreateFileW(FromUtf8(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  DWORD written = 0;
  return file && ::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

bool FileExists(const std::string& path) {
  return GetFileAttributesW(FromUtf8(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

TempDir::TempDir() {
  char base[MAX_PATH];
  GetTempPathA(sizeof base, base);
  char name[MAX_PATH];
  GetTempFileNameA(base, "qex", 0, name);
  DeleteFileA(name);
  CreateDirectoryA(name, nullptr);
  path_ = name;
}

TempDir::~TempDir() {
  std::string from = path_;
  from.push_back('\0');
  from.push_back('\0');
  SHFILEOPSTRUCTA op = {};
  op.wFunc = FO_DELETE;
  op.pFrom = from.c_str();
  op.fFlags = FOF_NO_UI;
  SHFileOperationA(&op);
}

// ---- DebugOutputReader ----

DebugOutputReader::DebugOutputReader() {
  bufferReady_.Reset(CreateEventA(nullptr, FALSE, FALSE, "DBWIN_BUFFER_READY"));
  dataReady_.Reset(CreateEventA(nullptr, FALSE, FALSE, "DBWIN_DATA_READY"));
  mapping_.Reset(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, "DBWIN_BUFFER"));
  if (bufferReady_ && dataReady_ && mapping_)
    view_ = static_cast<const char*>(MapViewOfFile(mapping_.Get(), FILE_MAP_READ, 0, 0, 4096));
  if (view_) thread_.Reset(CreateThread(nullptr, 0, &DebugOutputReader::ThreadProc, this, 0, nullptr));
  ok_ = thread_.IsValid();
}

DebugOutputReader::~DebugOutputReader() {
  stop_ = true;
  if (thread_) {
    SetEvent(dataReady_.Get());
    WaitForSingleObject(thread_.Get(), 2000);
  }
  if (view_) UnmapViewOfFile(view_);
}

DWORD WINAPI DebugOutputReader::ThreadProc(void* self) {
  static_cast<DebugOutputReader*>(self)->Run();
  return 0;
}

void DebugOutputReader::Run() {
  SetEvent(bufferReady_.Get());
  while (!stop_) {
    if (WaitForSingleObject(dataReady_.Get(), 200) != WAIT_OBJECT_0) continue;
    if (stop_) break;
    DWORD pid;
    std::memcpy(&pid, view_, sizeof pid);
    const char* text = view_ + sizeof(DWORD);
    std::string line(text, strnlen(text, 4096 - sizeof(DWORD)));
    if (pid_ == 0 || pid == pid_) {
      std::lock_guard<CriticalSection> guard(lock_);
      lines_.push_back(line);
      times_.push_back(GetTickCount64());
    }
    if (delayMs_) Sleep(delayMs_);
    while (held_ && !stop_) Sleep(5);
    SetEvent(bufferReady_.Get());
  }
}

std::vector<std::string> DebugOutputReader::Lines() const {
  std::lock_guard<CriticalSection> guard(lock_);
  return lines_;
}

std::vector<std::uint64_t> DebugOutputReader::Times() const {
  std::lock_guard<CriticalSection> guard(lock_);
  return times_;
}

void DebugOutputReader::Clear() {
  std::lock_guard<CriticalSection> guard(lock_);
  lines_.clear();
  times_.clear();
}

std::string DebugOutputReader::Body(const std::string& line) {
  // "hh:nn:ss " with a one-character separator.
  if (line.size() >= 9 && line[8] == ' ') return line.substr(9);
  return line;
}

int DebugOutputReader::WaitForLine(const std::string& text, int timeoutMs, std::size_t from) const {
  int found = -1;
  WaitUntil(
      [&] {
        const std::vector<std::string> lines = Lines();
        for (std::size_t i = from; i < lines.size(); ++i)
          if (Body(lines[i]).find(text) != std::string::npos) {
            found = static_cast<int>(i);
            return true;
          }
        return false;
      },
      timeoutMs);
  return found;
}

std::size_t DebugOutputReader::Count(const std::string& text) const {
  std::size_t n = 0;
  for (const std::string& line : Lines())
    if (Body(line).find(text) != std::string::npos) ++n;
  return n;
}

// ---- ChildProcess ----

ChildProcess::~ChildProcess() {
  if (Running()) Kill();
}

bool ChildProcess::Start(const std::string& exe, const std::string& arguments, const std::string& workingDir) {
  return Create(exe, arguments, workingDir, 0);
}

bool ChildProcess::StartSuspended(const std::string& exe, const std::string& arguments) {
  return Create(exe, arguments, std::string(), CREATE_SUSPENDED);
}

bool ChildProcess::Resume() {
  if (!suspendedThread_) return false;
  const bool resumed = ResumeThread(suspendedThread_.Get()) != static_cast<DWORD>(-1);
  suspendedThread_.Reset();
  return resumed;
}

bool ChildProcess::Create(const std::string& exe, const std::string& arguments, const std::string& workingDir,
                          DWORD flags) {
  std::string commandLine = "\"" + exe + "\"";
  if (!arguments.empty()) commandLine += " " + arguments;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  if (!CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, flags, nullptr,
                      workingDir.empty() ? nullptr : workingDir.c_str(), &startup, &info))
    return false;
  process_.Reset(info.hProcess);
  ScopedKernelHandle thread(info.hThread);
  if (flags & CREATE_SUSPENDED) suspendedThread_.Reset(thread.Release());
  pid_ = info.dwProcessId;
  return true;
}

bool ChildProcess::Running() const {
  return process_ && WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT;
}

long ChildProcess::Wait(int timeoutMs) {
  if (!process_) return -1;
  if (WaitForSingleObject(process_.Get(), static_cast<DWORD>(Scaled(timeoutMs))) != WAIT_OBJECT_0) return -1;
  DWORD code = 0;
  GetExitCodeProcess(process_.Get(), &code);
  return static_cast<long>(code);
}

long ChildProcess::Close(int timeoutMs) {
  for (HWND window : ProcessWindows(Pid())) PostMessageW(window, WM_CLOSE, 0, 0);
  return Wait(timeoutMs);
}

void ChildProcess::Kill() {
  if (process_) {
    TerminateProcess(process_.Get(), 99);
    WaitForSingleObject(process_.Get(), static_cast<DWORD>(Scaled(5000)));
  }
}

// ---- windows ----

namespace {

struct EnumState {
  DWORD pid;
  const wchar_t* className;
  std::vector<HWND>* found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM param) {
  auto* state = reinterpret_cast<EnumState*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid == state->pid && (!state->className || ClassName(window) == state->className))
    state->found->push_back(window);
  return TRUE;
}

BOOL CALLBACK CollectChild(HWND window, LPARAM param) {
  auto* found = reinterpret_cast<std::vector<HWND>*>(param);
  if (GetParent(window) == found->front()) found->push_back(window);
  return TRUE;
}

}  // namespace

std::vector<HWND> ProcessWindows(DWORD pid, const wchar_t* className) {
  std::vector<HWND> found;
  EnumState state{pid, className, &found};
  EnumWindows(&CollectWindow, reinterpret_cast<LPARAM>(&state));
  return found;
}

HWND WaitForMainWindow(DWORD pid, int timeoutMs) {
  HWND main = nullptr;
  WaitUntil(
      [&] {
        std::vector<HWND> forms = ProcessWindows(pid, L"QEXForm");
        if (forms.empty()) return false;
        main = forms.front();
        // Created and filled: FormCreate has set the version label by then.
        for (HWND child : Children(main))
          if (WindowText(child).rfind(L"v", 0) == 0 && WindowText(child) != L"v0.0.0.0") return true;
        return false;
      },
      timeoutMs);
  return main;
}

HWND FindDialog(DWORD pid, const std::wstring& caption) {
  for (HWND window : ProcessWindows(pid, L"#32770"))
    if (WindowText(window) == caption) return window;
  return nullptr;
}

HWND WaitForDialog(DWORD pid, const std::wstring& caption, int timeoutMs) {
  HWND dialog = nullptr;
  WaitUntil([&] { return (dialog = FindDialog(pid, caption)) != nullptr; }, timeoutMs);
  return dialog;
}

std::wstring WindowText(HWND window) {
  // WM_GETTEXT works across processes for any window, as assistive tools use
  // it. The text may grow between asking its length and reading it (a report
  // completing), so read into room to spare and again when it was filled.
  DWORD_PTR length = 0;
  SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length);
  std::size_t room = static_cast<std::size_t>(length) * 2 + 1024;
  for (int attempt = 0; attempt < 8; ++attempt, room *= 2) {
    std::wstring text(room, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, room, reinterpret_cast<LPARAM>(&text[0]), SMTO_ABORTIFHUNG, 2000,
                        &copied);
    if (copied + 1 < room) {
      text.resize(static_cast<std::size_t>(copied));
      return text;
    }
  }
  return std::wstring();
}

std::string ReportField(const std::string& text, const std::string& name) {
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.compare(0, name.size(), name) != 0) continue;
    const std::size_t colon = line.find(": ", name.size());
    if (colon == std::string::npos || line.find_first_not_of(' ', name.size()) != colon) continue;
    return line.substr(colon + 2);
  }
  return std::string();
}

std::wstring ClassName(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  return name;
}

std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> found{parent};
  EnumChildWindows(parent, &CollectChild, reinterpret_cast<LPARAM>(&found));
  found.erase(found.begin());
  return found;
}

HWND AgentControl(HWND main, const std::string& name) {
  // Read once: the description the agent was built from.
  static const DescItem form = [] {
    try {
      return ParseWindowDescription(ReadWholeFile(ToWindowsPath(QEX_AGENT_DESCRIPTION)));
    } catch (const DescriptionError&) {
      return DescItem();
    }
  }();
  for (const DescItem& item : form.children) {
    if (item.name != name) continue;
    const DescProperty* id = item.Find("Id");
    if (!id || id->First().kind != DescValue::Integer) return nullptr;
    return GetDlgItem(main, static_cast<int>(id->First().number));
  }
  return nullptr;
}

HWND ChildOf(HWND parent, const wchar_t* className, const std::wstring& text) {
  for (HWND child : Children(parent))
    if (ClassName(child) == className && (text.empty() || WindowText(child) == text)) return child;
  return nullptr;
}

std::wstring FromCp936(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int n = MultiByteToWideChar(936, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(936, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
  return wide;
}

std::wstring FromUtf8(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
  return wide;
}

std::string ToUtf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                    nullptr);
  std::string narrow(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &narrow[0], n, nullptr, nullptr);
  return narrow;
}

// ---- registry ----

bool RegKeyExists(const std::string& key) {
  HKEY handle;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
  ScopedRegKey opened(handle);
  return true;
}

bool RegValueExists(const std::string& key, const std::string& name) {
  return RegGetValueA(HKEY_CURRENT_USER, key.c_str(), name.c_str(), RRF_RT_ANY, nullptr, nullptr, nullptr) ==
         ERROR_SUCCESS;
}

std::string RegValue(const std::string& key, const std::string& name) {
  char data[2048] = {};
  DWORD size = sizeof data;
  if (RegGetValueA(HKEY_CURRENT_USER, key.c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr, data, &size) !=
      ERROR_SUCCESS)
    return std::string();
  return data;
}

void RegSetString(const std::string& key, const std::string& name, const std::string& value) {
  HKEY handle;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle, nullptr) !=
      ERROR_SUCCESS)
    return;
  const ScopedRegKey created(handle);
  RegSetValueExA(handle, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>(value.size() + 1));
}

void RegDeleteTree(const std::string& key) { RegDeleteTreeA(HKEY_CURRENT_USER, key.c_str()); }

void DeleteRegValue(const std::string& key, const std::string& name) {
  RegDeleteKeyValueA(HKEY_CURRENT_USER, key.c_str(), name.c_str());
}

}  // namespace testing_support
