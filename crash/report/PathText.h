// Pieces of the platform's file paths as text ('\' or '/' between folders).
// Portable.
#pragma once

#include <string>

// The last part of a path: the file name with its extension.
std::string FileNameOf(const std::string& path);
std::wstring FileNameOf(const std::wstring& path);

// A file name without its last extension ("QEXJoystick.exe" -> "QEXJoystick").
std::string WithoutExtension(const std::string& name);
