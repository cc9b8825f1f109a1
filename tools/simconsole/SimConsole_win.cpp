#include "tools/simconsole/SimConsole.h"

#include "support/CriticalSection.h"

#include <cstring>

namespace simconsole {

namespace {

constexpr int kInstances = 8;  // a client open fails while no instance waits
constexpr DWORD kPipeBuffer = 65536;
constexpr DWORD kDevNodesChanged = 0x0007;

using Locked = std::lock_guard<CriticalSection>;

class TableLocked {
 public:
  explicit TableLocked(HANDLE mutex) : mutex_(mutex) { WaitForSingleObject(mutex_, 2000); }
  ~TableLocked() { ReleaseMutex(mutex_); }
  TableLocked(const TableLocked&) = delete;
  TableLocked& operator=(const TableLocked&) = delete;

 private:
  HANDLE mutex_;
};

}  // namespace

// One pipe instance: waiting for a client, or connected with a read of the
// client's next output report outstanding.
struct Instance {
  HANDLE pipe = INVALID_HANDLE_VALUE;
  OVERLAPPED overlapped = {};
  HANDLE event = nullptr;
  bool connected = false;
  ULONGLONG connectedAt = 0;
  std::uint8_t buffer[8192];
};

struct TSimConsole::Device {
  DWORD serial = 0;
  std::string path;
  HANDLE thread = nullptr;
  HANDLE stop = nullptr;
  HANDLE ready = nullptr;
  mutable CriticalSection lock;
  Instance instances[kInstances];
  std::vector<Report> outputs;
  int opens = 0;


  static DWORD WINAPI Serve(void* self) {
    static_cast<Device*>(self)->Run();
    return 0;
  }

  void Listen(Instance& in) {
    in.connected = false;
    ZeroMemory(&in.overlapped, sizeof in.overlapped);
    in.overlapped.hEvent = in.event;
    if (ConnectNamedPipe(in.pipe, &in.overlapped)) {
      SetEvent(in.event);  // completed at once: handled by the wait
      return;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_PIPE_CONNECTED) SetEvent(in.event);
    // ERROR_IO_PENDING: the event is signalled when a client arrives.
  }

  void Reconnect(Instance& in) {
    {
      Locked guard(lock);
      in.connected = false;
    }
    DisconnectNamedPipe(in.pipe);
    Listen(in);
  }

  void Read(Instance& in) {
    ZeroMemory(&in.overlapped, sizeof in.overlapped);
    in.overlapped.hEvent = in.event;
    if (!ReadFile(in.pipe, in.buffer, sizeof in.buffer, nullptr, &in.overlapped)) {
      const DWORD error = GetLastError();
      if (error != ERROR_IO_PENDING && error != ERROR_MORE_DATA) Reconnect(in);
    }
  }

  void Run() {
    for (Instance& in : instances) {
      in.event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
      in.pipe = CreateNamedPipeA(path.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                 PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES,
                                 kPipeBuffer, kPipeBuffer, 0, nullptr);
      if (in.pipe != INVALID_HANDLE_VALUE) Listen(in);
    }
    SetEvent(ready);
    HANDLE waits[kInstances + 1];
    waits[0] = stop;
    for (int i = 0; i < kInstances; ++i) waits[i + 1] = instances[i].event;
    for (;;) {
      const DWORD r = WaitForMultipleObjects(kInstances + 1, waits, FALSE, INFINITE);
      if (r == WAIT_OBJECT_0 || r == WAIT_FAILED) break;
      const DWORD index = r - WAIT_OBJECT_0 - 1;
      if (index >= static_cast<DWORD>(kInstances)) continue;
      Instance& in = instances[index];
      ResetEvent(in.event);
      if (in.pipe == INVALID_HANDLE_VALUE) continue;
      DWORD bytes = 0;
      const BOOL ok = GetOverlappedResult(in.pipe, &in.overlapped, &bytes, FALSE);
      const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
      if (!in.connected) {
        if (ok || error == ERROR_PIPE_CONNECTED) {
          {
            Locked guard(lock);
            in.connected = true;
            in.connectedAt = GetTickCount64();
            ++opens;
          }
          Read(in);
        } else {
          Reconnect(in);
        }
        continue;
      }
      if (ok || error == ERROR_MORE_DATA) {
        {
          Locked guard(lock);
          outputs.emplace_back(in.buffer, in.buffer + bytes);
        }
        Read(in);
      } else {
        Reconnect(in);  // the client closed its handle
      }
    }
    // Unplugged: every client handle breaks.
    for (Instance& in : instances) {
      if (in.pipe != INVALID_HANDLE_VALUE) {
        CancelIoEx(in.pipe, nullptr);
        DisconnectNamedPipe(in.pipe);
        CloseHandle(in.pipe);
      }
      in.pipe = INVALID_HANDLE_VALUE;
      in.connected = false;
      if (in.event) CloseHandle(in.event);
      in.event = nullptr;
    }
  }
};

TSimConsole::TSimConsole() {
  mutex_ = CreateMutexA(nullptr, FALSE, kLockName);
  mapping_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(Table), kTableName);
  if (!mapping_ || !mutex_) return;
  table_ = static_cast<Table*>(MapViewOfFile(mapping_, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(Table)));
  if (!table_) return;
  TableLocked guard(mutex_);
  std::memset(table_, 0, sizeof(Table));
  table_->magic = kTableMagic;
  // Serial numbers differ between harness runs, so a device object that a
  // program still holds never matches a new one by accident.
  table_->nextSerial = 1000 + (GetTickCount() % 100000) * 10;
}

TSimConsole::~TSimConsole() {
  while (!devices_.empty()) Unplug(devices_.begin()->first, false);
  if (table_) {
    TableLocked guard(mutex_);
    table_->magic = 0;
    UnmapViewOfFile(table_);
  }
  if (mapping_) CloseHandle(mapping_);
  if (mutex_) CloseHandle(mutex_);
}

DWORD TSimConsole::Plug(const DeviceProfile& profile, bool broadcast) {
  if (!table_) return 0;
  DeviceEntry* slot = nullptr;
  DWORD serial = 0;
  {
    TableLocked guard(mutex_);
    for (DeviceEntry& entry : table_->devices) {
      if (!entry.present && entry.serial == 0) {
        slot = &entry;
        break;
      }
    }
    if (!slot) {
      for (DeviceEntry& entry : table_->devices) {
        if (!entry.present) {
          slot = &entry;
          break;
        }
      }
    }
    if (!slot) return 0;
    serial = table_->nextSerial++;
    std::memset(slot, 0, sizeof *slot);
    slot->serial = serial;  // reserved, not yet present
  }

  auto device = std::make_unique<Device>();
  device->serial = serial;
  device->path = kPipePathPrefix + std::to_string(serial);
  device->stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  device->ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  device->thread = CreateThread(nullptr, 0, &Device::Serve, device.get(), 0, nullptr);
  if (!device->thread) return 0;
  WaitForSingleObject(device->ready, 5000);

  {
    TableLocked guard(mutex_);
    slot->vendorId = profile.vendorId;
    slot->productId = profile.productId;
    slot->versionNumber = profile.versionNumber;
    slot->inputLength = profile.inputLength;
    slot->outputLength = profile.outputLength;
    slot->featureLength = profile.featureLength;
    slot->productReadable = profile.productReadable;
    slot->attributesReadable = profile.attributesReadable;
    const std::size_t chars = profile.product.size() < static_cast<std::size_t>(kProductChars)
                                  ? profile.product.size()
                                  : static_cast<std::size_t>(kProductChars);
    std::memcpy(slot->product, profile.product.data(), chars * sizeof(WCHAR));
    slot->product[chars] = 0;
    slot->present = 1;
  }
  devices_[serial] = std::move(device);
  if (broadcast) Broadcast();
  return serial;
}

void TSimConsole::Unplug(DWORD serial, bool broadcast) {
  auto it = devices_.find(serial);
  if (it == devices_.end()) return;
  {
    TableLocked guard(mutex_);
    if (DeviceEntry* entry = Entry(serial)) entry->present = 0;
  }
  Device& device = *it->second;
  SetEvent(device.stop);
  WaitForSingleObject(device.thread, 10000);
  CloseHandle(device.thread);
  CloseHandle(device.stop);
  CloseHandle(device.ready);
  devices_.erase(it);
  if (broadcast) Broadcast();
}

void TSimConsole::Broadcast() {
  DWORD_PTR result = 0;
  SendMessageTimeoutA(HWND_BROADCAST, WM_DEVICECHANGE, kDevNodesChanged, 0, SMTO_ABORTIFHUNG, 2000, &result);
}

int TSimConsole::SendInput(DWORD serial, const Report& report) {
  Device* device = Find(serial);
  if (!device) return 0;
  Locked guard(device->lock);
  int taken = 0;
  for (Instance& in : device->instances) {
    if (!in.connected || in.pipe == INVALID_HANDLE_VALUE) continue;
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD written = 0;
    BOOL ok = WriteFile(in.pipe, report.data(), static_cast<DWORD>(report.size()), &written, &overlapped);
    if (!ok && GetLastError() == ERROR_IO_PENDING) {
      if (WaitForSingleObject(overlapped.hEvent, 1000) == WAIT_OBJECT_0) {
        ok = GetOverlappedResult(in.pipe, &overlapped, &written, FALSE);
      } else {
        CancelIoEx(in.pipe, &overlapped);
        GetOverlappedResult(in.pipe, &overlapped, &written, TRUE);
        ok = FALSE;
      }
    }
    CloseHandle(overlapped.hEvent);
    if (ok) ++taken;
  }
  return taken;
}

std::vector<Report> TSimConsole::OutputReports(DWORD serial) const {
  Device* device = Find(serial);
  if (!device) return {};
  Locked guard(device->lock);
  return device->outputs;
}

bool TSimConsole::WaitForOutputReports(DWORD serial, std::size_t count, int timeoutMs) const {
  const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
  do {
    if (OutputReports(serial).size() >= count) return true;
    Sleep(20);
  } while (GetTickCount64() < end);
  return OutputReports(serial).size() >= count;
}

int TSimConsole::OpenHandles(DWORD serial) const {
  Device* device = Find(serial);
  if (!device) return 0;
  Locked guard(device->lock);
  int open = 0;
  for (const Instance& in : device->instances) open += in.connected ? 1 : 0;
  return open;
}

int TSimConsole::OpensSoFar(DWORD serial) const {
  Device* device = Find(serial);
  if (!device) return 0;
  Locked guard(device->lock);
  return device->opens;
}

bool TSimConsole::WaitForSteadyHandle(DWORD serial, int timeoutMs, int steadyMs) const {
  const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
  for (;;) {
    if (Device* device = Find(serial)) {
      Locked guard(device->lock);
      const ULONGLONG now = GetTickCount64();
      for (const Instance& in : device->instances)
        if (in.connected && now - in.connectedAt >= static_cast<ULONGLONG>(steadyMs)) return true;
    }
    if (GetTickCount64() >= end) return false;
    Sleep(20);
  }
}

LONG TSimConsole::ProductReads(DWORD serial) const {
  TableLocked guard(mutex_);
  DeviceEntry* entry = Entry(serial);
  return entry ? entry->productReads : 0;
}

LONG TSimConsole::PreparsedReads(DWORD serial) const {
  TableLocked guard(mutex_);
  DeviceEntry* entry = Entry(serial);
  return entry ? entry->preparsedReads : 0;
}

std::string TSimConsole::DevicePath(DWORD serial) const { return kPipePathPrefix + std::to_string(serial); }

TSimConsole::Device* TSimConsole::Find(DWORD serial) const {
  auto it = devices_.find(serial);
  return it == devices_.end() ? nullptr : it->second.get();
}

DeviceEntry* TSimConsole::Entry(DWORD serial) const {
  if (!table_) return nullptr;
  for (DeviceEntry& entry : table_->devices)
    if (entry.serial == serial) return &entry;
  return nullptr;
}

namespace {

std::string SystemFolder() {
  char system[MAX_PATH];
  const UINT length = GetSystemDirectoryA(system, MAX_PATH);
  return length == 0 || length >= MAX_PATH ? std::string() : std::string(system, length);
}

constexpr const char* kReplaced[] = {"hid.dll", "setupapi.dll"};
constexpr const char* kSaved = ".qexsave";

}  // namespace

bool TSimConsole::InstallDoubles(std::string* error) {
  char self[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, self, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  std::string folder(self, length);
  folder.erase(folder.find_last_of("\\/") + 1);
  const std::string system = SystemFolder();
  if (system.empty()) return false;
  // The platform's own files are kept, so that RemoveDoubles can put them
  // back for the programs that run on the real stack.
  for (const char* name : kReplaced) {
    const std::string file = system + "\\" + name;
    const std::string saved = file + kSaved;
    if (GetFileAttributesA(saved.c_str()) == INVALID_FILE_ATTRIBUTES && !CopyFileA(file.c_str(), saved.c_str(), TRUE)) {
      if (error) *error = "cannot keep " + file + " (error " + std::to_string(GetLastError()) + ")";
      return false;
    }
  }
  for (const char* name : {"hid.dll", "setupapi.dll", "qexsim_hid_lacking.dll", "qexsim_setupapi_lacking.dll"}) {
    const std::string from = folder + name;
    const std::string to = system + "\\" + name;
    if (!CopyFileA(from.c_str(), to.c_str(), FALSE)) {
      if (error) *error = "cannot copy " + from + " to " + to + " (error " + std::to_string(GetLastError()) + ")";
      return false;
    }
  }
  return true;
}

bool TSimConsole::RemoveDoubles(std::string* error) {
  const std::string system = SystemFolder();
  if (system.empty()) return false;
  for (const char* name : kReplaced) {
    const std::string file = system + "\\" + name;
    const std::string saved = file + kSaved;
    if (GetFileAttributesA(saved.c_str()) == INVALID_FILE_ATTRIBUTES) continue;
    if (!CopyFileA(saved.c_str(), file.c_str(), FALSE) || !DeleteFileA(saved.c_str())) {
      if (error) *error = "cannot put " + file + " back (error " + std::to_string(GetLastError()) + ")";
      return false;
    }
  }
  return true;
}

}  // namespace simconsole
