// Run-time bindings of the platform's device-setup library ("SetupApi.dll").
// Loaded with a count, on the main thread, by the device controller.
#pragma once

#include "support/Win32.h"

// Each A/W pair has three slots: nameA, nameW and a neutral nameT filled from
// the ANSI form (the bare name is the headers' own A/W macro).
struct TSetupFunctions {
#define QEX_SETUP_AW(name)                   \
  decltype(&::name##A) name##A = nullptr;    \
  decltype(&::name##W) name##W = nullptr;    \
  decltype(&::name##A) name##T = nullptr;
#define QEX_SETUP_ONE(name) decltype(&::name) name = nullptr;
#include "hid/SetupApiNames.h"
#undef QEX_SETUP_AW
#undef QEX_SETUP_ONE
};

extern TSetupFunctions SetupApi;

inline constexpr char kSetupLibraryName[] = "SetupApi.dll";

// Counted: only the first successful call loads; a failed first load leaves
// the count as it was. Any missing name fails the whole load.
bool LoadSetupLibrary();
bool LoadSetupLibraryFile(const char* fileName);
void UnloadSetupLibrary();
bool SetupLibraryLoaded();
int SetupLibraryLoadCount();
// Names and slots of the binding table.
int SetupBoundNameCount();
int SetupBoundSlotCount();
