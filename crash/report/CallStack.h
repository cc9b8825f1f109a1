// Call-stack sections of the report and the callstack CRCs (the duplicate
// key). Frames come from the Win32 stack walker and the debug information;
// everything here works on the records alone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct StackFrame {
  std::uint64_t address = 0;
  // Debug information; a frame without a function name has none.
  std::string module;          // module file name (known even without debug info)
  std::uint64_t module_offset = 0;  // address minus the module's load address, when `module` is known
  std::string unit;            // source file, may be empty
  std::string function;
  std::uint32_t function_offset = 0;  // address minus the function's start
  int line = 0;                       // 0: unknown
  int line_offset = 0;                // line minus the function's first line
};

using StackFrames = std::vector<StackFrame>;

struct CallStackColumns {
  bool show_rel_addrs = true;  // ShowRelAddrs
  bool show_rel_lines = true;  // ShowRelLines
};

// "main thread ($1a2b)" when named, else "thread $1a2b".
std::string ThreadSectionTitle(const std::string& thread_name, std::uint32_t thread_id);

// One line per frame, newest first; columns separated by blanks, each padded
// to its widest entry; columns no frame knows are left out. Lines end with
// CR LF between them (no trailing line break).
std::string RenderCallStack(const StackFrames& frames, const CallStackColumns& columns);

// Byte-wise CRC-32 update with the standard table; no inversions.
std::uint32_t Crc32Update(std::uint32_t crc, const void* data, std::size_t size);

// The 32-bit item value of one frame: with a function name, its offset in
// the function and the names; without, its offset in its module and the
// module name, so the value is the same at every load address; the address
// itself only when not even the module is known.
std::uint32_t FrameItemValue(const StackFrame& frame);

// How many frames on top of a stack belong to the crash reporter itself: a
// thread walked while it waits in the reporter has the reporter's frames
// and the platform's waits (frames without a unit) on top, down to the last
// frame whose unit lies below `ownUnitPrefix` ("crash/") before the first
// frame of other code with a unit. Those frames name no bug and would give
// every exception reported through the same path the same key. 0 when the
// reporter is not on top, or when nothing else would remain.
std::size_t ReporterFramesOnTop(const StackFrames& frames, const std::string& ownUnitPrefix);

struct CallstackCrcs {
  std::uint32_t first = 0, second = 0, third = 0;
};

// `raising`: the raising thread's frames, topmost first; `others`: the other
// listed threads' stacks in section order.
CallstackCrcs ComputeCallstackCrcs(const StackFrames& raising, const std::vector<StackFrames>& others);
