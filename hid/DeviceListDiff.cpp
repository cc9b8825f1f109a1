#include "hid/DeviceListDiff.h"

#include <algorithm>

bool SameDevice(const DeviceIdentity& a, const DeviceIdentity& b) {
  return a.deviceId == b.deviceId && a.devicePath == b.devicePath;
}

bool ListedDeviceIsGone(const ListedDevice& listed, const std::vector<DeviceIdentity>& present) {
  if (!listed.plugged || !listed.handlesAnswer) return true;
  return std::none_of(present.begin(), present.end(),
                      [&](const DeviceIdentity& found) { return SameDevice(found, listed.identity); });
}

std::vector<std::size_t> ArrivedDevices(const std::vector<ListedDevice>& listed,
                                        const std::vector<DeviceIdentity>& present) {
  std::vector<std::size_t> arrived;
  for (std::size_t n = 0; n < present.size(); ++n) {
    const bool known = std::any_of(listed.begin(), listed.end(), [&](const ListedDevice& device) {
      // Matching this very entry, it is not gone when it is plugged and answers.
      return device.plugged && device.handlesAnswer && SameDevice(device.identity, present[n]);
    });
    if (!known) arrived.push_back(n);
  }
  return arrived;
}

DeviceListChange DiffDeviceList(const std::vector<ListedDevice>& listed, const std::vector<DeviceIdentity>& present) {
  DeviceListChange change;
  for (std::size_t i = 0; i < listed.size(); ++i)
    if (ListedDeviceIsGone(listed[i], present)) change.gone.push_back(i);
  change.arrived = ArrivedDevices(listed, present);
  return change;
}
