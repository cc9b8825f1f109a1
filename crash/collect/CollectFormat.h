// Text forms of the sections that the Win32 side gathers: registers, stack
// dump, plug-in tables. Pure code, tested natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

using Row = std::vector<std::string>;

// Rows as columns separated by two blanks, each padded to its widest entry
// (code points); trailing blanks cut; lines joined by CR LF.
std::string RenderColumns(const std::vector<Row>& rows);

// "RAX: 0000000000000001  RBX: ..." with `perLine` registers a line.
std::string FormatRegisters(const std::vector<std::pair<std::string, std::uint64_t>>& registers, int digits,
                            int perLine);
// The set arithmetic and control flags of EFLAGS: "CF PF ZF IF".
std::string FlagNames(std::uint32_t flags);

// 16 bytes a line: address, the bytes in hexadecimal, the printable ASCII
// characters ("." for the others).
std::string FormatStackDump(const unsigned char* bytes, std::size_t size, std::uint64_t address, int digits);

// "idle", "below normal", "normal", "above normal", "high", "realtime"
// from a process's base priority; the number itself for other values.
std::string PriorityClassName(int basePriority);

// Whether a command line holds anything after the program's name (quoted or
// not).
bool CommandLineHasArguments(const std::wstring& commandLine);

// Hexadecimal with at least `digits` digits, upper case (addresses).
std::string HexAddress(std::uint64_t value, int digits);

// The tool chain that compiled this file, e.g. "GCC 12-posix (MinGW-w64 i686)".
std::string ToolChainName();
