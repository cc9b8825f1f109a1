#include "hid/SetupApi.h"

#include "hid/ModuleLoader.h"

TSetupFunctions SetupApi;

namespace {

ScopedModule g_setupModule;
int g_loadCount = 0;

}  // namespace

bool LoadSetupLibrary() { return LoadSetupLibraryFile(kSetupLibraryName); }

bool LoadSetupLibraryFile(const char* fileName) {
  ++g_loadCount;
  if (g_loadCount > 1) return true;
  if (!OpenModule(g_setupModule, fileName)) {
    --g_loadCount;
    return false;
  }
  bool ok = true;
#define QEX_SETUP_AW(name)                                    \
  BindSymbol(SetupApi.name##A, g_setupModule.Get(), #name "A", ok); \
  BindSymbol(SetupApi.name##W, g_setupModule.Get(), #name "W", ok); \
  BindSymbol(SetupApi.name##T, g_setupModule.Get(), #name "A", ok);
#define QEX_SETUP_ONE(name) BindSymbol(SetupApi.name, g_setupModule.Get(), #name, ok);
#include "hid/SetupApiNames.h"
#undef QEX_SETUP_AW
#undef QEX_SETUP_ONE
  if (!ok) {
    UnloadSetupLibrary();
    return false;
  }
  return true;
}

void UnloadSetupLibrary() {
  --g_loadCount;
  if (g_loadCount <= 0) {
    g_loadCount = 0;
    CloseModule(g_setupModule);
    SetupApi = TSetupFunctions{};
  }
}

bool SetupLibraryLoaded() { return g_setupModule.IsValid(); }

int SetupLibraryLoadCount() { return g_loadCount; }

int SetupBoundNameCount() {
  int names = 0;
#define QEX_SETUP_AW(name) names += 2;
#define QEX_SETUP_ONE(name) names += 1;
#include "hid/SetupApiNames.h"
#undef QEX_SETUP_AW
#undef QEX_SETUP_ONE
  return names;
}

int SetupBoundSlotCount() {
  int slots = 0;
#define QEX_SETUP_AW(name) slots += 3;
#define QEX_SETUP_ONE(name) slots += 1;
#include "hid/SetupApiNames.h"
#undef QEX_SETUP_AW
#undef QEX_SETUP_ONE
  return slots;
}
