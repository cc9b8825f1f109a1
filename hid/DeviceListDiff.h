// Which listed HID devices are gone and which enumerated ones are new, when
// the controller compares its list with a fresh enumeration. Plain data in,
// indices out: no platform call, so the rules are tested natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// What names one device interface across enumerations.
struct DeviceIdentity {
  std::uint32_t deviceId = 0;  // the device-instance handle
  std::string devicePath;      // the interface path
};

// A device in the controller's list, as the diff needs to see it.
struct ListedDevice {
  DeviceIdentity identity;
  bool plugged = true;
  // False when an open handle of the object no longer answers: the device
  // was removed (and perhaps plugged in again) since the handle was opened.
  bool handlesAnswer = true;
};

// The device-instance handle names a device for as long as the system runs
// on Windows; Wine hands them out afresh in enumeration order, so a device
// added before another takes over its number. The interface path does not
// move: both must agree.
bool SameDevice(const DeviceIdentity& a, const DeviceIdentity& b);

// A listed device is gone unless it is plugged, its handles still answer and
// the enumeration shows it. An unplugged object never comes back, so one that
// stays listed (its holder keeps it) is gone again at every change; a device
// replugged into the same port is a new object.
bool ListedDeviceIsGone(const ListedDevice& listed, const std::vector<DeviceIdentity>& present);

// The enumerated devices that no listed device still stands for (one that is
// not gone), as indices into the enumeration, in its order.
std::vector<std::size_t> ArrivedDevices(const std::vector<ListedDevice>& listed,
                                        const std::vector<DeviceIdentity>& present);

struct DeviceListChange {
  std::vector<std::size_t> gone;     // indices into the listed devices, ascending
  std::vector<std::size_t> arrived;  // indices into the enumeration, in its order
};

// Both at once, against the same list.
DeviceListChange DiffDeviceList(const std::vector<ListedDevice>& listed, const std::vector<DeviceIdentity>& present);
