#include "hid/HidDevice.h"

#include <algorithm>
#include <cwchar>

#include "hid/Hid.h"
#include "hid/HidController.h"

namespace {

using CancelIoFunction = decltype(&::CancelIo);
using CancelIoExFunction = BOOL(WINAPI*)(HANDLE, LPOVERLAPPED);

// Looked up when needed: kernel32 is always loaded, so this searches no
// folder, and a system without the function simply skips the cancel.
FARPROC Kernel32Function(const char* name) {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  return kernel ? GetProcAddress(kernel, name) : nullptr;
}

using ReadLock = std::lock_guard<CriticalSection>;

// The most input reports a HID handle may buffer on the platform; a read
// handle keeps the default of 32 otherwise, which a main-thread stall of
// 32 ms loses reports to at 1000 reports a second.
constexpr ULONG kMaxInputBuffers = 512;

}  // namespace

struct THidDevice::PendingWrite {
  ScopedKernelHandle done{CreateEventA(nullptr, TRUE, TRUE, nullptr)};
  OVERLAPPED overlapped = {};
  std::vector<std::uint8_t> bytes;
  // Timed out while the device still held it: its outcome is still to come.
  bool held = false;
  PendingWrite() { overlapped.hEvent = done.Get(); }
  bool Done() const { return WaitForSingleObject(done.Get(), 0) == WAIT_OBJECT_0; }
};

// Writes whose handle was closed while the device still held them: the
// platform writes their outcome into the record until it completes them
// (closing the handle cancels them), so they wait here, main thread only,
// and go once done. Never destroyed: at process exit an unfinished one must
// not be freed under the platform either.
std::vector<std::unique_ptr<THidDevice::PendingWrite>>& THidDevice::AbandonedWrites() {
  static auto* writes = new std::vector<std::unique_ptr<PendingWrite>>;
  return *writes;
}

void THidDevice::ReapAbandonedWrites() {
  auto& writes = AbandonedWrites();
  writes.erase(std::remove_if(writes.begin(), writes.end(), [](const auto& write) { return write->Done(); }),
               writes.end());
}

void THidDevice::ReleaseWrite() {
  if (!FWrite) return;
  if (!FWrite->Done()) AbandonedWrites().push_back(std::move(FWrite));
  FWrite.reset();
  ReapAbandonedWrites();
}

THidDevice::THidDevice(std::unique_ptr<THidPnPInfo> pnpInfo, THidDeviceController* controller)
    : FController(controller), FPnPInfo(std::move(pnpInfo)) {
  if (FController) {
    SetOnData(FController->OnDeviceData());  // not claimed: no thread starts
    OnUnplug = FController->OnDeviceUnplug();
  }
  if (!OpenForQueryOrReadWrite()) throw EControllerError("device cannot be opened");
  FAttributes.Size = sizeof(HIDD_ATTRIBUTES);
  if (!HidApi.HidD_GetAttributes || !HidApi.HidD_GetAttributes(FMainHandle.Get(), &FAttributes)) {
    CloseMainHandle();
    throw EControllerError("device cannot be identified");
  }
  CloseMainHandle();
}

THidDevice::~THidDevice() {
  const THidDataEvent data = FOnData;
  const THidPlugEvent unplug = OnUnplug;
  SetOnData(THidDataEvent());  // stops the read thread
  ReapRetiredThread(true);
  OnUnplug = THidPlugEvent();
  CloseMainHandle();
  CloseReadHandle();
  if (FPreparsedData && HidApi.HidD_FreePreparsedData) HidApi.HidD_FreePreparsedData(FPreparsedData);
  FPreparsedData = nullptr;

  if (FController) {
    std::vector<THidDevice*>& list = FController->FDevices;
    auto it = std::find(list.begin(), list.end(), this);
    if (it != list.end()) {
      if (FPlugged) {
        // Given back while plugged: a fresh free object takes this place.
        THidDevice* replacement = nullptr;
        try {
          replacement = new THidDevice(std::move(FPnPInfo), FController);
        } catch (...) {
          // The device can no longer be opened: the place goes, so the list
          // never keeps a reference to this object.
        }
        it = std::find(list.begin(), list.end(), this);
        if (replacement) {
          replacement->SetOnData(data);
          replacement->OnUnplug = unplug;
          replacement->SetThreadSleepTime(FThreadSleepTime.load());
          if (it != list.end()) *it = replacement;
          else list.push_back(replacement);
          if (FClaimed) {
            --FController->FClaimedDeviceCount;
            ++FController->FFreeDeviceCount;
          }
        } else {
          if (it != list.end()) list.erase(it);
          if (FClaimed) --FController->FClaimedDeviceCount;
          else --FController->FFreeDeviceCount;
        }
      } else {
        list.erase(it);
        --FController->FUnpluggedDeviceCount;
      }
    }
  }
}

bool THidDevice::OpenForQueryOrReadWrite() {
  const char* path = FPnPInfo->DevicePath.c_str();
  // Overlapped, so that a write can be bounded in time; the HID queries
  // on it still complete before they return.
  FMainHandle.Reset(CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
  FReadWriteAccess = FMainHandle.IsValid();
  if (!FReadWriteAccess) {
    FMainHandle.Reset(CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OVERLAPPED, nullptr));
  }
  return FMainHandle.IsValid();
}

void THidDevice::ApplyBufferCount(HANDLE handle, std::uint32_t& count) {
  if (count != 0 && HidApi.HidD_SetNumInputBuffers) HidApi.HidD_SetNumInputBuffers(handle, count);
  ULONG current = 0;
  if (HidApi.HidD_GetNumInputBuffers && HidApi.HidD_GetNumInputBuffers(handle, &current)) count = current;
}

bool THidDevice::OpenMainHandle() {
  if (IsAccessible() && !FMainHandle) {
    if (OpenForQueryOrReadWrite()) ApplyBufferCount(FMainHandle.Get(), FMainBufferCount);
  }
  return FMainHandle.IsValid();
}

void THidDevice::CloseMainHandle() {
  // A write the device still holds stays with the old handle until the
  // platform completes it; the next handle writes with a record of its own.
  ReleaseWrite();
  FMainHandle.Reset();
  FMainBufferCount = 0;
}

bool THidDevice::OpenReadHandle() {
  ReadLock lock(FReadLock);
  if (!IsAccessible()) return false;
  if (!FReadHandle) {
    FReadHandle.Reset(CreateFileA(FPnPInfo->DevicePath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
    if (FReadHandle) {
      if (FClaimed && FReadBufferCount == 0) FReadBufferCount = kMaxInputBuffers;
      ApplyBufferCount(FReadHandle.Get(), FReadBufferCount);
    }
  }
  return FReadHandle.IsValid();
}

void THidDevice::CloseReadHandle() {
  ReadLock lock(FReadLock);
  CloseReadHandleLocked();
}

void THidDevice::CloseReadHandleLocked() {
  if (FReadHandle && FReadPending) {
    // Abort the read thread's outstanding read explicitly; its completion
    // still reaches the thread, which keeps the buffer alive until then.
    if (auto cancel = reinterpret_cast<CancelIoExFunction>(Kernel32Function("CancelIoEx")))
      cancel(FReadHandle.Get(), &FReadOverlap);
  }
  FReadHandle.Reset();
  FReadBufferCount = 0;
}

std::wstring THidDevice::ProductName() {
  if (FProductName.empty() && OpenMainHandle()) {
    wchar_t buffer[254] = {};  // 508 bytes
    if (HidApi.HidD_GetProductString && HidApi.HidD_GetProductString(FMainHandle.Get(), buffer, sizeof buffer))
      FProductName.assign(buffer, wcsnlen(buffer, sizeof buffer / sizeof buffer[0]));
    CloseMainHandle();
  }
  return FProductName;
}

PHIDP_PREPARSED_DATA THidDevice::PreparsedData() {
  if (!FPreparsedData && OpenMainHandle()) {
    if (HidApi.HidD_GetPreparsedData) HidApi.HidD_GetPreparsedData(FMainHandle.Get(), &FPreparsedData);
    CloseMainHandle();
  }
  return FPreparsedData;
}

void THidDevice::Caps(HIDP_CAPS& caps) {
  ZeroMemory(&caps, sizeof caps);
  PHIDP_PREPARSED_DATA data = PreparsedData();
  if (data && HidApi.HidP_GetCaps) HidApi.HidP_GetCaps(data, &caps);
}

bool THidDevice::Claim() {
  if (!FController || !FPlugged || FClaimed) return false;
  FClaimed = true;
  ++FController->FClaimedDeviceCount;
  --FController->FFreeDeviceCount;
  StartReadThread();
  return true;
}

void THidDevice::SetOnData(const THidDataEvent& handler) {
  if (!handler) StopReadThread();
  FOnData = handler;
  StartReadThread();
}

void THidDevice::SetThreadSleepTime(std::int32_t milliseconds) {
  if (milliseconds >= 10 && milliseconds <= 10000) FThreadSleepTime = milliseconds;
}

bool THidDevice::WriteReport(const void* buffer, unsigned count, unsigned* written) {
  if (written) *written = 0;
  ReapAbandonedWrites();
  if (!OpenMainHandle()) return false;
  if (FWrite && FWrite->held && FWrite->Done()) {
    // The device finished the write it held past its time-out.
    FWrite->held = false;
    DWORD done = 0;
    if (GetOverlappedResult(FMainHandle.Get(), &FWrite->overlapped, &done, FALSE)) FBackoff.Succeeded();
  }
  if (FWrite && !FWrite->Done()) {
    FBackoff.Skip();
    SetLastError(ERROR_RETRY);
    return false;
  }
  if (!FBackoff.Allows(GetTickCount64())) {
    SetLastError(ERROR_RETRY);
    return false;
  }
  if (!FWrite) FWrite = std::make_unique<PendingWrite>();
  if (!FWrite->done) {
    const DWORD error = GetLastError();
    FWrite.reset();
    SetLastError(error);
    return false;
  }
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  FWrite->bytes.assign(bytes, bytes + count);
  OVERLAPPED& overlapped = FWrite->overlapped;
  const HANDLE event = overlapped.hEvent;
  ZeroMemory(&overlapped, sizeof overlapped);
  overlapped.hEvent = event;
  ResetEvent(event);
  if (!WriteFile(FMainHandle.Get(), FWrite->bytes.data(), count, nullptr, &overlapped)) {
    const DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING) {
      SetEvent(event);
      SetLastError(error);
      return false;
    }
    if (WaitForSingleObject(event, WriteTimeoutMs) != WAIT_OBJECT_0) {
      CancelIoEx(FMainHandle.Get(), &overlapped);
      if (WaitForSingleObject(event, 50) != WAIT_OBJECT_0) {
        // Still held: it keeps the record until the device lets it go.
        FWrite->held = true;
        FBackoff.TimedOut(GetTickCount64());
        SetLastError(ERROR_TIMEOUT);
        return false;
      }
    }
  }
  DWORD done = 0;
  if (!GetOverlappedResult(FMainHandle.Get(), &overlapped, &done, FALSE)) {
    const DWORD error = GetLastError();
    if (error == ERROR_OPERATION_ABORTED) {
      // Our own cancel after the time-out.
      FBackoff.TimedOut(GetTickCount64());
      SetLastError(ERROR_TIMEOUT);
    } else {
      SetLastError(error);
    }
    return false;
  }
  FBackoff.Succeeded();
  if (written) *written = done;
  return true;
}

bool THidDevice::HandlesAnswer() {
  if (!HidApi.HidD_GetAttributes) return true;
  HIDD_ATTRIBUTES attributes = {};
  attributes.Size = sizeof attributes;
  if (FMainHandle) return HidApi.HidD_GetAttributes(FMainHandle.Get(), &attributes) != FALSE;
  ReadLock lock(FReadLock);
  if (FReadHandle) return HidApi.HidD_GetAttributes(FReadHandle.Get(), &attributes) != FALSE;
  return true;
}

void THidDevice::MarkUnplugged() {
  CloseMainHandle();
  {
    // One step for the read thread: it sees the handle closed and the device
    // unplugged together, so it never opens the path again.
    ReadLock lock(FReadLock);
    CloseReadHandleLocked();
    FPlugged = false;
  }
  if (OnUnplug) {
    OnUnplug(this);
    OnUnplug = THidPlugEvent();
  }
}

bool THidDevice::StartRead(void* buffer, unsigned count, LPOVERLAPPED_COMPLETION_ROUTINE routine) {
  ReadLock lock(FReadLock);
  if (!OpenReadHandle()) return false;
  ZeroMemory(&FReadOverlap, sizeof FReadOverlap);
  FReadOverlap.hEvent = this;  // free for the caller with ReadFileEx
  FReadPending = true;
  if (!ReadFileEx(FReadHandle.Get(), buffer, count, &FReadOverlap, routine)) {
    const DWORD error = GetLastError();
    FReadPending = false;
    SetLastError(error);
    return false;
  }
  return true;
}

std::uint32_t THidDevice::ReadResult() {
  ReadLock lock(FReadLock);
  if (!FReadHandle) return 0;
  DWORD bytes = 0;
  if (!GetOverlappedResult(FReadHandle.Get(), &FReadOverlap, &bytes, FALSE)) return 0;
  return bytes;
}

bool THidDevice::CancelPendingIo() {
  ReadLock lock(FReadLock);
  if (!FReadHandle) return false;
  auto cancel = reinterpret_cast<CancelIoFunction>(Kernel32Function("CancelIo"));
  if (!cancel) return false;
  return cancel(FReadHandle.Get()) != FALSE;
}

void THidDevice::StartReadThread() {
  if (FOnData && FPlugged && FClaimed && FReadWriteAccess && !FReadThread) {
    ReapRetiredThread(true);
    FReadThread = new THidDeviceReadThread(this);
    FReadThread->Start();
  }
}

void THidDevice::StopReadThread() {
  if (!FReadThread) return;
  if (FReadThread->Delivering()) {
    // Called from inside the thread's own hand-over (a handler's modal box
    // let an unplug through): the thread waits for this very call to
    // return, so waiting for it here would never end.
    RetireReadThread();
    return;
  }
  THidDeviceReadThread* thread = FReadThread;
  thread->Terminate();
  thread->WaitFor();  // carries out the thread's pending hand-overs
  FReadThread = nullptr;
  delete thread;
}

void THidDevice::RetireReadThread() {
  ReapRetiredThread(true);
  FReadThread->Terminate();
  FRetiredThread = FReadThread;
  FReadThread = nullptr;
}

void THidDevice::ReapRetiredThread(bool wait) {
  // A thread still inside its hand-over waits for the very call that would
  // wait for it here.
  if (!FRetiredThread || FRetiredThread->Delivering()) return;
  if (!wait && !FRetiredThread->Finished()) return;
  FRetiredThread->WaitFor();
  delete FRetiredThread;
  FRetiredThread = nullptr;
}
