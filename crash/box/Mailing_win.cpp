// Sending a bug report: attachments in the temporary folder, then simple
// MAPI, then the "mailto:" handler. Every route ends in the user's own mail
// client; nothing is sent without it.
#include <atomic>

#include "crash/box/BoxInternal.h"
#include "crash/mail/Mailto.h"
#include "crash/report/BugReport.h"
#include "crash/report/BugReportFile.h"
#include "crash/report/PathText.h"
#include "crash/report/ReportSettings.h"
#include "support/Registry.h"

const wchar_t kSendProgressClass[] = L"QEXSendProgress";

namespace {

std::string ToAnsi(const std::string& utf8) { return FromWide(WideFromUtf8(utf8), CodePage::Ansi); }

bool ReadWholeFile(const std::wstring& path, std::string* bytes) {
  ScopedFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return false;
  LARGE_INTEGER size = {};
  if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart > 0x7fffffff) return false;
  bytes->resize(static_cast<std::size_t>(size.QuadPart));
  DWORD read = 0;
  return bytes->empty() || (ReadFile(file.Get(), &(*bytes)[0], static_cast<DWORD>(bytes->size()), &read, nullptr) &&
                            read == bytes->size());
}

bool WriteWholeFile(const std::wstring& path, const std::string& bytes) {
  ScopedFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  DWORD written = 0;
  return bytes.empty() ||
         (WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size());
}

// Each send writes its attachments into a folder of its own inside the
// temporary folder: the next exception empties the temporary folder's files
// while a mail client's compose window may still read the attachments of an
// earlier send.
std::wstring NewSendFolder(const std::wstring& tempFolder) {
  static std::atomic<unsigned> sends{0};
  CreateDirectoryW(tempFolder.c_str(), nullptr);
  const std::wstring folder = tempFolder + L"\\mail-" + std::to_wstring(++sends);
  if (CreateDirectoryW(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS) return folder;
  return tempFolder;
}

// After a send that attached the bug-report file: what went out leaves the
// file. Reports saved into it after it was read (this one at the end of
// handling, later exceptions) stay. The file is held without sharing, as a
// save holds it, for the whole check.
void RemoveSentReports(const std::wstring& path, const std::string& sent) {
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  ScopedFile file;
  // A save holds the file for a moment.
  for (int attempt = 0; attempt < 40 && !file; ++attempt) {
    file.Reset(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file && GetLastError() != ERROR_SHARING_VIOLATION) return;
    if (!file) Sleep(50);
  }
  if (!file) return;
  LARGE_INTEGER size = {};
  if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart > 0x7fffffff) return;
  std::string now(static_cast<std::size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  if (!now.empty() && (!ReadFile(file.Get(), &now[0], static_cast<DWORD>(now.size()), &read, nullptr) || read != now.size()))
    return;
  if (now == sent) {
    FILE_DISPOSITION_INFO dispose = {};
    dispose.DeleteFile = TRUE;
    SetFileInformationByHandle(file.Get(), FileDispositionInfo, &dispose, sizeof dispose);
    return;
  }
  // Saved since: keep what follows the part that went out. Anything else
  // (a duplicate cut out of it, the oldest reports dropped at the size
  // limit) keeps the whole file: a report mailed twice is better than one
  // lost.
  if (sent.empty() || now.compare(0, sent.size(), sent) != 0) return;
  const std::string rest = now.substr(sent.size());
  LARGE_INTEGER start = {};
  DWORD written = 0;
  if (SetFilePointerEx(file.Get(), start, nullptr, FILE_BEGIN) &&
      WriteFile(file.Get(), rest.data(), static_cast<DWORD>(rest.size()), &written, nullptr) && written == rest.size())
    SetEndOfFile(file.Get());
}

std::wstring SystemFolder() {
  wchar_t folder[MAX_PATH] = {};
  UINT n = GetSystemDirectoryW(folder, MAX_PATH);
  return n > 0 && n < MAX_PATH ? std::wstring(folder, n) : std::wstring();
}

// The progress box: a small window of the send thread listing the step.
class ProgressBox {
 public:
  ProgressBox(const std::string& title, const std::string& step) {
    RegisterBoxClass(kSendProgressClass, DefWindowProcW, GetSysColorBrush(COLOR_BTNFACE));
    const int w = 300, h = 90;
    window_.Reset(CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kSendProgressClass, WideFromUtf8(title).c_str(),
                                  WS_POPUP | WS_CAPTION, (GetSystemMetrics(SM_CXSCREEN) - w) / 2,
                                  (GetSystemMetrics(SM_CYSCREEN) - h) / 2, w, h, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr));
    if (!window_) return;
    AddChild(window_.Get(), L"STATIC", WideFromUtf8(step), SS_LEFT, 0, 1, 12, 16, w - 30, 18,
             static_cast<HFONT>(fonts_.text.Get()));
    ShowWindow(window_.Get(), SW_SHOWNOACTIVATE);
    Pump();
  }
  void Pump() {
    MSG msg;
    while (window_ && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }

 private:
  BoxFonts fonts_;
  ScopedWindow window_;
};

class MailJob : public SendJob {
 public:
  // Everything the send needs, copied: the send thread may outlive the box
  // and the report object.
  ReportSettings settings;
  std::string reportText;
  std::string subject, body;
  std::string sender;
  std::wstring tempFolder, bugReportFile;
  bool reportSaved = false;
  bool startedByUser = true;
  bool unsafeForDialogs = false;
  std::shared_ptr<Screenshot> screenshot;  // null: not attached
  HWND owner = nullptr;
  // The bug-report file as it was read for the attachment.
  std::string attachedFile;

  std::atomic<bool> sent{false};
  std::atomic<bool> done{false};
  ScopedKernelHandle thread;

  explicit MailJob(const ReportSettings& s) : settings(s) {}

  bool Sent() const override { return sent.load(); }
  bool Done() const override { return done.load(); }
  void Wait() override {
    if (thread) WaitForSingleObject(thread.Get(), INFINITE);
  }
  std::uint32_t ThreadId() const override { return thread ? GetThreadId(thread.Get()) : 0; }

  void Run();

 private:
  struct Attachment {
    std::wstring path;
    std::string name;
  };
  bool PrepareBugReport(const std::wstring& folder, Attachment* attachment);
  SendResult ViaMapi(const std::vector<Attachment>& attachments);
  SendResult ViaMailto();
};

// The bug-report file's copy with the current report appended (unless it was
// saved into the file already), attached as "bugreport.txt".
bool MailJob::PrepareBugReport(const std::wstring& folder, Attachment* attachment) {
  std::string bytes;
  const bool hadFile = !bugReportFile.empty() && ReadWholeFile(bugReportFile, &bytes);
  if (!hadFile) bytes.clear();
  attachedFile = bytes;
  if (!hadFile || !reportSaved) {
    MemoryReportFile copy(bytes);
    SaveReportToFile(copy, reportText, SaveOptionsFromSettings(settings));
    bytes = copy.Text();
  }
  const std::wstring name = bugReportFile.empty() ? WideFromUtf8(settings.Text("BugRepFile")) : FileNameOf(bugReportFile);
  std::wstring path = folder + L"\\" + name;
  if (!WriteWholeFile(path, bytes)) {
    path = folder + L"\\" + std::to_wstring(GetTickCount()) + name;
    if (!WriteWholeFile(path, bytes)) return false;
  }
  attachment->path = path;
  attachment->name = settings.Text("BugRepSendAs");
  return hadFile;
}

SendResult MailJob::ViaMapi(const std::vector<Attachment>& attachments) {
  // The system folder's copy only: never a mapi32.dll beside the program.
  ScopedModule mapi(LoadLibraryW((SystemFolder() + L"\\mapi32.dll").c_str()));
  if (!mapi) return SendResult::Failed;
  auto sendMail = reinterpret_cast<LPMAPISENDMAIL>(GetProcAddress(mapi.Get(), "MAPISendMail"));
  if (!sendMail) return SendResult::Failed;

  std::vector<MapiAttachment> files;
  for (const Attachment& a : attachments) files.push_back({Utf8FromWide(a.path), a.name});
  MapiRequest request =
      BuildMapiRequest(settings.Text("MailAddr"), sender, subject, body, files, startedByUser);

  // The platform call takes ANSI texts; keep them alive for the call.
  std::vector<std::string> texts;
  texts.reserve(4 + 2 * (request.recipients.size() + request.attachments.size() + 1));
  auto keep = [&](const std::string& utf8) -> LPSTR {
    texts.push_back(ToAnsi(utf8));
    return &texts.back()[0];
  };
  std::vector<MapiRecipDesc> recipients;
  for (const MapiRecipient& r : request.recipients) {
    MapiRecipDesc d = {};
    d.ulRecipClass = r.recipientClass;
    d.lpszName = keep(r.name);
    d.lpszAddress = keep(r.address);
    recipients.push_back(d);
  }
  MapiRecipDesc originator = {};
  if (request.hasOriginator) {
    originator.ulRecipClass = request.originator.recipientClass;
    originator.lpszName = keep(request.originator.name);
    originator.lpszAddress = keep(request.originator.address);
  }
  std::vector<MapiFileDesc> descs;
  for (const MapiAttachment& a : request.attachments) {
    MapiFileDesc d = {};
    d.nPosition = static_cast<ULONG>(-1);
    d.lpszPathName = keep(a.path);
    d.lpszFileName = keep(a.name);
    descs.push_back(d);
  }
  MapiMessage message = {};
  message.lpszSubject = keep(request.subject);
  message.lpszNoteText = keep(request.body);
  message.lpOriginator = request.hasOriginator ? &originator : nullptr;
  message.nRecipCount = static_cast<ULONG>(recipients.size());
  message.lpRecips = recipients.empty() ? nullptr : recipients.data();
  message.nFileCount = static_cast<ULONG>(descs.size());
  message.lpFiles = descs.empty() ? nullptr : descs.data();

  // A top-most box would hide the mail client's compose window.
  const bool ownerTopMost = owner && IsWindow(owner) && (GetWindowLongW(owner, GWL_EXSTYLE) & WS_EX_TOPMOST);
  if (ownerTopMost)
    SetWindowPos(owner, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  const ULONG error = sendMail(0, reinterpret_cast<ULONG_PTR>(owner), &message, request.flags, 0);
  if (ownerTopMost && IsWindow(owner))
    SetWindowPos(owner, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  return MapiSendResult(error);
}

SendResult MailJob::ViaMailto() {
  const std::optional<std::wstring> stored =
      RegReadText(HKEY_CLASSES_ROOT, L"mailto\\shell\\open\\command", std::wstring(), KEY_READ);
  if (!stored) return SendResult::Failed;
  const DWORD needed = ExpandEnvironmentStringsW(stored->c_str(), nullptr, 0);
  if (needed == 0) return SendResult::Failed;
  std::wstring expanded(needed, L'\0');
  ExpandEnvironmentStringsW(stored->c_str(), &expanded[0], needed);
  expanded.resize(wcsnlen(expanded.c_str(), expanded.size()));
  if (expanded.empty()) return SendResult::Failed;

  MailtoMessage message;
  for (const MailRecipient& r : SplitRecipients(settings.Text("MailAddr"))) message.recipients.push_back(r.address);
  message.subject = subject;
  message.body = reportText;
  // The link goes in as exactly one argument; nothing in the report can add
  // another (the encoding leaves no blank or quote).
  std::optional<std::string> command = BuildMailtoCommand(Utf8FromWide(expanded), message);
  if (!command) return SendResult::Failed;
  std::wstring commandLine = WideFromUtf8(*command);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started = {};
  if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started))
    return SendResult::Failed;
  const ScopedProcessInformation mailClient(started);  // runs on without us
  return SendResult::Sent;
}

void MailJob::Run() {
  std::vector<Attachment> attachments;
  bool fileAttached = false;
  std::wstring screenshotPath;
  {
    ProgressBox progress(settings.Text("SendBoxTitle"), settings.Text("PrepAttMsg"));
    const std::wstring folder = NewSendFolder(tempFolder);
    if (settings.IsOn("AttachBugRep")) {
      Attachment report;
      if (settings.IsOn("AttachBugRepFile")) {
        fileAttached = PrepareBugReport(folder, &report);
      } else {
        report.path = folder + L"\\" + WideFromUtf8(settings.Text("BugRepSendAs"));
        report.name = settings.Text("BugRepSendAs");
        if (!WriteWholeFile(report.path, reportText)) report.path.clear();
      }
      if (!report.path.empty()) attachments.push_back(report);
    }
    progress.Pump();
    if (screenshot) {
      screenshotPath = folder + L"\\screenShot.png";
      if (WriteScreenshotFile(*screenshot, screenshotPath))
        attachments.push_back({screenshotPath, settings.Text("ScrShotSendAs")});
      else
        screenshotPath.clear();
    }
    progress.Pump();
  }

  // Web upload, issue trackers and direct mail are off in this program;
  // their screenshot rule: the file goes when MAPI will not need it.
  if (!settings.IsOn("MailViaMapi") && !screenshotPath.empty()) DeleteFileW(screenshotPath.c_str());

  SendResult result = SendResult::Failed;
  bool filesWentOut = false;
  if (settings.IsOn("MailViaMapi") && !unsafeForDialogs) {
    result = ViaMapi(attachments);
    filesWentOut = result == SendResult::Sent;
  }
  if (result == SendResult::Failed && settings.IsOn("MailViaMailto") && startedByUser) result = ViaMailto();
  if (result == SendResult::Failed && startedByUser) {
    MessageBoxW(nullptr, WideFromUtf8(settings.Text("SendFailMsg")).c_str(), nullptr,
                MB_OK | MB_ICONERROR | MB_TOPMOST | MB_SETFOREGROUND);
  }
  if (result == SendResult::Sent) {
    sent = true;
    // The file's content went out as the attachment. A mailto send carries
    // no attachment, so there the file stays.
    if (fileAttached && settings.IsOn("DelBugRepFile") && filesWentOut) RemoveSentReports(bugReportFile, attachedFile);
  }
  done = true;
}

DWORD WINAPI SendThread(void* parameter) {
  std::unique_ptr<std::shared_ptr<MailJob>> job(static_cast<std::shared_ptr<MailJob>*>(parameter));
  try {
    (*job)->Run();
  } catch (...) {
    // The crash reporter's own threads never report their exceptions.
  }
  (*job)->done = true;
  return 0;
}

std::wstring DefaultTempFolder() {
  wchar_t folder[MAX_PATH + 1] = {};
  DWORD n = GetTempPathW(MAX_PATH, folder);
  std::wstring path(folder, n);
  while (!path.empty() && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
  return path;
}

}  // namespace

std::shared_ptr<SendJob> SendBugReport(BugReport& report, const ReportSettings& settings, const BoxOptions& options,
                                       void* owner, bool startedByUser, bool* cancelledInAssistant) {
  if (cancelledInAssistant) *cancelledInAssistant = false;
  HWND box = static_cast<HWND>(owner);
  auto job = std::make_shared<MailJob>(settings);
  if (startedByUser) {
    AssistantResult assistant = RunSendAssistant(box, report, settings, options);
    if (!assistant.finished) {
      if (cancelledInAssistant) *cancelledInAssistant = true;
      return nullptr;
    }
    if (options.onAction) options.onAction(baSendAssistantDone);
    job->sender = assistant.sender;
    if (assistant.attachScreenshot) job->screenshot = assistant.screenshot ? assistant.screenshot : options.screenshot;
  }
  if (options.waitForCompleteReport) options.waitForCompleteReport();

  PlaceholderValues values = options.placeholders;
  values.except_class = options.exceptionClass;
  values.except_msg = options.exceptionMessage;
  job->reportText = report.Text();
  values.bug_report = job->reportText;
  values.error_details = report.Sections().Get("error details");
  job->subject = ExpandPlaceholders(settings.Text("MailSubj"), values);
  job->body = ExpandPlaceholders(settings.Text("MailBody"), values);
  job->tempFolder = options.tempFolder.empty() ? DefaultTempFolder() : options.tempFolder;
  job->bugReportFile = options.bugReportFile;
  job->reportSaved = options.reportSaved;
  job->startedByUser = startedByUser;
  job->unsafeForDialogs = options.unsafeForDialogs;
  job->owner = box;

  bool threaded = false;
  if (settings.IsOn("SendInBackgr")) {
    auto* parameter = new std::shared_ptr<MailJob>(job);
    DWORD id = 0;
    job->thread.Reset(CreateThread(nullptr, 0, SendThread, parameter, 0, &id));
    if (job->thread) {
      threaded = true;
      // Let the mail client come in front; the box stays usable.
      if (box) SetWindowPos(box, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    } else {
      delete parameter;
    }
  }
  if (!threaded) job->Run();
  if (options.onAction) options.onAction(baSent);
  return job;
}
