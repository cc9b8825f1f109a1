// The report box: the window the user sees for each reported exception, the
// send assistant it runs and the mailing of the report.
//
// Threads: ShowReportBox runs on the crash reporter's handling thread and
// runs its own message loop there until the box closes; the agent's main
// thread keeps running meanwhile. A send started from the box may go on
// on a send thread of its own after the box has closed; the SendJob in the
// result tells whether it succeeded and lets restart and close wait for it.
//
// Nothing of the report leaves the machine except through the user's own
// mail client, after the user pressed "send bug report".
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "crash/box/AssistantForms.h"
#include "crash/box/BoxLogic.h"
#include "crash/mail/MailRequest.h"
#include "crash/report/Placeholders.h"

class BugReport;
class ReportSettings;

// The whole screen, taken before the box is shown: 32-bit pixels (blue,
// green, red, unused), rows top-down.
struct Screenshot {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;  // width * height * 4
};

// BitBlt of the screen into a DIB; null when the screen cannot be read.
std::shared_ptr<Screenshot> CaptureScreen();
// The screenshot as an 8-bit palette PNG; false when it cannot be written.
bool WriteScreenshotFile(const Screenshot& shot, const std::wstring& path);

// One mailing of a report; shared by the box and the send thread.
class SendJob {
 public:
  virtual ~SendJob() = default;
  // True once a route succeeded (the report went to the mail client).
  virtual bool Sent() const = 0;
  // Finished (or never started a thread).
  virtual bool Done() const = 0;
  // Waits for the send thread without a time limit.
  virtual void Wait() = 0;
  // The send thread, 0 when none was started.
  virtual std::uint32_t ThreadId() const { return 0; }
};

struct BoxOptions {
  // Placeholders of the title, the message and the mail texts; bug_report
  // and error_details are filled from the report when needed.
  PlaceholderValues placeholders;
  std::string exceptionClass;
  std::string exceptionMessage;
  bool canContinue = true;
  bool isFreeze = false;
  // 0 the full box; 2 the plain box with "&Details"; 3 the plain box.
  int showConfig = 0;
  // True when the box is reopened expanded ("show bug report" or
  // "&Details"): no beep.
  bool reopened = false;
  std::shared_ptr<Screenshot> screenshot;
  // The crash reporter's temporary folder (emptied at each exception) and
  // the resolved bug-report file, full paths.
  std::wstring tempFolder;
  std::wstring bugReportFile;
  // The current report was saved into the bug-report file already.
  bool reportSaved = false;
  // Blocks until the report is complete (the please-wait box is the
  // caller's); unset when the report is complete already.
  std::function<void()> waitForCompleteReport;
  // Fired for every action code (0 send ... 13 close); true means a handler
  // handled it and the built-in action is cancelled.
  std::function<bool(int action)> onAction;
  // The process is in a state in which no dialog can be shown safely:
  // the simple-MAPI route is skipped.
  bool unsafeForDialogs = false;
};

struct BoxResult {
  BoxChoice choice = BoxChoice::Continue;
  // "show bug report" or "&Details": show the box again, expanded.
  bool reopenExpanded = false;
  // The last send started from the box (null when none was started).
  std::shared_ptr<SendJob> send;
  // True while the report still has to be saved at the end of handling
  // (AutoSaveIfNotSent): nothing was sent, or a background send has not
  // succeeded yet. Ask again after waiting for `send`.
  bool ReportSent() const { return send && send->Sent(); }
};

// Builds the box for the report and runs it modally on the calling thread.
// The settings are this exception's own copy.
BoxResult ShowReportBox(BugReport& report, const ReportSettings& settings, const BoxOptions& options);

// The send on its own (the box's send button, an automatic send): runs the
// assistant when `startedByUser`, then the mail routes. `owner` is the box
// (may be null). Returns the job; with SendInBackgr it may still run.
std::shared_ptr<SendJob> SendBugReport(BugReport& report, const ReportSettings& settings,
                                       const BoxOptions& options, void* owner, bool startedByUser,
                                       bool* cancelledInAssistant);

// Window classes and control ids, stable for tests that drive the box and
// the assistant from outside.
extern const wchar_t kReportBoxClass[];       // L"QEXReportBox"
extern const wchar_t kSendAssistantClass[];   // L"QEXSendAssistant"
extern const wchar_t kSendProgressClass[];    // L"QEXSendProgress"
enum ReportBoxControl : int {
  kBoxButtonBaseId = 300,  // + BoxButton index
  kBoxMessageId = 320,
  kBoxTabsId = 321,
  kBoxReportTextId = 322,
  kBoxCallStackId = 323,
  kPlainOkId = 330,
  kPlainDetailsId = 331,
};
enum SendAssistantControl : int {
  kAssistContinueId = 400,
  kAssistSkipId = 401,
  kAssistCancelId = 402,
  kAssistTitleId = 403,
  kAssistItemBaseId = 410,  // + the item's index on its page
};

// Remembered contact: HKCU "Software\Korvel\ContactForm".
extern const char kRememberedContactKey[];
