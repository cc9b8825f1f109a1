#include "hid/HidController.h"

#include <cstddef>
#include <algorithm>

#include "hid/DeviceListDiff.h"
#include "hid/Hid.h"
#include "hid/SetupApi.h"
#include "support/ScopedHandle.h"

namespace {

constexpr WPARAM kDevNodesChanged = 0x0007;  // DBT_DEVNODES_CHANGED
constexpr std::uint32_t kFirstNotification = 0xFFFFFFFFu;

// The standard HID device-interface class, for a controller without HID.dll.
constexpr GUID kHidInterfaceClass = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

class ScopedFlag {
 public:
  explicit ScopedFlag(bool& flag) : flag_(flag) { flag_ = true; }
  ~ScopedFlag() { flag_ = false; }
  ScopedFlag(const ScopedFlag&) = delete;
  ScopedFlag& operator=(const ScopedFlag&) = delete;

 private:
  bool& flag_;
};

struct DeviceInfoSetTraits {
  using Handle = HDEVINFO;
  static Handle Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Handle h) {
    if (SetupApi.SetupDiDestroyDeviceInfoList) SetupApi.SetupDiDestroyDeviceInfoList(h);
  }
};
using ScopedDeviceInfoSet = ScopedHandle<DeviceInfoSetTraits>;

DeviceIdentity IdentityOf(const THidDevice& device) {
  return DeviceIdentity{device.PnPInfo().DeviceID, device.PnPInfo().DevicePath};
}

// `askHandles`: whether to ask the device's open handles if they still answer.
ListedDevice ListingOf(THidDevice& device, bool askHandles) {
  ListedDevice listed;
  listed.identity = IdentityOf(device);
  listed.plugged = device.Plugged();
  // An unplugged object's handles are closed: nothing to ask.
  listed.handlesAnswer = !askHandles || !listed.plugged || device.HandlesAnswer();
  return listed;
}

}  // namespace

THidDeviceController::THidDeviceController(TComponent* owner) : TComponent(owner) {
  const bool setupLoaded = LoadSetupLibrary();
  if (setupLoaded) FHidLoaded = LoadHidLibrary();
  if (FHidLoaded) {
    HidApi.HidD_GetHidGuid(&FInterfaceGuid);
    FNotifyWindow = std::make_unique<THiddenWindow>(
        [this](UINT message, WPARAM wParam, LPARAM lParam) { return NotifyWindowProc(message, wParam, lParam); });
    PostMessageA(FNotifyWindow->Handle(), WM_DEVICECHANGE, kDevNodesChanged, static_cast<LPARAM>(-1));
  } else {
    // Without HID.dll nothing calls the setup functions: give our load back
    // now rather than holding it for the controller's whole life.
    if (setupLoaded) UnloadSetupLibrary();
    FInterfaceGuid = kHidInterfaceClass;
  }
}

THidDeviceController::~THidDeviceController() {
  FOnDeviceChange = TNotifyEvent();
  FOnDeviceUnplug = THidPlugEvent();
  OnEnumerate = THidEnumerateEvent();
  FNotifyWindow.reset();
  // Detach every device first: a claimed device's unplug handler may give
  // it back, and it must not look for a place in a list being taken apart.
  std::vector<THidDevice*> devices;
  devices.swap(FDevices);
  for (THidDevice* device : devices) {
    device->SetController(nullptr);
    if (device->Claimed()) {
      device->MarkUnplugged();  // its holder's OnUnplug stops its read thread
      // A holder that keeps the handler would leave its read thread running
      // into the libraries unloaded below, and so into unmapped code.
      device->StopReadThread();
      device->ReapRetiredThread(true);
    } else {
      delete device;
    }
  }
  if (FHidLoaded) UnloadSetupLibrary();
  UnloadHidLibrary();
}

LRESULT THidDeviceController::NotifyWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DEVICECHANGE && wParam == kDevNodesChanged) {
    if (FInDeviceChange) {
      // Dropping it would miss an unplug or a replug for good.
      FChangePending = true;
      FPendingParam = static_cast<std::uint32_t>(lParam);
    } else {
      FChangeParam = static_cast<std::uint32_t>(lParam);
      ScopedFlag inChange(FInDeviceChange);
      DeviceChange();
      while (FChangePending) {
        FChangePending = false;
        FChangeParam = FPendingParam;
        DeviceChange();
      }
    }
  }
  return FNotifyWindow ? FNotifyWindow->Default(message, wParam, lParam)
                       : DefWindowProcA(nullptr, message, wParam, lParam);
}

std::vector<std::unique_ptr<THidDevice>> THidDeviceController::EnumeratePresent() {
  std::vector<std::unique_ptr<THidDevice>> found;
  if (!HidLibraryLoaded() || !SetupApi.SetupDiGetClassDevsA) return found;
  ScopedDeviceInfoSet set(SetupApi.SetupDiGetClassDevsA(&FInterfaceGuid, nullptr, nullptr,
                                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
  if (!set) return found;

  // A member whose detail cannot be read is skipped: the index always
  // advances, so no member is queried without end.
  for (DWORD index = 0;; ++index) {
    SP_DEVICE_INTERFACE_DATA interfaceData = {};
    interfaceData.cbSize = sizeof interfaceData;
    if (!SetupApi.SetupDiEnumDeviceInterfaces(set.Get(), nullptr, &FInterfaceGuid, index, &interfaceData)) break;

    SP_DEVINFO_DATA deviceInfo = {};
    deviceInfo.cbSize = sizeof deviceInfo;
    DWORD required = 0;
    SetupApi.SetupDiGetDeviceInterfaceDetailA(set.Get(), &interfaceData, nullptr, 0, &required, &deviceInfo);
    if (required == 0 || GetLastError() != ERROR_INSUFFICIENT_BUFFER) continue;
    if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) continue;

    std::vector<char> buffer(required + 1, 0);  // one more: the path always ends in a zero
    auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!SetupApi.SetupDiGetDeviceInterfaceDetailA(set.Get(), &interfaceData, detail, required, nullptr,
                                                   &deviceInfo))
      continue;
    const std::string path(buffer.data() + offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath));
    try {
      auto info = std::make_unique<THidPnPInfo>(set.Get(), deviceInfo, path);
      found.push_back(std::make_unique<THidDevice>(std::move(info), this));
    } catch (...) {
      // A device that cannot be opened or identified is left out silently.
    }
  }
  return found;
}

void THidDeviceController::DeviceChange() {
  bool changed = FChangeParam == kFirstNotification;
  // What the devices let go of since the last change: read threads retired
  // inside their own hand-over, writes the platform has completed since.
  for (THidDevice* device : FDevices) device->ReapRetiredThread(false);
  THidDevice::ReapAbandonedWrites();
  std::vector<std::unique_ptr<THidDevice>> present = EnumeratePresent();
  std::vector<DeviceIdentity> presentIds;
  presentIds.reserve(present.size());
  for (const auto& entry : present) presentIds.push_back(IdentityOf(*entry));

  // Removals, last to first. Handlers may give devices back, so the index is
  // checked against the list as it is now.
  for (std::size_t i = FDevices.size(); i-- > 0;) {
    if (i >= FDevices.size()) continue;
    THidDevice* device = FDevices[i];
    if (!ListedDeviceIsGone(ListingOf(*device, true), presentIds)) continue;
    device->MarkUnplugged();
    FireRemoval(device);
    if (!device->Claimed()) {
      auto it = std::find(FDevices.begin(), FDevices.end(), device);
      if (it != FDevices.end()) {
        FDevices.erase(it);
        device->SetController(nullptr);
        delete device;
      }
    }
    changed = true;
  }

  // Arrivals, in enumeration order: what no device left plugged in the list
  // stands for. Those left have just been asked, or are fresh objects given
  // back by a handler, whose handles are not open.
  std::vector<ListedDevice> remaining;
  remaining.reserve(FDevices.size());
  for (THidDevice* device : FDevices) remaining.push_back(ListingOf(*device, false));
  const std::vector<std::size_t> arrived = ArrivedDevices(remaining, presentIds);
  // The rest stand for listed devices: their fresh objects go first.
  for (std::size_t n = 0; n < present.size(); ++n) {
    if (std::find(arrived.begin(), arrived.end(), n) != arrived.end()) continue;
    present[n]->SetController(nullptr);
    present[n].reset();
  }
  for (std::size_t n : arrived) {
    THidDevice* device = present[n].release();
    FDevices.push_back(device);
    changed = true;
    FireArrival(device);
  }

  Recount();
  if (changed) FireDeviceChange();
}

void THidDeviceController::Recount() {
  FFreeDeviceCount = FClaimedDeviceCount = FUnpluggedDeviceCount = 0;
  for (THidDevice* device : FDevices) {
    if (!device->Claimed()) ++FFreeDeviceCount;
    else ++FClaimedDeviceCount;
    if (!device->Plugged()) ++FUnpluggedDeviceCount;
  }
  FClaimedDeviceCount -= FUnpluggedDeviceCount;
}

void THidDeviceController::FireArrival(THidDevice* device) {
  if (!OnArrival) return;
  device->SetInControllerEvent(true);
  OnArrival(device);
  device->SetInControllerEvent(false);
}

void THidDeviceController::FireRemoval(THidDevice* device) {
  if (!OnRemoval) return;
  device->SetInControllerEvent(true);
  OnRemoval(device);
  device->SetInControllerEvent(false);
}

void THidDeviceController::FireDeviceChange() {
  if (FOnDeviceChange) FOnDeviceChange(this);
}

void THidDeviceController::SetOnDeviceChange(const TNotifyEvent& handler) {
  if (handler.SameFunction(FOnDeviceChange)) return;
  FOnDeviceChange = handler;
  if (!FLoading) DeviceChange();
}

void THidDeviceController::SetOnDeviceData(const THidDataEvent& handler) {
  if (handler.SameFunction(FOnDeviceData)) return;
  for (std::size_t i = 0; i < FDevices.size(); ++i) {
    THidDevice* device = FDevices[i];
    if (device->OnData().SameFunction(FOnDeviceData)) device->SetOnData(handler);
  }
  FOnDeviceData = handler;
}

void THidDeviceController::SetOnDeviceDataError(const THidDataErrorEvent& handler) {
  if (handler.SameFunction(FOnDeviceDataError)) return;
  for (THidDevice* device : FDevices)
    if (device->OnDataError.SameFunction(FOnDeviceDataError)) device->OnDataError = handler;
  FOnDeviceDataError = handler;
}

void THidDeviceController::SetOnDeviceUnplug(const THidPlugEvent& handler) {
  if (handler.SameFunction(FOnDeviceUnplug)) return;
  for (THidDevice* device : FDevices)
    if (device->OnUnplug.SameFunction(FOnDeviceUnplug)) device->OnUnplug = handler;
  FOnDeviceUnplug = handler;
}

void THidDeviceController::SetDevThreadSleepTime(std::int32_t milliseconds) {
  if (milliseconds == FDevThreadSleepTime) return;
  for (THidDevice* device : FDevices)
    if (device->ThreadSleepTime() == FDevThreadSleepTime) device->SetThreadSleepTime(milliseconds);
  FDevThreadSleepTime = milliseconds;
}
