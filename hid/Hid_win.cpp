#include "hid/Hid.h"

#include "hid/ModuleLoader.h"

THidFunctions HidApi;

namespace {

ScopedModule g_hidModule;
int g_boundSlots = 0;

}  // namespace

PlatformVersion RunningPlatformVersion() {
  OSVERSIONINFOA info = {};
  info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!GetVersionExA(&info)) return PlatformVersion{};
#pragma GCC diagnostic pop
  return PlatformVersion{info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion};
}

bool LoadHidLibrary() { return LoadHidLibraryFile(kHidLibraryName, RunningPlatformVersion()); }

bool LoadHidLibraryFile(const char* fileName, const PlatformVersion& version) {
  if (!OpenModule(g_hidModule, fileName)) return false;
  bool ok = true;
  int slots = 0;
  const bool nt51 = WantsInputOutputReportFunctions(version);
  const bool nt5 = WantsExtendedReportFunctions(version);
#define QEX_HID_FN(name) (BindSymbol(HidApi.name, g_hidModule.Get(), #name, ok), ++slots);
#define QEX_HID_NT51(name) if (nt51) QEX_HID_FN(name)
#define QEX_HID_NT5(name) if (nt5) QEX_HID_FN(name)
#define QEX_HID_ALIAS(slot, name) (BindSymbol(HidApi.slot, g_hidModule.Get(), #name, ok), ++slots);
#include "hid/HidNames.h"
#undef QEX_HID_FN
#undef QEX_HID_NT51
#undef QEX_HID_NT5
#undef QEX_HID_ALIAS
  if (!ok) {
    UnloadHidLibrary();
    return false;
  }
  g_boundSlots = slots;
  return true;
}

void UnloadHidLibrary() {
  CloseModule(g_hidModule);
  HidApi = THidFunctions{};
  g_boundSlots = 0;
}

bool HidLibraryLoaded() { return g_hidModule.IsValid(); }

int HidBoundSlotCount() { return g_boundSlots; }
