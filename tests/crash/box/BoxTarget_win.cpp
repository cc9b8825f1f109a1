// A program of the tests: fills a bug report with a fabricated fault, takes
// the screenshot and shows the report box the way the handling thread does,
// then saves the report at the end unless it was sent. A test drives the box
// from outside through its window handles.
//
//   crash_box_target <folder> [boxes]   the box once or several times;
//                                       folder holds bugreport.txt, tmp\ and
//                                       result.txt (one line per box)
//   crash_box_target --screenshot <file.png>   writes the screenshot, prints
//                                       "<width> <height>"
// QEX_BOX_SCREEN_ROOM=<n>: before the screenshot, the address space is filled
// so that the largest free block holds n copies of the screen's pixels
// but not n + 1 (the case of several large screens on the 32-bit build;
// the 64-bit address space cannot be filled).
#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "crash/box/ReportBox.h"
#include "crash/collect/ReportLock.h"
#include "crash/report/BugReport.h"
#include "crash/report/BugReportFile.h"
#include "crash/report/CallStack.h"
#include "crash/report/HeaderFields.h"
#include "crash/report/PathText.h"
#include "crash/report/ReportSettings.h"
#include "support/ScopedHandle.h"
#include "support/TextCodec.h"
#include "support/Win32.h"

namespace {

ReportSettings LoadSettings() {
  HRSRC resource = FindResourceA(nullptr, "REPORTSETTINGS", MAKEINTRESOURCEA(10));
  HGLOBAL loaded = LoadResource(nullptr, resource);
  return ReportSettings::Parse(LockResource(loaded), SizeofResource(nullptr, resource));
}

std::string ExeName() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return Utf8FromWide(FileNameOf(std::wstring(path)));
}

StackFrames FabricatedStack() {
  StackFrames frames;
  const char* functions[] = {"TfrmMain.tmrKeepLiveTimer", "TTimer.Timer", "DispatchTimerMessage", ""};
  for (int i = 0; i < 4; ++i) {
    StackFrame f;
    f.address = 0x00401000u + 0x120u * i;
    f.module = i < 3 ? "QEXJoystick.exe" : "user32.dll";
    if (functions[i][0]) {
      f.function = functions[i];
      f.unit = "frmMains.cpp";
      f.function_offset = 0x10u + i;
      f.line = 100 + 10 * i;
      f.line_offset = i;
    }
    frames.push_back(f);
  }
  return frames;
}

// The header as the handling thread builds it, sections still pending.
void FillHeader(BugReport& report, int number) {
  auto& h = report.Header();
  h.Set("date/time", "2024-03-05, 07:08:09, 45ms");
  h.Set("computer name", "TESTBOX");
  h.Set("user name", "tester");
  h.Set("operating system", "Windows 7 x64 build 7601");
  h.Set("executable", ExeName());
  h.Set("version", "1.0.0.0");
  h.Set("callstack crc", kCallstackCrcPending);
  h.Set("exception number", std::to_string(number));
  h.Set("exception class", "EAccessViolation");
  h.Set("exception message", "Access violation at address 00401000. Read of address 00000000.");
  h.SetInsertionIndexBefore("callstack crc");
  auto& s = report.Sections();
  s.Set("main thread ($1a2b)", kSectionPending);
  s.Set("cpu registers", kSectionPending);
  s.Set("disassembling", kSectionPending);
  report.Regenerate();
}

// The completion thread: fills the sections one by one.
void Complete(BugReport& report) {
  Sleep(300);
  report.SetSection("main thread ($1a2b)", RenderCallStack(FabricatedStack(), CallStackColumns()));
  Sleep(100);
  report.SetSection("cpu registers", "eax = 00000000  ebx = 00401000\r\neip = 00401000  esp = 0012ff00");
  report.SetSection("disassembling", "00401000 mov eax, [eax]   <-- fault");
  report.SetHeaderField("callstack crc", "$0a1b2c3d, $11223344, $55667788");
}

// The end of handling: save the report into the bug-report file unless it
// was sent (AutoSaveIfNotSent).
bool SaveIntoFile(const std::wstring& path, const std::string& text, const ReportSettings& settings) {
  std::string bytes;
  const ScopedFile opened(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr));
  if (!opened) return false;
  HANDLE file = opened.Get();
  DWORD size = GetFileSize(file, nullptr), read = 0;
  bytes.resize(size);
  if (size) ReadFile(file, &bytes[0], size, &read, nullptr);
  MemoryReportFile buffer(bytes);
  SaveReportToFile(buffer, text, SaveOptionsFromSettings(settings));
  const std::string out = buffer.Text();
  SetFilePointer(file, 0, nullptr, FILE_BEGIN);
  DWORD written = 0;
  WriteFile(file, out.data(), static_cast<DWORD>(out.size()), &written, nullptr);
  SetEndOfFile(file);
  return true;
}

// Takes the whole address space that allocations can still get, in blocks
// of at least one screen's pixels, then gives each block back but for a
// hole a little smaller than the pixels, bounded by reserved pages on both
// sides: memory enough is left for everything but the screenshot. With
// `copies` > 0 the largest block's hole holds that many screens.
void FillAddressSpace(int copies) {
  SYSTEM_INFO system = {};
  GetSystemInfo(&system);
  const std::size_t grain = system.dwAllocationGranularity;
  auto roundUp = [grain](std::size_t n) { return (n + grain - 1) / grain * grain; };
  const std::size_t screen = static_cast<std::size_t>(GetSystemMetrics(SM_CXVIRTUALSCREEN)) *
                             static_cast<std::size_t>(GetSystemMetrics(SM_CYVIRTUALSCREEN)) * 4;
  const std::size_t smallest = roundUp(screen);
  const std::size_t hole = smallest - 3 * grain;
  std::vector<std::pair<char*, std::size_t>> blocks;
  blocks.reserve(16384);
  for (std::size_t size = std::size_t(1) << 30;; size /= 2) {
    const std::size_t take = std::max(size, smallest);
    while (blocks.size() < blocks.capacity()) {
      void* block = VirtualAlloc(nullptr, take, MEM_RESERVE, PAGE_NOACCESS);
      if (!block) break;
      blocks.emplace_back(static_cast<char*>(block), take);
    }
    if (take == smallest) break;
  }
  bool largeLeft = copies == 0;
  for (const auto& block : blocks) {
    std::size_t room = hole;
    if (!largeLeft && block.second >= roundUp(screen * copies) + 4 * grain) {
      room = roundUp(screen * copies) + 2 * grain;
      largeLeft = true;
    }
    VirtualFree(block.first, 0, MEM_RELEASE);
    VirtualAlloc(block.first, grain, MEM_RESERVE, PAGE_NOACCESS);
    VirtualAlloc(block.first + grain + room, block.second - grain - room, MEM_RESERVE, PAGE_NOACCESS);
  }
}

int WriteScreenshot(const wchar_t* path) {
  std::shared_ptr<Screenshot> shot = CaptureScreen();
  if (!shot || !WriteScreenshotFile(*shot, path)) return 1;
  std::printf("%d %d\n", shot->width, shot->height);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc >= 3 && std::wstring(argv[1]) == L"--screenshot") return WriteScreenshot(argv[2]);
  if (argc < 2) return 2;
  const std::wstring folder = argv[1];
  const int boxes = argc >= 3 ? _wtoi(argv[2]) : 1;
  const ReportSettings settings = LoadSettings();
  const std::wstring resultPath = folder + L"\\result.txt";

  for (int number = 1; number <= boxes; ++number) {
    CriticalSectionLockFactory locks;
    BugReport report(locks);
    FillHeader(report, number);
    BoxOptions options;
    options.placeholders.app_name = ExeName();
    options.exceptionClass = "EAccessViolation";
    options.exceptionMessage = "Access violation at address 00401000. Read of address 00000000.";
    options.canContinue = GetEnvironmentVariableW(L"QEX_BOX_CANNOT_CONTINUE", nullptr, 0) == 0;
    // The show configuration of the exception's filter (2 and 3: the plain box).
    wchar_t config[8] = {};
    if (GetEnvironmentVariableW(L"QEX_BOX_SHOW_CONFIG", config, 8)) options.showConfig = _wtoi(config);
    wchar_t room[8] = {};
    if (number == 1 && GetEnvironmentVariableW(L"QEX_BOX_SCREEN_ROOM", room, 8)) FillAddressSpace(_wtoi(room));
    options.screenshot = CaptureScreen();
    options.tempFolder = folder + L"\\tmp";
    options.bugReportFile = folder + L"\\bugreport.txt";
    CreateDirectoryW(options.tempFolder.c_str(), nullptr);

    std::thread completion([&] { Complete(report); });
    bool completed = false;
    options.waitForCompleteReport = [&] {
      if (!completed) completion.join();
      completed = true;
    };
    std::string actions;
    options.onAction = [&](int action) {
      actions += std::to_string(action) + ",";
      return false;
    };
    BoxResult result = ShowReportBox(report, settings, options);
    if (!completed) completion.join();
    // Restart and close wait for the send; so does this program, so the
    // line below tells the send's final outcome.
    if (result.send) result.send->Wait();
    const bool sent = result.ReportSent();
    bool saved = false;
    if (!sent) saved = SaveIntoFile(options.bugReportFile, report.Text(), settings);

    const char* choice = result.choice == BoxChoice::Continue ? "continue"
                         : result.choice == BoxChoice::Restart ? "restart" : "close";
    FILE* out = _wfopen(resultPath.c_str(), L"ab");
    if (out) {
      std::fprintf(out, "box=%d choice=%s sent=%d saved=%d sendStarted=%d actions=%s screenshot=%d\n", number, choice,
                   sent ? 1 : 0, saved ? 1 : 0, result.send ? 1 : 0, actions.c_str(), options.screenshot ? 1 : 0);
      std::fclose(out);
    }
  }
  return 0;
}
