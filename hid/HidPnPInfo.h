// Plug-and-play information of one enumerated HID interface: built once
// from the enumeration's device-information set and never changed. Owned by
// the device created from it. Main thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/Delegate.h"
#include "support/Win32.h"

class THidPnPInfo : public TObject {
 public:
  // Reads the 26 registry properties of `info` in `set`; a failed query
  // leaves its field empty or 0.
  THidPnPInfo(HDEVINFO set, const SP_DEVINFO_DATA& info, const std::string& devicePath);

  std::uint32_t DeviceID = 0;
  std::string DevicePath;
  std::uint32_t Capabilities = 0;
  std::string ClassName;
  std::string ClassGuid;
  std::vector<std::string> CompatibleIds;
  std::uint32_t ConfigFlags = 0;
  std::string DeviceDesc;
  std::string Driver;
  std::string FriendlyName;
  std::vector<std::string> HardwareIds;
  std::vector<std::string> LowerFilters;
  std::string Mfg;
  std::vector<std::string> UpperFilters;
  std::string Address;
  std::uint32_t BusNumber = 0;
  std::string BusTypeGuid;
  std::string Characteristics;
  std::uint32_t DevType = 0;
  std::string EnumeratorName;
  std::uint32_t Exclusive = 0;
  std::uint32_t LegacyBusType = 0;
  std::string LocationInformation;
  std::string PhysicalDeviceObjectName;
  std::string SecuritySds;
  std::string Service;
  std::uint32_t UiNumber = 0;
  std::string DevicePowerData;

 private:
  SP_DEVINFO_DATA FDeviceInfo = {};
};
