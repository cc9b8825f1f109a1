// The agent's small platform utilities: own path and version, registry
// strings under a root key, message boxes. None keeps state.
#pragma once

#include <string>

#include "support/Hex.h"
#include "support/Text.h"
#include "support/TextCodec.h"
#include "support/Win32.h"

// Full path of the program's own file (at most 260 characters), or "".
std::string GetModulePath();
// FileVersion string of the file's first translation, as stored; "" if none.
std::string GetFileVersion(const std::string& path);
std::string GetOwnFileVersion();

// Opens (creating when missing) root\key and writes a REG_SZ value. False when
// the key can be neither opened nor created; a refused write throws
// ERegistryException "Failed to set data for '<name>'".
bool RegWriteString(HKEY root, const std::string& key, const std::string& name, const std::string& text);
// Opens root\key without creating it; any failure gives "" and never throws.
// REG_SZ and REG_EXPAND_SZ (unexpanded) read up to the first zero byte.
std::string RegReadString(HKEY root, const std::string& key, const std::string& name);
// Opens (creating when missing) root\key and deletes the value; a missing
// value is no failure. The result says whether the key was opened.
bool RegRemoveValue(HKEY root, const std::string& key, const std::string& name);

// Modal boxes; texts are code-page-936 texts, widened for the screen.
int ShowMessageBox(HWND owner, const std::string& text, const std::string& caption, unsigned flags);
void ShowErrorBox(HWND owner, const std::string& text, const std::string& caption);
