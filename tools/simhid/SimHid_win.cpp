#include "tools/simhid/SimHid.h"

#include <cfgmgr32.h>
#include <newdev.h>

#include <algorithm>
#include <cstring>

#include "support/CriticalSection.h"
#include "support/ScopedHandle.h"
#include "tools/simhid/SimHidProtocol.h"

namespace simhid {

namespace {

constexpr GUID kHidClassGuid = {0x745a17a0, 0x74d3, 0x11d0, {0xb6, 0xfe, 0x00, 0xa0, 0xc9, 0x0f, 0x57, 0xda}};
constexpr GUID kHidInterface = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
constexpr DWORD kDevNodesChanged = 0x0007;
constexpr int kWaitMs = 20000;
constexpr int kFirstConnectMs = 10000;
constexpr int kRemoveAttempts = 3;
constexpr int kPlugAttempts = 3;  // slots a plug tries before it gives up
// Connections a slot's pipe serves at once: the driver's two, and room for
// the next device's while the last one's are being closed.
constexpr int kInstances = 4;

std::wstring InstanceId(int slot) {
  wchar_t text[64];
  wsprintfW(text, L"ROOT\\QEXSIMHID\\%04d", slot);
  return text;
}

std::wstring HardwareId(int slot) {
  wchar_t text[64];
  wsprintfW(text, L"qexsimhid\\slot_%d", slot);
  return text;
}

// The harness links the setup library directly (the agent binds it at run time).
struct DeviceInfoListTraits {
  using Handle = HDEVINFO;
  static Handle Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Handle h) { ::SetupDiDestroyDeviceInfoList(h); }
};
using ScopedDeviceInfoList = ScopedHandle<DeviceInfoListTraits>;

std::string PipeName(int slot) { return "\\\\.\\pipe\\" SIMHID_PIPE_PREFIX + std::to_string(slot); }

std::string LastErrorText(const char* call) { return std::string(call) + " failed: " + std::to_string(GetLastError()); }

// Overlapped I/O on a pipe handle, waiting for completion or `stop`.
bool Transfer(HANDLE pipe, HANDLE event, HANDLE stop, bool write, void* buffer, DWORD count) {
  auto* at = static_cast<std::uint8_t*>(buffer);
  while (count > 0) {
    OVERLAPPED overlapped = {};
    overlapped.hEvent = event;
    ResetEvent(event);
    DWORD done = 0;
    BOOL ok = write ? WriteFile(pipe, at, count, nullptr, &overlapped) : ReadFile(pipe, at, count, nullptr, &overlapped);
    if (!ok && GetLastError() != ERROR_IO_PENDING) return false;
    HANDLE waits[2] = {event, stop};
    const DWORD r = WaitForMultipleObjects(stop ? 2 : 1, waits, FALSE, stop ? INFINITE : 5000);
    if (r != WAIT_OBJECT_0) {
      CancelIoEx(pipe, &overlapped);
      GetOverlappedResult(pipe, &overlapped, &done, TRUE);
      return false;
    }
    if (!GetOverlappedResult(pipe, &overlapped, &done, FALSE) || done == 0) return false;
    at += done;
    count -= done;
  }
  return true;
}

std::string FileBytes(const std::string& path) {
  std::string bytes;
  const ScopedFile file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return bytes;
  char buffer[65536];
  DWORD read = 0;
  while (ReadFile(file.Get(), buffer, sizeof buffer, &read, nullptr) && read > 0) bytes.append(buffer, read);
  return bytes;
}

bool InstanceExists(int slot) {
  const std::wstring instance = InstanceId(slot);
  const ScopedDeviceInfoList set(SetupDiCreateDeviceInfoList(&kHidClassGuid, nullptr));
  if (!set) return false;
  SP_DEVINFO_DATA info = {};
  info.cbSize = sizeof info;
  return SetupDiOpenDeviceInfoW(set.Get(), instance.c_str(), nullptr, 0, &info) != FALSE;
}

// Removes the root device of a slot, if it exists; false when it exists and
// could not be removed.
bool RemoveInstance(int slot, std::string* error) {
  const std::wstring instance = InstanceId(slot);
  const ScopedDeviceInfoList set(SetupDiCreateDeviceInfoList(&kHidClassGuid, nullptr));
  if (!set) return false;
  SP_DEVINFO_DATA info = {};
  info.cbSize = sizeof info;
  bool ok = true;
  if (SetupDiOpenDeviceInfoW(set.Get(), instance.c_str(), nullptr, 0, &info)) {
    ok = SetupDiCallClassInstaller(DIF_REMOVE, set.Get(), &info);
    if (!ok && error) *error = LastErrorText("DIF_REMOVE");
  }
  return ok;
}

// Runs a program of the system's own architecture (from the real system
// folder, a 32-bit caller included) and waits; its exit code, -1 when it did
// not start or end.
long RunNative(const std::string& commandLine) {
  char windows[MAX_PATH];
  GetWindowsDirectoryA(windows, MAX_PATH);
  BOOL wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow64);
  std::string line = std::string(windows) + (wow64 ? "\\sysnative\\" : "\\system32\\") + commandLine;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                      &process))
    return -1;
  const ScopedKernelHandle owner(process.hProcess);
  CloseHandle(process.hThread);
  DWORD code = 0;
  if (WaitForSingleObject(process.hProcess, 30000) != WAIT_OBJECT_0 || !GetExitCodeProcess(process.hProcess, &code))
    return -1;
  return static_cast<long>(code);
}

// A service that a 32-bit program creates on 64-bit Windows is marked as
// one of its own kind (the "WOW64" value): the platform would load the
// driver into a 32-bit driver host, which cannot run the 64-bit driver. A
// 32-bit harness has the system's own service tool create it instead,
// before the driver's INF would; the INF's install then keeps it as it is.
bool EnsureNativeService(std::string* error) {
  BOOL wow64 = FALSE;
  if (!IsWow64Process(GetCurrentProcess(), &wow64) || !wow64) return true;
  HKEY raw = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Services\\qexsimhid", 0,
                    KEY_READ | KEY_WOW64_64KEY, &raw) == ERROR_SUCCESS) {
    const ScopedRegKey key(raw);
    DWORD marked = 0, size = sizeof marked;
    if (RegQueryValueExA(key.Get(), "WOW64", nullptr, nullptr, reinterpret_cast<BYTE*>(&marked), &size) !=
            ERROR_SUCCESS ||
        marked == 0)
      return true;
    RunNative("sc.exe delete qexsimhid");
  }
  const long code = RunNative(
      "sc.exe create qexsimhid type= kernel start= demand error= normal "
      "binPath= C:\\windows\\system32\\drivers\\qexsimhid.sys");
  if (code != 0 && error) *error = "the system's sc.exe could not create the driver's service: " + std::to_string(code);
  return code == 0;
}

}  // namespace

// One slot: the device's profile and the two pipe connections its driver
// makes, each served by a thread.
struct TSimHid::Slot {
  DWORD number = 0;
  DeviceProfile profile;
  bool plugged = false;
  ScopedKernelHandle stop{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
  ScopedKernelHandle configured{CreateEventA(nullptr, TRUE, FALSE, nullptr)};  // the driver took its profile
  ScopedKernelHandle gone{CreateEventA(nullptr, TRUE, FALSE, nullptr)};  // the driver said it is being removed
  ScopedKernelHandle threads[kInstances];
  ScopedFile pipes[kInstances];
  HANDLE commandPipe = INVALID_HANDLE_VALUE;  // one of pipes, the connection the driver reads, once known
  mutable CriticalSection lock;               // outputs, commandPipe
  CriticalSection writeLock;                  // one frame at a time to the driver
  ScopedKernelHandle writeEvent{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
  std::vector<Report> outputs;
  std::vector<Report> dropped;   // input reports the driver dropped from its queue
  SimHidCounts counts = {};      // the driver's last answer to a query
  unsigned answers = 0;          // answers so far

  // The threads end before the pipes and events they use are closed.
  ~Slot() {
    SetEvent(stop.Get());
    for (const ScopedKernelHandle& thread : threads)
      if (thread) WaitForSingleObject(thread.Get(), 5000);
  }

  bool Send(char kind, const void* payload, DWORD length) {
    std::lock_guard<CriticalSection> guard(writeLock);
    HANDLE pipe;
    {
      std::lock_guard<CriticalSection> state(lock);
      pipe = commandPipe;
    }
    if (pipe == INVALID_HANDLE_VALUE) return false;
    std::vector<std::uint8_t> frame(5 + length);
    const std::uint32_t size = length + 1;
    std::memcpy(frame.data(), &size, 4);
    frame[4] = static_cast<std::uint8_t>(kind);
    if (length) std::memcpy(frame.data() + 5, payload, length);
    return Transfer(pipe, writeEvent.Get(), nullptr, true, frame.data(), static_cast<DWORD>(frame.size()));
  }

  SimHidConfig Config() const {
    SimHidConfig config = {};
    config.vendorId = profile.vendorId;
    config.productId = profile.productId;
    config.versionNumber = profile.versionNumber;
    config.inputLength = profile.inputLength;
    config.outputLength = profile.outputLength;
    config.usagePage = profile.usagePage;
    config.usage = profile.usage;
    config.reportId = profile.reportId;
    config.productReadable = profile.productReadable ? 1 : 0;
    auto put = [](unsigned short* to, std::size_t capacity, const std::wstring& text) {
      const std::size_t n = std::min(text.size(), capacity - 1);
      for (std::size_t i = 0; i < n; ++i) to[i] = static_cast<unsigned short>(text[i]);
    };
    put(config.product, 127, profile.product);
    put(config.serial, 64, profile.serial);
    put(config.manufacturer, 64, profile.manufacturer);
    return config;
  }

  struct ServeArgs {
    Slot* slot;
    int index;
  };

  static DWORD WINAPI Serve(void* raw) {
    auto* args = static_cast<ServeArgs*>(raw);
    Slot* self = args->slot;
    const int index = args->index;
    delete args;
    self->Run(index);
    return 0;
  }

  // Serves one pipe instance: a connection, its hello, then its frames, and
  // again for the next connection (a replugged device).
  void Run(int index) {
    const HANDLE pipe = pipes[index].Get();
    const ScopedKernelHandle done(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    const HANDLE event = done.Get();
    std::vector<std::uint8_t> body(SIMHID_MAX_FRAME);
    while (WaitForSingleObject(stop.Get(), 0) != WAIT_OBJECT_0) {
      OVERLAPPED overlapped = {};
      overlapped.hEvent = event;
      ResetEvent(event);
      if (!ConnectNamedPipe(pipe, &overlapped)) {
        const DWORD error = GetLastError();
        if (error == ERROR_IO_PENDING) {
          HANDLE waits[2] = {event, stop.Get()};
          if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
            CancelIoEx(pipe, &overlapped);
            DWORD done;
            GetOverlappedResult(pipe, &overlapped, &done, TRUE);
            break;
          }
        } else if (error != ERROR_PIPE_CONNECTED) {
          break;
        }
      }
      bool commands = false;
      for (;;) {
        std::uint32_t size = 0;
        if (!Transfer(pipe, event, stop.Get(), false, &size, 4) || size < 1 || size > body.size()) break;
        if (!Transfer(pipe, event, stop.Get(), false, body.data(), size)) break;
        const char kind = static_cast<char>(body[0]);
        if (kind == SIMHID_HELLO_COMMANDS) {
          commands = true;
          {
            std::lock_guard<CriticalSection> guard(lock);
            commandPipe = pipe;
          }
          const SimHidConfig config = Config();
          if (Send(SIMHID_CONFIG, &config, sizeof config)) SetEvent(configured.Get());
          // From here on only this harness writes to the connection: a read
          // kept pending on it stalls the writes under Wine. It ends when the
          // driver says it is being removed.
          HANDLE waits[2] = {gone.Get(), stop.Get()};
          WaitForMultipleObjects(2, waits, FALSE, INFINITE);
          Sleep(100);  // the driver reads its exit and closes its end
          break;
        } else if (kind == SIMHID_OUTPUT) {
          std::lock_guard<CriticalSection> guard(lock);
          outputs.emplace_back(body.begin() + 1, body.begin() + size);
        } else if (kind == SIMHID_DROPPED) {
          std::lock_guard<CriticalSection> guard(lock);
          dropped.emplace_back(body.begin() + 1, body.begin() + size);
        } else if (kind == SIMHID_COUNTS && size == 1 + sizeof(SimHidCounts)) {
          std::lock_guard<CriticalSection> guard(lock);
          std::memcpy(&counts, body.data() + 1, sizeof counts);
          ++answers;
        } else if (kind == SIMHID_GONE) {
          SetEvent(gone.Get());
          Send(SIMHID_EXIT, nullptr, 0);
        }
      }
      if (commands) {
        // A replugged device may have connected anew meanwhile.
        std::lock_guard<CriticalSection> writing(writeLock);
        std::lock_guard<CriticalSection> guard(lock);
        if (commandPipe == pipe) commandPipe = INVALID_HANDLE_VALUE;
      }
      DisconnectNamedPipe(pipe);
    }
  }
};

TSimHid::TSimHid() {
  char windows[MAX_PATH];
  GetWindowsDirectoryA(windows, MAX_PATH);
  infPath_ = std::string(windows) + "\\inf\\qexsimhid.inf";
}

TSimHid::~TSimHid() {
  for (auto& entry : slots_)
    if (entry.second->plugged) Unplug(entry.first, false);
}

bool TSimHid::Install(const std::string& driverPath, std::string* error) {
  std::string driverFile = driverPath;
  const DWORD attributes = GetFileAttributesA(driverPath.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    // The system's own architecture, not this program's: a 32-bit harness
    // on 64-bit Windows installs the 64-bit driver.
    SYSTEM_INFO system = {};
    GetNativeSystemInfo(&system);
    const bool x64 = system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64;
    driverFile = driverPath + (x64 ? "\\x64" : "\\x86") + "\\qexsimhid.sys";
  }
  char windows[MAX_PATH];
  GetWindowsDirectoryA(windows, MAX_PATH);
  // The real system folder: a 32-bit program's view of it is redirected to
  // the 32-bit one, where the platform loads no driver from.
  const std::string driver = std::string(windows) + "\\system32\\drivers\\qexsimhid.sys";
  const std::string bytes = FileBytes(driverFile);
  if (bytes.empty()) {
    if (error) *error = "no driver at " + driverFile;
    return false;
  }
  void* redirection = nullptr;
  const bool redirected = Wow64DisableWow64FsRedirection(&redirection) != FALSE;
  // A loaded driver cannot be replaced; the same one need not be.
  const bool same = bytes == FileBytes(driver);
  const bool copied = same || CopyFileA(driverFile.c_str(), driver.c_str(), FALSE);
  const DWORD copyError = GetLastError();
  if (redirected) Wow64RevertWow64FsRedirection(redirection);
  if (!copied) {
    if (error) *error = "copying " + driverFile + ": CopyFile failed: " + std::to_string(copyError);
    return false;
  }
  if (!EnsureNativeService(error)) return false;
  std::string models;
  for (int slot = 1; slot <= SIMHID_MAX_SLOTS; ++slot)
    models += "%Name%=Install,qexsimhid\\slot_" + std::to_string(slot) + "\r\n";
  const std::string inf =
      "[Version]\r\nSignature=\"$WINDOWS NT$\"\r\nClass=HIDClass\r\n"
      "ClassGuid={745a17a0-74d3-11d0-b6fe-00a0c90f57da}\r\nProvider=QEX\r\nDriverVer=12/08/2026,1.0.0.0\r\n\r\n"
      "[Manufacturer]\r\nQEX=Models,NTx86,NTamd64\r\n\r\n"
      "[Models]\r\n" + models + "\r\n[Models.NTx86]\r\n" + models + "\r\n[Models.NTamd64]\r\n" + models +
      "\r\n[Install]\r\n\r\n[Install.Services]\r\nAddService=qexsimhid,0x2,Service\r\n\r\n"
      "[Service]\r\nServiceType=1\r\nStartType=3\r\nErrorControl=1\r\nServiceBinary=%12%\\qexsimhid.sys\r\n\r\n"
      "[Strings]\r\nName=\"QEX simulated console\"\r\n";
  const ScopedFile file(CreateFileA(infPath_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  DWORD written = 0;
  const bool ok = file && WriteFile(file.Get(), inf.data(), static_cast<DWORD>(inf.size()), &written, nullptr) &&
                  written == inf.size();
  if (!ok && error) *error = "writing " + infPath_ + ": " + LastErrorText("WriteFile");
  return ok;
}

TSimHid::Slot* TSimHid::Find(DWORD serial) const {
  auto it = slots_.find(serial);
  return it == slots_.end() ? nullptr : it->second.get();
}

bool TSimHid::Start(Slot& slot) {
  ResetEvent(slot.configured.Get());
  ResetEvent(slot.gone.Get());
  {
    std::lock_guard<CriticalSection> guard(slot.lock);
    slot.dropped.clear();
  }
  if (!slot.threads[0]) {
    for (int i = 0; i < kInstances; ++i) {
      slot.pipes[i].Reset(CreateNamedPipeA(PipeName(static_cast<int>(slot.number)).c_str(),
                                           PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED, PIPE_TYPE_BYTE | PIPE_WAIT,
                                           kInstances, 65536, 65536, 0, nullptr));
      if (!slot.pipes[i]) {
        lastError_ = LastErrorText("CreateNamedPipe");
        return false;
      }
      slot.threads[i].Reset(CreateThread(nullptr, 0, &Slot::Serve, new Slot::ServeArgs{&slot, i}, 0, nullptr));
    }
  }

  bool connected = AddDevice(slot) && WaitForSingleObject(slot.configured.Get(), kFirstConnectMs) == WAIT_OBJECT_0;
  if (!connected) {
    // The first driver load of a fresh prefix's session can fail to start
    // the device; adding it again starts it.
    connected = AddDevice(slot) && WaitForSingleObject(slot.configured.Get(), kWaitMs) == WAIT_OBJECT_0;
  }
  if (!connected) {
    if (lastError_.empty()) lastError_ = "the driver of slot " + std::to_string(slot.number) + " never connected";
    return false;
  }
  if (!WaitForInterface(slot, true, kWaitMs)) {
    lastError_ = "the HID interface of slot " + std::to_string(slot.number) + " never appeared";
    return false;
  }
  slot.plugged = true;
  return true;
}

bool TSimHid::AddDevice(Slot& slot) {
  lastError_.clear();
  // A test that died, or a removal that failed, leaves its device behind: it
  // goes first (and the slot's connections with it), or the new one would
  // never start.
  if (!DevicePath(slot.number).empty() || InstanceExists(static_cast<int>(slot.number))) {
    if (!RemoveDevice(slot) && InstanceExists(static_cast<int>(slot.number))) return false;
    lastError_.clear();
    ResetEvent(slot.gone.Get());
  }
  const std::wstring instance = InstanceId(static_cast<int>(slot.number));
  bool ok = false;
  {
    const ScopedDeviceInfoList set(SetupDiCreateDeviceInfoList(&kHidClassGuid, nullptr));
    if (!set) {
      lastError_ = LastErrorText("SetupDiCreateDeviceInfoList");
      return false;
    }
    SP_DEVINFO_DATA info = {};
    info.cbSize = sizeof info;
    ok = SetupDiCreateDeviceInfoW(set.Get(), instance.c_str(), &kHidClassGuid, nullptr, nullptr, 0, &info);
    if (!ok) lastError_ = LastErrorText("SetupDiCreateDeviceInfo");
    if (ok) {
      std::wstring ids = HardwareId(static_cast<int>(slot.number));
      ids.push_back(L'\0');
      ids.push_back(L'\0');
      ok = SetupDiSetDeviceRegistryPropertyW(set.Get(), &info, SPDRP_HARDWAREID,
                                             reinterpret_cast<const BYTE*>(ids.data()),
                                             static_cast<DWORD>(ids.size() * sizeof(wchar_t)));
      if (!ok) lastError_ = LastErrorText("SetupDiSetDeviceRegistryProperty");
    }
    if (ok) {
      ok = SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set.Get(), &info);
      if (!ok) lastError_ = LastErrorText("DIF_REGISTERDEVICE");
    }
  }
  if (!ok) return false;

  const std::wstring hardware = HardwareId(static_cast<int>(slot.number));
  const std::wstring inf(infPath_.begin(), infPath_.end());
  BOOL reboot = FALSE;
  if (!UpdateDriverForPlugAndPlayDevicesW(nullptr, hardware.c_str(), inf.c_str(), INSTALLFLAG_FORCE, &reboot)) {
    lastError_ = LastErrorText("UpdateDriverForPlugAndPlayDevices");
    return false;
  }
  return true;
}

DWORD TSimHid::Plug(const DeviceProfile& profile, bool broadcast) {
  // A slot whose last device could not be removed (a removal that failed
  // under load, here or in an earlier program on this prefix's session) may
  // never show a new interface: the next free slot is tried then, so one
  // failed removal does not fail every later plug.
  std::string firstError;
  int tries = 0;
  for (DWORD number = 1; number <= SIMHID_MAX_SLOTS && tries < kPlugAttempts; ++number) {
    if (slots_.count(number) || wedged_.count(number)) continue;
    ++tries;
    auto slot = std::make_unique<Slot>();
    slot->number = number;
    slot->profile = profile;
    Slot& ref = *slot;
    slots_[number] = std::move(slot);
    if (Start(ref)) {
      if (broadcast) Broadcast();
      return number;
    }
    if (firstError.empty()) firstError = lastError_;
    RemoveDevice(ref);
    slots_.erase(number);
    wedged_.insert(number);
  }
  lastError_ = firstError.empty() ? "every slot is taken" : firstError;
  return 0;
}

bool TSimHid::Replug(DWORD serial, bool broadcast) {
  Slot* slot = Find(serial);
  if (!slot || slot->plugged) return false;
  if (!Start(*slot)) return false;
  if (broadcast) Broadcast();
  return true;
}

bool TSimHid::Unplug(DWORD serial, bool broadcast) {
  Slot* slot = Find(serial);
  if (!slot || !slot->plugged) return false;
  slot->plugged = false;
  const bool ok = RemoveDevice(*slot);
  if (broadcast) Broadcast();
  return ok;
}

bool TSimHid::RemoveDevice(Slot& slot) {
  const int number = static_cast<int>(slot.number);
  // On a busy machine a removal can fail, or the class driver's child can
  // outlive it: the removal is tried again until the interface is gone.
  for (int attempt = 1;; ++attempt) {
    lastError_.clear();
    if (RemoveInstance(number, &lastError_)) {
      if (WaitForInterface(slot, false, kWaitMs)) break;
      lastError_ = "the HID interface of slot " + std::to_string(number) + " stayed";
    }
    if (attempt == kRemoveAttempts) {
      // Its connections go, so that a later plug of the slot finds them free.
      SetEvent(slot.gone.Get());
      return false;
    }
    Sleep(500);
  }
  // A driver that never took its profile has no connection to let go of.
  const bool connected = WaitForSingleObject(slot.configured.Get(), 0) == WAIT_OBJECT_0;
  if (connected && WaitForSingleObject(slot.gone.Get(), kWaitMs) != WAIT_OBJECT_0) {
    lastError_ = "the driver of slot " + std::to_string(number) + " never said it was removed";
    SetEvent(slot.gone.Get());
    return false;
  }
  return true;
}

void TSimHid::Broadcast() {
  DWORD_PTR result = 0;
  SendMessageTimeoutA(HWND_BROADCAST, WM_DEVICECHANGE, kDevNodesChanged, 0, SMTO_ABORTIFHUNG, 2000, &result);
}

std::string TSimHid::DevicePath(DWORD serial) const {
  // The interface of the HID child of the slot's root device.
  std::wstring child = InstanceId(static_cast<int>(serial));
  child.replace(0, 4, L"HID");
  const ScopedDeviceInfoList set(
      SetupDiGetClassDevsA(&kHidInterface, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
  if (!set) return std::string();
  std::string found;
  for (DWORD index = 0; found.empty(); ++index) {
    SP_DEVICE_INTERFACE_DATA data = {};
    data.cbSize = sizeof data;
    if (!SetupDiEnumDeviceInterfaces(set.Get(), nullptr, &kHidInterface, index, &data)) break;
    SP_DEVINFO_DATA info = {};
    info.cbSize = sizeof info;
    DWORD required = 0;
    SetupDiGetDeviceInterfaceDetailA(set.Get(), &data, nullptr, 0, &required, nullptr);
    if (!required) continue;
    std::vector<char> buffer(required + 1, 0);
    auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!SetupDiGetDeviceInterfaceDetailA(set.Get(), &data, detail, required, nullptr, &info)) continue;
    // The class driver names its child after the root instance
    // ("HID\\QEXSIMHID\\0001" for "ROOT\\QEXSIMHID\\0001").
    wchar_t id[MAX_DEVICE_ID_LEN] = {};
    if (CM_Get_Device_IDW(info.DevInst, id, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS) continue;
    if (lstrcmpiW(id, child.c_str()) == 0) found = detail->DevicePath;
  }
  return found;
}

bool TSimHid::WaitForInterface(Slot& slot, bool present, int timeoutMs) {
  const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
  for (;;) {
    if (DevicePath(slot.number).empty() != present) return true;
    if (GetTickCount64() >= end) return false;
    Sleep(20);
  }
}

bool TSimHid::SendInput(DWORD serial, const Report& report) {
  Slot* slot = Find(serial);
  return slot && slot->plugged && slot->Send(SIMHID_INPUT, report.data(), static_cast<DWORD>(report.size()));
}

bool TSimHid::StallWrites(DWORD serial, bool stall) {
  Slot* slot = Find(serial);
  const std::uint8_t flag = stall ? 1 : 0;
  return slot && slot->Send(SIMHID_STALL_WRITES, &flag, 1);
}

bool TSimHid::CancelWritesAfter(DWORD serial, DWORD ms) {
  Slot* slot = Find(serial);
  const std::uint32_t payload = ms;
  return slot && slot->Send(SIMHID_CANCEL_WRITES, &payload, sizeof payload);
}

bool TSimHid::QueryInputs(DWORD serial, InputCounts* counts) {
  Slot* slot = Find(serial);
  if (!slot) return false;
  unsigned before;
  {
    std::lock_guard<CriticalSection> guard(slot->lock);
    before = slot->answers;
  }
  if (!slot->Send(SIMHID_QUERY, nullptr, 0)) return false;
  const ULONGLONG end = GetTickCount64() + 10000;
  for (;;) {
    {
      std::lock_guard<CriticalSection> guard(slot->lock);
      if (slot->answers != before) {
        counts->completed = slot->counts.completed;
        counts->dropped = slot->counts.dropped;
        counts->queued = slot->counts.queued;
        return true;
      }
    }
    if (GetTickCount64() >= end) return false;
    Sleep(5);
  }
}

bool TSimHid::WaitForInputsSettled(DWORD serial, InputCounts* counts, int timeoutMs) {
  const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
  for (;;) {
    if (!QueryInputs(serial, counts)) return false;
    if (counts->queued == 0) return true;
    if (GetTickCount64() >= end) return false;
    Sleep(50);
  }
}

std::vector<Report> TSimHid::DroppedInputs(DWORD serial) const {
  Slot* slot = Find(serial);
  if (!slot) return {};
  std::lock_guard<CriticalSection> guard(slot->lock);
  return slot->dropped;
}

std::vector<Report> TSimHid::OutputReports(DWORD serial) const {
  Slot* slot = Find(serial);
  if (!slot) return {};
  std::lock_guard<CriticalSection> guard(slot->lock);
  return slot->outputs;
}

bool TSimHid::WaitForOutputReports(DWORD serial, std::size_t count, int timeoutMs) const {
  const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
  while (OutputReports(serial).size() < count) {
    if (GetTickCount64() >= end) return false;
    Sleep(10);
  }
  return true;
}

}  // namespace simhid
