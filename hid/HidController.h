// The HID device controller: the list of present HID devices, re-read at
// every device-nodes-changed broadcast and compared with the previous one,
// with events for arrivals and removals.
//
// Owns the platform bindings (loaded at creation, released at destruction),
// the device list and every listed device that is not claimed. Main thread
// only: notifications arrive as window messages and every event fires
// inside the message loop.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "hid/HidDevice.h"
#include "support/Delegate.h"
#include "support/Win32.h"
#include "toolkit/Component.h"
#include "toolkit/HiddenWindow.h"

class THidDeviceController : public TComponent {
 public:
  // Binds the libraries; when both load, creates the hidden notification
  // window and posts it the first change notification, so the first
  // enumeration runs from the message loop. Otherwise the controller stays
  // inert: no window, no devices, no events.
  explicit THidDeviceController(TComponent* owner);
  ~THidDeviceController() override;

  // Re-enumerates now: removals, arrivals, then OnDeviceChange when the list
  // changed (always after a notification with parameter -1).
  void DeviceChange();

  // Plain stores.
  THidPlugEvent OnArrival;
  THidPlugEvent OnRemoval;
  THidEnumerateEvent OnEnumerate;  // stored only

  // Writes compare function parts only: an equal function changes nothing.
  const TNotifyEvent& OnDeviceChange() const { return FOnDeviceChange; }
  void SetOnDeviceChange(const TNotifyEvent& handler);  // then re-enumerates
  const THidDataEvent& OnDeviceData() const { return FOnDeviceData; }
  void SetOnDeviceData(const THidDataEvent& handler);
  const THidDataErrorEvent& OnDeviceDataError() const { return FOnDeviceDataError; }
  void SetOnDeviceDataError(const THidDataErrorEvent& handler);
  const THidPlugEvent& OnDeviceUnplug() const { return FOnDeviceUnplug; }
  void SetOnDeviceUnplug(const THidPlugEvent& handler);

  std::int32_t DevThreadSleepTime() const { return FDevThreadSleepTime; }
  void SetDevThreadSleepTime(std::int32_t milliseconds);
  std::string Version() const { return "1.0.34"; }
  void SetVersion(const std::string& text) { FVersionDiscard = text; }

  // While the window description is applied: OnDeviceChange writes store
  // without re-enumerating.
  void SetLoading(bool loading) { FLoading = loading; }

  const std::vector<THidDevice*>& Devices() const { return FDevices; }
  std::int32_t FreeDeviceCount() const { return FFreeDeviceCount; }
  std::int32_t ClaimedDeviceCount() const { return FClaimedDeviceCount; }
  std::int32_t UnpluggedDeviceCount() const { return FUnpluggedDeviceCount; }
  bool InDeviceChange() const { return FInDeviceChange; }
  std::uint32_t ChangeParam() const { return FChangeParam; }
  HWND NotifyWindow() const { return FNotifyWindow ? FNotifyWindow->Handle() : nullptr; }
  const GUID& InterfaceGuid() const { return FInterfaceGuid; }

 private:
  friend class THidDevice;  // list position and counters on claim and destruction

  LRESULT NotifyWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  std::vector<std::unique_ptr<THidDevice>> EnumeratePresent();
  void FireArrival(THidDevice* device);
  void FireRemoval(THidDevice* device);
  void FireDeviceChange();
  void Recount();

  GUID FInterfaceGuid = {};
  TNotifyEvent FOnDeviceChange;
  THidDataEvent FOnDeviceData;
  THidDataErrorEvent FOnDeviceDataError;
  THidPlugEvent FOnDeviceUnplug;
  std::int32_t FDevThreadSleepTime = 100;
  std::string FVersionDiscard;
  std::vector<THidDevice*> FDevices;
  std::int32_t FFreeDeviceCount = 0;
  std::int32_t FClaimedDeviceCount = 0;
  std::int32_t FUnpluggedDeviceCount = 0;
  bool FInDeviceChange = false;
  std::uint32_t FChangeParam = 0;
  // A notification that came while a change was being handled (a handler's
  // modal box): the change is handled again once the running one ends.
  bool FChangePending = false;
  std::uint32_t FPendingParam = 0;
  std::unique_ptr<THiddenWindow> FNotifyWindow;
  bool FHidLoaded = false;
  bool FLoading = false;
};
