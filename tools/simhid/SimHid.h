// The harness of the simulated console at the driver level: installs our
// HID minidriver into the current Wine prefix, plugs and unplugs its devices
// as root-enumerated devices through the platform's device-setup functions,
// feeds them input reports and records the output reports they receive.
// Programs under test reach these devices through the platform's own
// hid.dll, setupapi.dll and HID class driver.
//
// Each device has a slot (1..16) with its own pipe; Replug brings the same
// slot back as the same device instance, as a console replugged into the same
// port. One harness per prefix at a time. Methods are called from one
// thread; each slot's pipe connections are served by threads of their own.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "support/Win32.h"

namespace simhid {

struct DeviceProfile {
  WORD vendorId = 0x0483;
  WORD productId = 0x5750;
  WORD versionNumber = 0x0100;
  std::wstring product = L"QEX PROPRE CONTROLLER";
  std::wstring serial = L"MRV4000-0001";
  std::wstring manufacturer = L"QEX";
  WORD inputLength = 33;   // report ID byte included
  WORD outputLength = 33;
  WORD usagePage = 0xFF00;
  WORD usage = 0x0001;
  BYTE reportId = 0;       // 0: no report IDs in the descriptor
  bool productReadable = true;
};

using Report = std::vector<std::uint8_t>;

class TSimHid {
 public:
  TSimHid();
  // Unplugs every device, without a broadcast.
  ~TSimHid();
  TSimHid(const TSimHid&) = delete;
  TSimHid& operator=(const TSimHid&) = delete;

  // Copies the driver (a Windows path: the .sys, or the build's drivers
  // folder, whose x86 or x64 driver is taken as the system's architecture
  // asks) into the prefix's drivers folder and writes its INF; false with
  // `error` set when that fails.
  bool Install(const std::string& driverPath, std::string* error);

  // Plugs a new device (a new slot, a new instance) and waits until the HID
  // class lists it; its serial number (the slot), 0 on failure (see
  // LastError). Broadcasts the change unless `broadcast` is false.
  DWORD Plug(const DeviceProfile& profile, bool broadcast = true);
  // Removes the device (surprise removal, then removal) and waits until its
  // interface is gone.
  bool Unplug(DWORD serial, bool broadcast = true);
  // Plugs the unplugged device of that slot in again: the same instance and
  // interface path.
  bool Replug(DWORD serial, bool broadcast = true);
  // SendMessageTimeout(HWND_BROADCAST, WM_DEVICECHANGE, 7), as the platform
  // does after a device is added or removed; sent once more by Plug, Unplug
  // and Replug so that no test depends on the platform's own timing.
  static void Broadcast();

  // Feeds one input report (report ID first) to the device; false when the
  // device is not connected.
  bool SendInput(DWORD serial, const Report& report);
  // Holds every output report the device receives (the write does not
  // complete) until called again with false.
  bool StallWrites(DWORD serial, bool stall);
  // A console that holds every output report and completes the write's
  // cancel at once: each write is held for `ms` (pick a little more than
  // the writer's time-out) and then completes as cancelled. The platform's
  // class driver passes no cancel of a write down to the device, so the
  // device times it instead. 0 takes reports again.
  bool CancelWritesAfter(DWORD serial, DWORD ms);
  // Output reports the device received so far, oldest first, report ID
  // first and as long as the device's output report.
  std::vector<Report> OutputReports(DWORD serial) const;
  bool WaitForOutputReports(DWORD serial, std::size_t count, int timeoutMs) const;
  // Input reports since the device was last plugged: completed to the class
  // driver's reads (what the platform then hands to every open handle),
  // dropped from the device's own queue (it holds 1024 while the class
  // driver reads none: the stack's own loss, not a reader's), still queued.
  struct InputCounts {
    std::uint32_t completed = 0, dropped = 0, queued = 0;
  };
  // Asks the device, after every input report fed before; false when it
  // does not answer.
  bool QueryInputs(DWORD serial, InputCounts* counts);
  // Waits until the device's queue is empty, every report fed so far
  // completed or dropped; false on time-out (scaled by the caller).
  bool WaitForInputsSettled(DWORD serial, InputCounts* counts, int timeoutMs);
  // The input reports the device dropped from its own queue since it was
  // last plugged, oldest first, report ID first.
  std::vector<Report> DroppedInputs(DWORD serial) const;
  // The HID interface path of the device while it is plugged.
  std::string DevicePath(DWORD serial) const;

  const std::string& LastError() const { return lastError_; }

 private:
  struct Slot;
  Slot* Find(DWORD serial) const;
  bool Start(Slot& slot);
  // Registers the slot's root device and installs our driver on it.
  bool AddDevice(Slot& slot);
  bool WaitForInterface(Slot& slot, bool present, int timeoutMs);
  // Removes the slot's device, again if it fails, and waits until its
  // interface is gone and its driver has let go of the slot's connections.
  bool RemoveDevice(Slot& slot);

  std::string infPath_;
  std::string lastError_;
  std::map<DWORD, std::unique_ptr<Slot>> slots_;
  std::set<DWORD> wedged_;  // slots a plug failed on: not tried again
};

}  // namespace simhid
