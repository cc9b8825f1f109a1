// The one registry reader and writer. Keys and value names are wide texts; a
// key path may start with a backslash (taken as relative to the root). An
// empty value name stands for the key's default value.
#pragma once

#include <optional>
#include <string>

#include "support/Win32.h"

// A string value (REG_SZ or REG_EXPAND_SZ, not expanded) up to its first zero.
// Empty when the key or the value is missing, of another type or unreadable;
// never throws. `access` is what the key is opened with.
std::optional<std::wstring> RegReadText(HKEY root, const std::wstring& key, const std::wstring& name,
                                        REGSAM access = KEY_QUERY_VALUE);

enum class RegWriteResult { Written, NoKey, Refused };
// Opens root\key, creating it when missing, and writes a REG_SZ value.
RegWriteResult RegWriteText(HKEY root, const std::wstring& key, const std::wstring& name, const std::wstring& text,
                            REGSAM access = KEY_SET_VALUE);
// Opens root\key, creating it when missing, and deletes the value; a missing
// value is no failure. False when the key could be neither opened nor created.
bool RegDeleteValueIn(HKEY root, const std::wstring& key, const std::wstring& name, REGSAM access = KEY_SET_VALUE);
