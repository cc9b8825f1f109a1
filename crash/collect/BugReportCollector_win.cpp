// Starting a report, its completion thread and waiting for it.
#include "crash/collect/BugReportCollector.h"

#include <algorithm>
#include <cstring>

#include "crash/collect/CollectInternal.h"
#include "crash/collect/PleaseWaitBox_win.h"
#include "crash/collect/ReportLock.h"
#include "crash/disasm/SymbolResource.h"
#include "crash/report/ReportSettings.h"

namespace {

// A waiting caller gives up after this long: a completion thread stuck in a
// walk must not keep the program from going on (the report is then saved
// as far as it got).
constexpr DWORD kCompletionTimeoutMs = 30000;
// How long destroying a job waits for its completion thread.
constexpr DWORD kJobEndTimeoutMs = 5000;
constexpr DWORD kPleaseWaitPollMs = 50;

const char* const kKnownPlugins[] = {"modules", "processes", "hardware"};
const char kRegistersTitle[] = "cpu registers";
const char kStackDumpTitle[] = "stack dump";
const char kDisassemblyTitle[] = "disassembling";

bool Contains(const std::vector<std::uint32_t>& ids, std::uint32_t id) {
  return std::find(ids.begin(), ids.end(), id) != ids.end();
}

std::uint64_t FaultAddress(const BugReportJob::State& state) {
  CONTEXT context;
  if (state.hasContext && ContextFromBytes(state.contextBytes, &context)) return InstructionPointerOf(context);
  return state.info.codeAddress;
}

// Decides the sections and enters each with the placeholder.
void PlanSections(BugReportJob::State& state) {
  const ExceptionInfo& info = state.info;
  const std::vector<std::uint32_t> all = ProcessThreadIds();
  const std::uint32_t raising = info.threadId ? info.threadId : state.callerThreadId;
  const std::uint32_t main = info.mainThreadId ? info.mainThreadId : OldestThreadId(all);
  auto nameOf = [&](std::uint32_t id) { return id == main ? std::string("main thread") : ThreadName(id); };

  ThreadSlot slot;
  slot.kind = ThreadSlot::Kind::Raising;
  slot.threadId = raising;
  slot.title = ThreadSectionTitle(nameOf(raising), raising);
  state.threads.push_back(slot);
  for (std::size_t i = 0; i < info.innerExceptions.size(); ++i) {
    ThreadSlot inner;
    inner.kind = ThreadSlot::Kind::Inner;
    inner.threadId = raising;
    inner.innerIndex = i;
    inner.title = "inner exception " + std::to_string(i + 1) + " of thread " + FormatHexId(raising);
    state.threads.push_back(inner);
  }
  if (main && main != raising) {
    ThreadSlot m;
    m.kind = ThreadSlot::Kind::Main;
    m.threadId = main;
    m.title = ThreadSectionTitle("main thread", main);
    state.threads.push_back(m);
  }
  if (state.settings.IsOn("ListThreads")) {
    for (std::uint32_t id : all) {
      if (id == raising || id == main || Contains(state.skip, id)) continue;
      ThreadSlot other;
      other.kind = ThreadSlot::Kind::Other;
      other.threadId = id;
      other.title = ThreadSectionTitle(ThreadName(id), id);
      state.threads.push_back(other);
    }
  }
  for (const std::string& plugin : SettingListItems(state.settings.Text("Plugins"), "|"))
    for (const char* known : kKnownPlugins)
      if (plugin == known) state.plugins.push_back(plugin);

  FieldList& sections = state.report.Sections();
  for (const ThreadSlot& t : state.threads) sections.Set(t.title, kSectionPending);
  for (const std::string& plugin : state.plugins) sections.Set(plugin, kSectionPending);
  if (state.hasContext && state.settings.IsOn("CpuRegs")) sections.Set(kRegistersTitle, kSectionPending);
  if (state.hasContext && state.settings.IsOn("StackDump")) sections.Set(kStackDumpTitle, kSectionPending);
  if (state.settings.IsOn("ShowDisAsm") && !ProgramSymbols().Empty() && FaultAddress(state) != 0)
    sections.Set(kDisassemblyTitle, kSectionPending);
}

// The raising thread's stack: from the fault's context, from where it was
// captured at the start, from the raise point's frame pointer, or from where
// it waits now.
bool WalkRaisingThread(const BugReportJob::State& state, RawStack& raw, bool* fromContext) {
  if (!state.info.raisingFrames.empty()) {
    raw.count = std::min(state.info.raisingFrames.size(), RawStack::kMaxFrames);
    for (std::size_t i = 0; i < raw.count; ++i) raw.frames[i] = static_cast<std::uintptr_t>(state.info.raisingFrames[i]);
    *fromContext = false;
    return true;
  }
  CONTEXT context;
  std::memset(&context, 0, sizeof context);
  if (state.hasContext && ContextFromBytes(state.contextBytes, &context)) {
    WalkStack(context, raw);
    *fromContext = true;
    return raw.count > 0;
  }
#if defined(__i386__) || defined(_M_IX86)
  if (state.info.framePointer) {
    context.Eip = static_cast<DWORD>(state.info.codeAddress);
    context.Ebp = static_cast<DWORD>(state.info.framePointer);
    context.Esp = static_cast<DWORD>(state.info.stackPointer ? state.info.stackPointer : state.info.framePointer);
    WalkStack(context, raw);
    return raw.count > 0;
  }
#endif
  if (state.startStack.count > 0) {
    raw = state.startStack;
    return true;
  }
  const std::uint32_t id = state.threads.empty() ? 0 : state.threads.front().threadId;
  if (id == ::GetCurrentThreadId()) {
    WalkCurrentThread(raw);
    return raw.count > 0;
  }
  return WalkOtherThread(id, raw) && raw.count > 0;
}

template <class F>
void Guard(F&& step) {
  try {
    step();
  } catch (...) {
  }
}

void SetSection(BugReportJob::State& state, const std::string& title, const std::string& content) {
  // An empty content would remove the section; a failed query leaves it
  // incomplete instead.
  if (!TrimBlanks(content).empty()) state.report.SetSection(title, content);
}

}  // namespace

BugReportJob::State::State(const ReportSettings& s) : report(ReportLockFactory()), settings(s) {}
BugReportJob::State::~State() = default;

void CompleteReport(BugReportJob::State& state, const std::function<void()>& between) {
  auto pause = [&] {
    if (between) between();
  };
  CallStackColumns columns;
  columns.show_rel_addrs = state.settings.IsOn("ShowRelAddrs");
  columns.show_rel_lines = state.settings.IsOn("ShowRelLines");

  for (ThreadSlot& slot : state.threads) {
    Guard([&] {
      if (slot.kind == ThreadSlot::Kind::Inner) {
        const InnerExceptionInfo& inner = state.info.innerExceptions[slot.innerIndex];
        SetSection(state, slot.title,
                   inner.message.empty() || inner.message == inner.className ? inner.className
                                                                               : inner.className + ": " + inner.message);
        return;
      }
      // On the stack of this thread: 1 KB, no allocation while another
      // thread is suspended.
      RawStack raw;
      bool walked = false;
      bool fromContext = false;
      if (slot.kind == ThreadSlot::Kind::Raising) {
        walked = WalkRaisingThread(state, raw, &fromContext);
      } else if (slot.threadId == ::GetCurrentThreadId()) {
        WalkCurrentThread(raw);
        walked = raw.count > 0;
      } else {
        walked = WalkOtherThread(slot.threadId, raw);
        if (!walked && slot.kind == ThreadSlot::Kind::Other) {
          state.report.SetSection(slot.title, std::string());  // the thread has ended
          return;
        }
      }
      if (!walked) return;
      slot.frames = SymbolizeStack(raw);
      // Walked where it waits for the report (no throw record, no fault
      // context): the report starts below crash reporting's own frames.
      if (slot.kind == ThreadSlot::Kind::Raising && state.info.raisingFrames.empty() && !fromContext)
        slot.frames.erase(slot.frames.begin(),
                          slot.frames.begin() + static_cast<std::ptrdiff_t>(ReporterFramesOnTop(slot.frames, "crash/")));
      slot.walked = !slot.frames.empty();
      SetSection(state, slot.title, RenderCallStack(slot.frames, columns));
    });
    pause();
  }

  for (const std::string& plugin : state.plugins) {
    Guard([&] {
      if (plugin == "modules") SetSection(state, plugin, ModulesSection());
      else if (plugin == "processes") SetSection(state, plugin, ProcessesSection());
      else if (plugin == "hardware") SetSection(state, plugin, HardwareSection());
    });
    pause();
  }

  CONTEXT context;
  const bool haveContext = state.hasContext && ContextFromBytes(state.contextBytes, &context);
  if (haveContext && state.settings.IsOn("CpuRegs")) {
    Guard([&] { SetSection(state, kRegistersTitle, RegistersSection(context)); });
    pause();
  }
  if (haveContext && state.settings.IsOn("StackDump")) {
    Guard([&] { SetSection(state, kStackDumpTitle, StackDumpSection(context, state.info.stackCopy)); });
    pause();
  }
  if (state.report.Sections().Has(kDisassemblyTitle)) {
    Guard([&] {
      const auto limit = static_cast<unsigned>(std::max<std::int64_t>(0, state.settings.Number("LimitDisAsm")));
      SetSection(state, kDisassemblyTitle, DisassemblySection(FaultAddress(state), limit));
    });
    pause();
  }

  Guard([&] {
    // Without the raising thread's stack there is no key: such a report is
    // never counted as a duplicate of another.
    if (state.threads.empty() || !state.threads.front().walked) return;
    std::vector<StackFrames> others;
    for (std::size_t i = 1; i < state.threads.size(); ++i)
      if (state.threads[i].walked) others.push_back(state.threads[i].frames);
    const CallstackCrcs crcs = ComputeCallstackCrcs(state.threads.front().frames, others);
    state.report.SetHeaderField(header_field::kCallstackCrc, FormatCallstackCrc(crcs.first, crcs.second, crcs.third));
  });
}

namespace {

DWORD WINAPI CompletionThreadProc(void* parameter) {
  std::shared_ptr<BugReportJob::State> state(std::move(*static_cast<std::shared_ptr<BugReportJob::State>*>(parameter)));
  delete static_cast<std::shared_ptr<BugReportJob::State>*>(parameter);
  Guard([&] { CompleteReport(*state, nullptr); });
  state->complete = true;
  ::SetEvent(state->done.Get());
  return 0;
}

}  // namespace

ILockFactory& ReportLockFactory() {
  static CriticalSectionLockFactory factory;
  return factory;
}

void PrepareBugReports() {
  ProgramSymbols();
  ReportLockFactory();
  PleaseWaitBox::RegisterWindowClass();
}

BugReportJob::BugReportJob(std::shared_ptr<State> state) : state_(std::move(state)) {}

BugReportJob::~BugReportJob() {
  // The state is shared with the thread, so one that does not end in time
  // keeps what it uses.
  if (state_ && state_->thread) ::WaitForSingleObject(state_->thread.Get(), kJobEndTimeoutMs);
}

BugReport& BugReportJob::Report() { return state_->report; }
bool BugReportJob::Complete() const { return state_->complete; }
bool BugReportJob::Saved() const { return state_->saved; }
void BugReportJob::MarkSaved() { state_->saved = true; }
std::uint32_t BugReportJob::CompletionThreadId() const {
  return state_->thread ? ::GetThreadId(state_->thread.Get()) : 0;
}

std::unique_ptr<BugReportJob> StartBugReport(const ExceptionInfo& info, const ReportSettings& settings,
                                             const std::vector<std::uint32_t>& skipThreadIds) {
  auto state = std::make_shared<BugReportJob::State>(settings);
  Guard([&] {
    state->info = info;
    state->skip = skipThreadIds;
    state->callerThreadId = ::GetCurrentThreadId();
    if (info.context && info.context->size() >= sizeof(CONTEXT)) {
      state->contextBytes = *info.context;
      state->hasContext = true;
    }
  });
  if (!state->hasContext && info.raisingFrames.empty() && (info.threadId == 0 || info.threadId == state->callerThreadId)) {
#if defined(__i386__) || defined(_M_IX86)
    if (!info.framePointer)
#endif
      WalkCurrentThread(state->startStack);
  }
  Guard([&] { BuildReportHeader(state->report, info, settings); });
  Guard([&] { PlanSections(*state); });
  Guard([&] { state->report.Regenerate(); });

  state->done.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  auto* handOver = new std::shared_ptr<BugReportJob::State>(state);
  DWORD threadId = 0;
  HANDLE thread = state->done ? ::CreateThread(nullptr, 0, &CompletionThreadProc, handOver, CREATE_SUSPENDED, &threadId)
                              : nullptr;
  if (thread) {
    ::SetThreadPriority(thread, THREAD_PRIORITY_ABOVE_NORMAL);
    state->thread.Reset(thread);
    ::ResumeThread(thread);
  } else {
    delete handOver;
    // No thread: complete here, with the please-wait box meanwhile.
    std::unique_ptr<PleaseWaitBox> box;
    if (settings.IsOn("PlWaitBox"))
      box = std::make_unique<PleaseWaitBox>(settings.Text("PlWaitTitle"), settings.Text("PlWaitText"));
    Guard([&] { CompleteReport(*state, [&] {
      if (box) box->ProcessMessages();
    }); });
    state->complete = true;
    if (state->done) ::SetEvent(state->done.Get());
  }
  return std::make_unique<BugReportJob>(state);
}

std::vector<std::uint64_t> CaptureStackFrames(const void* context) {
  std::vector<std::uint64_t> frames;
  if (!context) return frames;
  CONTEXT copy;
  std::memcpy(&copy, context, sizeof copy);
  // RawStack is large; keep it off the (possibly nearly exhausted) stack.
  auto raw = std::make_unique<RawStack>();
  WalkStack(copy, *raw);
  frames.assign(raw->frames, raw->frames + raw->count);
  return frames;
}

bool WaitForCompletion(BugReportJob& job, bool showPleaseWait) {
  BugReportJob::State& state = job.Internal();
  if (state.complete) return true;
  if (!state.thread || !state.done) return state.complete;
  if (::GetThreadId(state.thread.Get()) == ::GetCurrentThreadId()) return false;
  if (showPleaseWait && state.settings.IsOn("PlWaitBox")) {
    ::SetThreadPriority(state.thread.Get(), THREAD_PRIORITY_HIGHEST);
    PleaseWaitBox box(state.settings.Text("PlWaitTitle"), state.settings.Text("PlWaitText"));
    const ULONGLONG deadline = ::GetTickCount64() + kCompletionTimeoutMs;
    while (::WaitForSingleObject(state.done.Get(), kPleaseWaitPollMs) == WAIT_TIMEOUT &&
           ::GetTickCount64() < deadline)
      box.ProcessMessages();
  } else {
    ::WaitForSingleObject(state.done.Get(), kCompletionTimeoutMs);
  }
  return state.complete;
}
