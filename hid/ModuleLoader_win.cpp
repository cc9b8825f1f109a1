#include "hid/ModuleLoader.h"

#include <string>

namespace {

HMODULE LoadFromSystemFolder(const char* fileName) {
  HMODULE library = LoadLibraryExA(fileName, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (library || GetLastError() != ERROR_INVALID_PARAMETER) return library;
  // Systems without the search flags refuse it as a parameter: name the
  // system folder in full instead.
  char folder[MAX_PATH];
  const UINT length = GetSystemDirectoryA(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  const std::string path = std::string(folder, length) + "\\" + fileName;
  return LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace

bool OpenModule(ScopedModule& slot, const char* fileName) {
  if (!slot) slot.Reset(LoadFromSystemFolder(fileName));
  return slot.IsValid();
}

void CloseModule(ScopedModule& slot) { slot.Reset(); }

FARPROC ModuleSymbol(HMODULE library, const char* name) {
  return library ? GetProcAddress(library, name) : nullptr;
}

FARPROC ModuleSymbolChecked(HMODULE library, const char* name, bool& ok) {
  FARPROC function = ModuleSymbol(library, name);
  ok = ok && function != nullptr;
  return function;
}
