#include "crash/disasm/SymbolResource.h"

#include "support/Win32.h"

bool LoadModuleSymbols(const void* moduleBase, SymbolTable& table) {
  HMODULE module = static_cast<HMODULE>(const_cast<void*>(moduleBase));
  HRSRC resource = ::FindResourceA(module, kSymbolResourceName, MAKEINTRESOURCEA(10) /* RT_RCDATA */);
  if (!resource) return false;
  DWORD size = ::SizeofResource(module, resource);
  // Resource handles of a loaded module need no freeing: they are views of
  // its image.
  HGLOBAL loaded = ::LoadResource(module, resource);
  const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
  if (!bytes || size == 0) return false;
  return table.Parse(static_cast<const std::uint8_t*>(bytes), size);
}

const SymbolTable& ProgramSymbols() {
  static const SymbolTable table = [] {
    SymbolTable loaded;
    LoadModuleSymbols(::GetModuleHandleA(nullptr), loaded);
    return loaded;
  }();
  return table;
}
