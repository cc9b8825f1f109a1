// The symbol table resource of a loaded module (Win32 edge, no platform
// header here). qex_embed_symbols (cmake/QexSymbols.cmake) links the
// resource into a program and fills it in after linking.
#pragma once

#include "crash/disasm/SymbolTable.h"

// Name of the RCDATA resource that holds the table.
inline constexpr const char kSymbolResourceName[] = "QEXSYMBOLS";

// Finds the table of the module loaded at `moduleBase` (an HMODULE). The
// bytes are the module's own mapped resource and live as long as it stays
// loaded. Allocates nothing, so it may run on the crash path. False when the
// module has no table or the table does not check out.
bool LoadModuleSymbols(const void* moduleBase, SymbolTable& table);

// The table of the program's own executable, loaded on first use; empty when
// the program was linked without one. Call it once at start-up so that the
// crash path never runs the first-use initialisation.
const SymbolTable& ProgramSymbols();
