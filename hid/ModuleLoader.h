// Run-time library loading for the platform bindings. Main thread only.
//
// Libraries load from the system folder alone: a bare-name load searches the
// program's own folder first, so a planted DLL beside the .exe would run
// inside the agent.
#pragma once

#include "support/ScopedHandle.h"
#include "support/Win32.h"

// Loads `fileName` from the system folder into an empty slot; true when the
// slot then holds a library (also when it already did).
bool OpenModule(ScopedModule& slot, const char* fileName);
// Frees the library of a filled slot and empties it.
void CloseModule(ScopedModule& slot);
FARPROC ModuleSymbol(HMODULE library, const char* name);
// As ModuleSymbol; `ok` stays true only when it was true and the name was found.
FARPROC ModuleSymbolChecked(HMODULE library, const char* name, bool& ok);

// Fills a typed slot; the slot's type comes from the platform declaration.
template <class Function>
void BindSymbol(Function& slot, HMODULE library, const char* name, bool& ok) {
  slot = reinterpret_cast<Function>(ModuleSymbolChecked(library, name, ok));
}
