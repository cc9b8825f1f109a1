// Run-time bindings of the platform's HID class library ("HID.dll").
// Loaded and unloaded on the main thread by the device controller; a read
// thread calls HidP_GetCaps, so the library stays loaded while any runs.
#pragma once

#include "hid/PlatformVersion.h"
#include "support/Win32.h"

struct THidFunctions {
#define QEX_HID_FN(name) decltype(&::name) name = nullptr;
#define QEX_HID_NT51(name) QEX_HID_FN(name)
#define QEX_HID_NT5(name) QEX_HID_FN(name)
#define QEX_HID_ALIAS(slot, name) decltype(&::name) slot = nullptr;
#include "hid/HidNames.h"
#undef QEX_HID_FN
#undef QEX_HID_NT51
#undef QEX_HID_NT5
#undef QEX_HID_ALIAS
};

// The slots; empty while the library is not loaded.
extern THidFunctions HidApi;

inline constexpr char kHidLibraryName[] = "HID.dll";

// Loads the library and resolves every slot the running platform asks for;
// any missing name unloads it again and gives false.
bool LoadHidLibrary();
bool LoadHidLibraryFile(const char* fileName, const PlatformVersion& version);
void UnloadHidLibrary();
bool HidLibraryLoaded();
// Number of slots the last successful load filled (for diagnostics).
int HidBoundSlotCount();
PlatformVersion RunningPlatformVersion();
