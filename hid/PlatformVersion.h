// Which version-dependent HID functions a platform is asked for. Pure logic.
#pragma once

struct PlatformVersion {
  unsigned long platformId = 0;  // 2: the NT family
  unsigned long major = 0;
  unsigned long minor = 0;
};

inline constexpr unsigned long kPlatformNT = 2;

// HidD_GetInputReport and HidD_SetOutputReport. The minor test stands on its
// own, as the loader has always read it: 10.0 does not qualify.
inline bool WantsInputOutputReportFunctions(const PlatformVersion& v) {
  return v.platformId == kPlatformNT && v.major >= 5 && v.minor >= 1;
}
// HidP_GetExtendedAttributes and HidP_InitializeReportForID.
inline bool WantsExtendedReportFunctions(const PlatformVersion& v) {
  return v.platformId == kPlatformNT && v.major >= 5;
}
