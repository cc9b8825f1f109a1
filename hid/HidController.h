// Placeholder of the HID device controller: present in the window and inert
// (no libraries bound, no devices). The real controller replaces this file
// and keeps its interface.
#pragma once

#include <cstdint>
#include <string>

#include "support/Delegate.h"
#include "toolkit/Component.h"

class THidDevice;

using THidPlugEvent = Event<void(THidDevice* HidDev)>;
using THidDataEvent = Event<void(THidDevice* HidDev, std::uint8_t ReportID, const std::uint8_t* Data, std::uint16_t Size)>;

class THidDevice {
 public:
  std::wstring ProductName() { return std::wstring(); }
  bool Claim() { return false; }
  void SetOnData(const THidDataEvent&) {}
  bool WriteReport(const void*, unsigned, unsigned* written) {
    if (written) *written = 0;
    return false;
  }
  std::uint16_t VendorID() const { return 0; }
  std::uint16_t ProductID() const { return 0; }
};

class THidDeviceController : public TComponent {
 public:
  explicit THidDeviceController(TComponent* owner) : TComponent(owner) {}
  THidPlugEvent OnArrival, OnDeviceUnplug;
};
