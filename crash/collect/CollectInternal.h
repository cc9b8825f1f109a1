// Pieces of the Win32 side of bug-report building shared between its files.
// Not for use outside crash/collect.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "crash/collect/BugReportCollector.h"
#include "crash/report/CallStack.h"
#include "crash/report/PathText.h"
#include "crash/report/ReportSettings.h"
#include "support/ScopedHandle.h"
#include "support/TextCodec.h"
#include "support/Win32.h"

std::wstring ExecutablePathW();
// The module holding `address` (no reference taken), or null.
HMODULE ModuleOf(const void* address);
std::wstring ModulePathW(HMODULE module);
std::string RegistryText(HKEY root, const wchar_t* key, const wchar_t* name);
char LocaleDecimalSeparator();

// Header fields, in order, each from its own guarded query.
void BuildReportHeader(BugReport& report, const ExceptionInfo& info, const ReportSettings& settings);

// One thread section of the report.
struct ThreadSlot {
  enum class Kind { Raising, Inner, Main, Other };
  Kind kind = Kind::Other;
  std::uint32_t threadId = 0;
  std::string title;
  std::size_t innerIndex = 0;  // Kind::Inner
  StackFrames frames;          // filled by the completion
  bool walked = false;
};

// A stack walk's raw result: code addresses, newest first.
struct RawStack {
  static constexpr std::size_t kMaxFrames = 128;
  std::uintptr_t frames[kMaxFrames];
  std::size_t count = 0;
};

// Allocation-free walks (a suspended thread may hold the heap's lock).
// `atReturnAddress`: the context's instruction pointer is a return address
// (the caller's context after a call), so its code lies before it.
void WalkStack(const CONTEXT& context, RawStack& stack, bool atReturnAddress = false);
// True when `address` lies in committed executable memory.
bool PointsIntoCode(std::uintptr_t address);
// The start of the call instruction that `returnAddress` follows (direct,
// or indirect through a register or memory), or 0 when the bytes before it
// are no call.
std::uintptr_t CallSiteOf(std::uintptr_t returnAddress);
// Suspends the thread, takes its context, walks it and resumes it. False
// when the thread is gone or cannot be suspended.
bool WalkOtherThread(std::uint32_t threadId, RawStack& stack);
// The calling thread, from the caller of this function.
void WalkCurrentThread(RawStack& stack);
// Frames with module, unit, line and function; every frame after the first
// is a return address.
StackFrames SymbolizeStack(const RawStack& stack);

// Lowest and highest address of the stack that holds `address` (the
// reservation, read from the memory map).
bool StackRangeOf(std::uintptr_t address, std::uintptr_t* low, std::uintptr_t* high);
// Copies readable memory of the own process; false on any fault.
bool ReadOwnMemory(std::uintptr_t address, void* buffer, std::size_t size);

// The threads of the process (toolhelp snapshot).
std::vector<std::uint32_t> ProcessThreadIds();
std::uint32_t OldestThreadId(const std::vector<std::uint32_t>& threadIds);
// The thread's own name (SetThreadDescription), where the platform has one.
std::string ThreadName(std::uint32_t threadId);

// Plug-in sections.
std::string ModulesSection();
std::string ProcessesSection();
std::string HardwareSection();

// Sections from the fault's processor context.
std::string RegistersSection(const CONTEXT& context);
// `copy`: the stack copied at the fault, else the live stack is read.
std::string StackDumpSection(const CONTEXT& context, const std::vector<unsigned char>& copy);
std::string DisassemblySection(std::uint64_t faultAddress, unsigned limit);

// A copy of CONTEXT bytes, aligned as the platform needs (16 on x86_64).
bool ContextFromBytes(const std::vector<unsigned char>& bytes, CONTEXT* context);
std::uint64_t InstructionPointerOf(const CONTEXT& context);

struct BugReportJob::State {
  explicit State(const ReportSettings& s);
  ~State();

  BugReport report;
  ReportSettings settings;
  ExceptionInfo info;
  std::vector<std::uint32_t> skip;  // never listed or suspended
  std::vector<ThreadSlot> threads;
  std::vector<std::string> plugins;
  bool hasContext = false;
  std::vector<unsigned char> contextBytes;  // copied into an aligned CONTEXT when used
  std::uint32_t callerThreadId = 0;
  // The raising thread's stack taken at the start, when it is the calling
  // thread and no context came with the exception.
  RawStack startStack;

  ScopedKernelHandle thread;
  ScopedKernelHandle done;  // manual-reset, set when complete
  std::atomic<bool> complete{false};
  std::atomic<bool> saved{false};
};

// Fills every pending section and the callstack crc. `between` runs after
// each section (the synchronous path processes the please-wait box there).
void CompleteReport(BugReportJob::State& state, const std::function<void()>& between);
