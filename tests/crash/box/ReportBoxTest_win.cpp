// The report box, the send assistant and the mail routes, end to end: the
// test program shows the box for a fabricated report and this test drives
// it from outside through its window handles. The mail client is a double
// of mapi32.dll in the prefix's system folder and a recording program
// registered for the "mailto" protocol.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <sstream>

#include "WineTestSupport_win.h"
#include "crash/box/ReportBox.h"
#include "support/ScopedHandle.h"

using namespace testing_support;

namespace {

const char kContactKey[] = "Software\\Korvel\\ContactForm";
const wchar_t kMailtoKey[] = L"mailto\\shell\\open\\command";

std::wstring SystemFile(const wchar_t* name) {
  wchar_t folder[MAX_PATH] = {};
  GetSystemDirectoryW(folder, MAX_PATH);
  return std::wstring(folder) + L"\\" + name;
}

bool ReadDefault(HKEY root, const wchar_t* key, std::wstring* value, DWORD* type) {
  HKEY k = nullptr;
  if (RegOpenKeyExW(root, key, 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
  const ScopedRegKey opened(k);
  wchar_t buffer[2048] = {};
  DWORD size = sizeof buffer - sizeof(wchar_t);
  const bool ok = RegQueryValueExW(k, nullptr, nullptr, type, reinterpret_cast<BYTE*>(buffer), &size) == ERROR_SUCCESS;
  if (ok) *value = buffer;
  return ok;
}

void WriteDefault(HKEY root, const wchar_t* key, const std::wstring& value, DWORD type) {
  HKEY k = nullptr;
  ASSERT_EQ(RegCreateKeyExW(root, key, 0, nullptr, 0, KEY_WRITE, nullptr, &k, nullptr), ERROR_SUCCESS);
  const ScopedRegKey created(k);
  RegSetValueExW(k, nullptr, 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

HWND WaitForWindow(DWORD pid, const wchar_t* cls, int timeoutMs = 20000) {
  HWND found = nullptr;
  WaitUntil(
      [&] {
        for (HWND w : ProcessWindows(pid, cls))
          if (IsWindowVisible(w)) found = w;
        return found != nullptr;
      },
      timeoutMs);
  return found;
}

HWND FocusOf(HWND window) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) return nullptr;
  return info.hwndFocus;
}

// Keys go to the focused control, as the keyboard would deliver them.
void PressKey(HWND window, WPARAM key) {
  // Until the box has set its focus, the thread's focus may still be a
  // window of the one before (or none): the box itself takes the key then.
  HWND target = FocusOf(window);
  if (!target || (target != window && !IsChild(window, target))) target = window;
  PostMessageW(target, WM_KEYDOWN, key, 1);
  PostMessageW(target, WM_KEYUP, key, 0xC0000001);
}

// A key combination through the platform's input, as typed: the box checks
// the real state of Ctrl, which posted messages leave untouched.
bool TypeChord(HWND window, WORD modifier, WORD key) {
  SetForegroundWindow(window);
  if (!WaitUntil([&] { return GetForegroundWindow() == window; }, 5000)) return false;
  INPUT input[4] = {};
  for (INPUT& i : input) i.type = INPUT_KEYBOARD;
  input[0].ki.wVk = modifier;
  input[1].ki.wVk = key;
  input[2].ki.wVk = key;
  input[2].ki.dwFlags = KEYEVENTF_KEYUP;
  input[3].ki.wVk = modifier;
  input[3].ki.dwFlags = KEYEVENTF_KEYUP;
  return SendInput(4, input, sizeof(INPUT)) == 4;
}

std::wstring ClipboardText();

// Ctrl+C into the box until the clipboard holds text: on a loaded machine one
// typed chord was seen to copy nothing under Wine. Copying again changes
// nothing, so a retry hides no fault of the box.
bool CopyWithCtrlC(HWND box, std::wstring& copied) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    if (!TypeChord(box, VK_CONTROL, 'C')) return false;
    if (WaitUntil([&] { return !(copied = ClipboardText()).empty(); }, 2000)) return true;
  }
  return false;
}

std::wstring ClipboardText() {
  std::wstring text;
  if (!OpenClipboard(nullptr)) return text;
  if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
    if (const auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
      text = chars;
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return text;
}

void ClearClipboard() {
  if (!OpenClipboard(nullptr)) return;
  EmptyClipboard();
  CloseClipboard();
}

// The text of a message box: its static control (id 0xFFFF).
std::wstring MessageBoxText(HWND dialog) { return WindowText(GetDlgItem(dialog, 0xFFFF)); }

std::uint32_t BigEndian32(const std::string& bytes, std::size_t at) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])) << 24 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 16 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 8 |
         static_cast<unsigned char>(bytes[at + 3]);
}

// The data of a PNG chunk by type, or "" when there is none.
std::string PngChunk(const std::string& png, const char* type) {
  for (std::size_t at = 8; at + 8 <= png.size();) {
    const std::uint32_t length = BigEndian32(png, at);
    if (png.compare(at + 4, 4, type) == 0) return png.substr(at + 8, length);
    at += 12 + length;
  }
  return std::string();
}

void Click(HWND parent, int id) {
  PostMessageW(parent, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(parent, id)));
}

void SetText(HWND control, const std::wstring& text) {
  DWORD_PTR unused = 0;
  SendMessageTimeoutW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_ABORTIFHUNG, 5000, &unused);
}

HWND Item(HWND assistant, int index) { return GetDlgItem(assistant, kAssistItemBaseId + index); }

class ReportBoxTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // The mail client: the double in the system folder (loaded natively
    // through WINEDLLOVERRIDES=mapi32=n) and the mailto recorder.
    const std::wstring mapi = SystemFile(L"mapi32.dll");
    backedUp_ = CopyFileW(mapi.c_str(), (mapi + L".qexsave").c_str(), FALSE) != FALSE;
    const std::string dll = PathFromEnv("QEX_MAPI_DOUBLE_DLL");
    ASSERT_TRUE(CopyFileA(dll.c_str(), WideToUtf8Local(mapi).c_str(), FALSE)) << dll;
    hadMailto_ = ReadDefault(HKEY_CLASSES_ROOT, kMailtoKey, &oldMailto_, &oldMailtoType_);
    RegisterMailtoRecorder();
  }

  // The recorder as the "mailto" handler, with an environment variable in
  // its path: the handler's command is expanded.
  static void RegisterMailtoRecorder() {
    const std::string recorder = PathFromEnv("QEX_MAILTO_RECORDER_EXE");
    const std::string folder = recorder.substr(0, recorder.find_last_of('\\'));
    const std::string file = recorder.substr(recorder.find_last_of('\\') + 1);
    SetEnvironmentVariableA("QEX_BOX_TOOLS", folder.c_str());
    WriteDefault(HKEY_CLASSES_ROOT, kMailtoKey, L"\"%QEX_BOX_TOOLS%\\" + FromUtf8(file) + L"\" \"%1\"", REG_EXPAND_SZ);
  }

  static void TearDownTestSuite() {
    const std::wstring mapi = SystemFile(L"mapi32.dll");
    if (backedUp_) {
      CopyFileW((mapi + L".qexsave").c_str(), mapi.c_str(), FALSE);
      DeleteFileW((mapi + L".qexsave").c_str());
    }
    if (hadMailto_) WriteDefault(HKEY_CLASSES_ROOT, kMailtoKey, oldMailto_, oldMailtoType_);
    else RegDeleteKeyW(HKEY_CLASSES_ROOT, kMailtoKey);
  }

  static std::string WideToUtf8Local(const std::wstring& w) { return ToUtf8(w); }

  void SetUp() override {
    RegDeleteTree(kContactKey);
    mapiLog_ = dir_.Path() + "\\mapi.log";
    mailtoLog_ = dir_.Path() + "\\mailto.log";
    bugReportFile_ = dir_.Path() + "\\bugreport.txt";
    SetEnvironmentVariableA("QEX_MAPI_LOG", mapiLog_.c_str());
    SetEnvironmentVariableA("QEX_MAILTO_LOG", mailtoLog_.c_str());
    SetEnvironmentVariableA("QEX_MAPI_RESULT", "0");
    // The full box for an exception that can continue, unless a test says otherwise.
    SetEnvironmentVariableA("QEX_BOX_SHOW_CONFIG", nullptr);
    SetEnvironmentVariableA("QEX_BOX_CANNOT_CONTINUE", nullptr);
    SetEnvironmentVariableA("QEX_BOX_SCREEN_ROOM", nullptr);
    SetEnvironmentVariableA("QEX_EDIT_HUGE", nullptr);
    // An older report already in the file.
    std::ofstream(bugReportFile_, std::ios::binary) << "date/time : 2024-01-01, 00:00:00, 1ms\r\nolder report\r\n\r\n";
  }
  void TearDown() override { RegDeleteTree(kContactKey); }

  bool StartTarget(int boxes = 1) {
    return target_.Start(PathFromEnv("QEX_BOX_TARGET_EXE"), "\"" + dir_.Path() + "\" " + std::to_string(boxes));
  }
  HWND Box() { return WaitForWindow(target_.Pid(), kReportBoxClass); }
  HWND Assistant() { return WaitForWindow(target_.Pid(), kSendAssistantClass); }
  std::string Result() {
    EXPECT_EQ(target_.Wait(20000), 0);
    return ReadWholeFile(dir_.Path() + "\\result.txt");
  }

  // Fills the contact page and the details page and stops on the
  // screenshot page.
  void ReachScreenshotPage(HWND assistant, const std::wstring& name, const std::wstring& email, bool remember) {
    ASSERT_TRUE(assistant);
    SetText(Item(assistant, 1), name);
    SetText(Item(assistant, 3), email);
    if (remember) SendMessageW(Item(assistant, 4), BM_SETCHECK, BST_CHECKED, 0);
    ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(GetDlgItem(assistant, kAssistContinueId)) != FALSE; }, 5000))
        << ToUtf8(WindowText(Item(assistant, 1))) << "|" << ToUtf8(WindowText(Item(assistant, 3))) << "|"
        << ToUtf8(WindowText(GetDlgItem(assistant, kAssistTitleId)));
    Click(assistant, kAssistContinueId);
    ASSERT_TRUE(WaitUntil([&] { return WindowText(GetDlgItem(assistant, kAssistTitleId)) == L"Error Details"; }, 5000));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(assistant, kAssistContinueId)));  // the description is required
    // Typed: a multi-line edit reports no change for WM_SETTEXT.
    for (wchar_t c : std::wstring(L"it happened while pressing a key")) PostMessageW(Item(assistant, 1), WM_CHAR, c, 1);
    ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(GetDlgItem(assistant, kAssistContinueId)) != FALSE; }, 5000));
    Click(assistant, kAssistContinueId);
    ASSERT_TRUE(WaitUntil(
        [&] { return WindowText(GetDlgItem(assistant, kAssistTitleId)) == L"Screenshot Configuration"; }, 5000));
    EXPECT_EQ(SendMessageW(Item(assistant, 0), BM_GETCHECK, 0, 0), BST_CHECKED);
  }

  // The whole assistant with "Continue", the screenshot attached.
  void CompleteAssistant(HWND assistant, const std::wstring& name, const std::wstring& email, bool remember) {
    ReachScreenshotPage(assistant, name, email, remember);
    if (HasFatalFailure()) return;
    Click(assistant, kAssistContinueId);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(assistant); }, 5000));
  }

  TempDir dir_;
  ChildProcess target_;
  std::string mapiLog_, mailtoLog_, bugReportFile_;
  static bool backedUp_, hadMailto_;
  static std::wstring oldMailto_;
  static DWORD oldMailtoType_;
};

bool ReportBoxTest::backedUp_ = false;
bool ReportBoxTest::hadMailto_ = false;
std::wstring ReportBoxTest::oldMailto_;
DWORD ReportBoxTest::oldMailtoType_ = REG_SZ;

TEST_F(ReportBoxTest, OpensExpandedWithTheReportAndEscapeContinues) {
  ASSERT_TRUE(StartTarget());
  HWND box = Box();
  ASSERT_TRUE(box);
  EXPECT_EQ(WindowText(box), L"crash_box_target.exe");
  EXPECT_EQ(WindowText(GetDlgItem(box, kBoxMessageId)), L"An error occurred in the application.");
  const LONG style = GetWindowLongW(box, GWL_STYLE), exStyle = GetWindowLongW(box, GWL_EXSTYLE);
  EXPECT_TRUE(style & WS_THICKFRAME);
  EXPECT_TRUE(style & WS_MAXIMIZEBOX);
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
  EXPECT_TRUE(exStyle & WS_EX_TOPMOST);
  // Expanded from the start: no "show bug report"; send, continue, restart, close.
  EXPECT_FALSE(GetDlgItem(box, kBoxButtonBaseId + bbShow));
  EXPECT_FALSE(GetDlgItem(box, kBoxButtonBaseId + bbSave));
  EXPECT_EQ(WindowText(GetDlgItem(box, kBoxButtonBaseId + bbSend)), L"send bug report");
  EXPECT_EQ(WindowText(GetDlgItem(box, kBoxButtonBaseId + bbContinue)), L"continue application");
  EXPECT_EQ(WindowText(GetDlgItem(box, kBoxButtonBaseId + bbRestart)), L"restart application");
  EXPECT_EQ(WindowText(GetDlgItem(box, kBoxButtonBaseId + bbClose)), L"close application");
  RECT button = {};
  GetWindowRect(GetDlgItem(box, kBoxButtonBaseId + bbSend), &button);
  EXPECT_EQ(button.bottom - button.top, 22);
  EXPECT_TRUE(WaitUntil([&] { return FocusOf(box) == GetDlgItem(box, kBoxButtonBaseId + bbSend); }, 5000));
  RECT frame = {};
  GetWindowRect(box, &frame);
  EXPECT_GT(frame.bottom - frame.top, 491);
  EXPECT_LE(frame.bottom - frame.top, GetSystemMetrics(SM_CYSCREEN) - 5 * GetSystemMetrics(SM_CYCAPTION));

  // General tab first: the header, read-only.
  HWND tabs = GetDlgItem(box, kBoxTabsId);
  ASSERT_TRUE(tabs);
  HWND text = GetDlgItem(box, kBoxReportTextId);
  EXPECT_NE(WindowText(text).find(L"exception class"), std::wstring::npos);
  EXPECT_TRUE(GetWindowLongW(text, GWL_STYLE) & ES_READONLY);
  // general, call stack, cpu regs, disasm.
  EXPECT_EQ(SendMessageW(tabs, TCM_GETITEMCOUNT, 0, 0), 4);
  // The call stack fills in as the report completes: one row per frame.
  DWORD_PTR unused = 0;
  SendMessageTimeoutW(tabs, TCM_SETCURFOCUS, 1, 0, SMTO_ABORTIFHUNG, 5000, &unused);
  HWND list = GetDlgItem(box, kBoxCallStackId);
  EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(list) && SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) == 4; }, 5000));
  HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
  EXPECT_EQ(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0), 7);

  PressKey(box, VK_ESCAPE);
  const std::string result = Result();
  EXPECT_NE(result.find("choice=continue sent=0 saved=1 sendStarted=0 actions=11,"), std::string::npos) << result;
  EXPECT_FALSE(FileExists(mapiLog_));
}

TEST_F(ReportBoxTest, CancelOnTheContactPageSendsNothingAndTheReportIsSavedAtTheEnd) {
  ASSERT_TRUE(StartTarget());
  HWND box = Box();
  ASSERT_TRUE(box);
  ASSERT_TRUE(WaitUntil([&] { return FocusOf(box) == GetDlgItem(box, kBoxButtonBaseId + bbSend); }, 5000));
  PressKey(box, VK_RETURN);  // Enter sends
  HWND assistant = Assistant();
  ASSERT_TRUE(assistant);
  EXPECT_EQ(WindowText(assistant), L"Send Assistant");
  EXPECT_EQ(WindowText(GetDlgItem(assistant, kAssistTitleId)), L"Contact Information");
  EXPECT_EQ(WindowText(Item(assistant, 0)), L"your name:");
  EXPECT_EQ(WindowText(Item(assistant, 4)), L"remember me");
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(assistant, kAssistSkipId)));
  EXPECT_FALSE(IsWindowEnabled(box));  // modal over the box
  EXPECT_FALSE(GetWindowLongW(box, GWL_EXSTYLE) & WS_EX_TOPMOST);
  Click(assistant, kAssistCancelId);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(assistant); }, 5000));
  EXPECT_TRUE(IsWindow(box));  // the box stays open
  PressKey(box, VK_ESCAPE);
  const std::string result = Result();
  EXPECT_NE(result.find("choice=continue sent=0 saved=1 sendStarted=0 actions=0,11,"), std::string::npos) << result;
  EXPECT_FALSE(FileExists(mapiLog_));
  EXPECT_FALSE(FileExists(mailtoLog_));
  const std::string file = ReadWholeFile(bugReportFile_);
  EXPECT_NE(file.find("older report"), std::string::npos);
  EXPECT_NE(file.find("EAccessViolation"), std::string::npos);
}

TEST_F(ReportBoxTest, AnAddressWithoutADotAfterItsAtKeepsContinueDisabled) {
  ASSERT_TRUE(StartTarget());
  HWND box = Box();
  ASSERT_TRUE(box);
  Click(box, kBoxButtonBaseId + bbSend);
  HWND assistant = Assistant();
  ASSERT_TRUE(assistant);
  HWND next = GetDlgItem(assistant, kAssistContinueId);
  EXPECT_FALSE(IsWindowEnabled(next));  // the address is required
  SetText(Item(assistant, 3), L"user@example");
  Sleep(200);
  EXPECT_FALSE(IsWindowEnabled(next));
  SetText(Item(assistant, 3), L"user@.example.org");
  Sleep(200);
  EXPECT_FALSE(IsWindowEnabled(next));
  SetText(Item(assistant, 3), L"user@example.org");
  EXPECT_TRUE(WaitUntil([&] { return IsWindowEnabled(next) != FALSE; }, 5000));
  Click(assistant, kAssistCancelId);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(assistant); }, 5000));
  PressKey(box, VK_ESCAPE);
  EXPECT_NE(Result().find("sent=0"), std::string::npos);
}

TEST_F(ReportBoxTest, MapiSuccessSendsTheAttachmentsDeletesTheFileAndSkipsTheFinalSave) {
  ASSERT_TRUE(StartTarget());
  HWND box = Box();
  ASSERT_TRUE(box);
  PressKey(box, VK_RETURN);
  CompleteAssistant(Assistant(), L"Tess Tester", L"tess@example.org", true);
  ASSERT_TRUE(WaitUntil([&] { return FileExists(mapiLog_); }, 10000));
  ASSERT_TRUE(WaitUntil([&] { return !FileExists(bugReportFile_); }, 10000));  // it went out as the attachment
  EXPECT_TRUE(IsWindow(box));
  PressKey(box, VK_ESCAPE);
  const std::string result = Result();
  EXPECT_NE(result.find("choice=continue sent=1 saved=0 sendStarted=1 actions=0,3,6,11,"), std::string::npos) << result;
  EXPECT_FALSE(FileExists(bugReportFile_));

  const std::string log = ReadWholeFile(mapiLog_);
  EXPECT_NE(log.find("call flags=9\n"), std::string::npos) << log;  // log-on and compose dialogs
  EXPECT_NE(log.find("subject=bug report\n"), std::string::npos);
  EXPECT_NE(log.find("body=please find the bug report attached\n"), std::string::npos);
  EXPECT_NE(log.find("from.name=Tess Tester\n"), std::string::npos);
  EXPECT_NE(log.find("from.address=SMTP:tess@example.org\n"), std::string::npos);
  EXPECT_NE(log.find("recipients=0\n"), std::string::npos);
  EXPECT_NE(log.find("files=2\n"), std::string::npos);
  EXPECT_NE(log.find("file.name=bugreport.txt\n"), std::string::npos);
  EXPECT_NE(log.find("file.name=screenshot.png\n"), std::string::npos);
  // The attachment: the whole file, the current report appended with the
  // assistant's outputs in it.
  const std::string attached = ReadWholeFile(dir_.Path() + "\\attached-bugreport.txt");
  EXPECT_NE(attached.find("older report"), std::string::npos);
  EXPECT_NE(attached.find("contact name"), std::string::npos);
  EXPECT_NE(attached.find("contact email"), std::string::npos);
  EXPECT_LT(attached.find("contact email"), attached.find("callstack crc"));
  EXPECT_NE(attached.find("\r\n\r\nerror details:\r\nit happened while pressing a key"), std::string::npos);
  const std::string png = ReadWholeFile(dir_.Path() + "\\attached-screenshot.png");
  EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  EXPECT_EQ(RegValue(kContactKey, "RememberName"), "Tess Tester");
  EXPECT_EQ(RegValue(kContactKey, "RememberEmail"), "tess@example.org");

  // The next crash: the contact page comes up filled, focused on "Continue".
  ChildProcess next;
  ASSERT_TRUE(next.Start(PathFromEnv("QEX_BOX_TARGET_EXE"), "\"" + dir_.Path() + "\" 1"));
  HWND box2 = WaitForWindow(next.Pid(), kReportBoxClass);
  ASSERT_TRUE(box2);
  PressKey(box2, VK_RETURN);
  HWND assistant = WaitForWindow(next.Pid(), kSendAssistantClass);
  ASSERT_TRUE(assistant);
  EXPECT_EQ(WindowText(Item(assistant, 1)), L"Tess Tester");
  EXPECT_EQ(WindowText(Item(assistant, 3)), L"tess@example.org");
  EXPECT_EQ(SendMessageW(Item(assistant, 4), BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_TRUE(WaitUntil([&] { return FocusOf(assistant) == GetDlgItem(assistant, kAssistContinueId); }, 5000));
  Click(assistant, kAssistCancelId);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(assistant); }, 5000));
  PressKey(box2, VK_ESCAPE);
  EXPECT_EQ(next.Wait(20000), 0);
}

TEST_F(ReportBoxTest, TheNextSendOfTheRunIsPresetFromTheFormCacheAndSkipLeavesThePageOut) {
  auto calls = [&] {
    const std::string log = ReadWholeFile(mapiLog_);
    std::size_t n = 0;
    for (std::size_t at = log.find("call flags"); at != std::string::npos; at = log.find("call flags", at + 1)) ++n;
    return n;
  };
  ASSERT_TRUE(StartTarget(2));
  HWND box = Box();
  ASSERT_TRUE(box);
  PressKey(box, VK_RETURN);
  HWND assistant = Assistant();
  ReachScreenshotPage(assistant, L"Tess Tester", L"tess@example.org", false);
  SendMessageW(Item(assistant, 0), BM_SETCHECK, BST_UNCHECKED, 0);
  Click(assistant, kAssistContinueId);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(assistant); }, 5000));
  ASSERT_TRUE(WaitUntil([&] { return calls() == 1; }, 10000));
  EXPECT_NE(ReadWholeFile(mapiLog_).find("files=1\n"), std::string::npos);  // no screenshot
  PressKey(box, VK_ESCAPE);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(box); }, 5000));

  // The second exception of the run: every page comes up as it was left,
  // though nothing was remembered in the registry.
  HWND second = Box();
  ASSERT_TRUE(second);
  PressKey(second, VK_RETURN);
  assistant = Assistant();
  ASSERT_TRUE(assistant);
  EXPECT_FALSE(RegValueExists(kContactKey, "RememberEmail"));
  EXPECT_EQ(WindowText(Item(assistant, 1)), L"Tess Tester");
  EXPECT_EQ(WindowText(Item(assistant, 3)), L"tess@example.org");
  ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(GetDlgItem(assistant, kAssistContinueId)) != FALSE; }, 5000));
  Click(assistant, kAssistContinueId);
  ASSERT_TRUE(WaitUntil([&] { return WindowText(GetDlgItem(assistant, kAssistTitleId)) == L"Error Details"; }, 5000));
  EXPECT_EQ(WindowText(Item(assistant, 1)), L"it happened while pressing a key");
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(assistant, kAssistSkipId)));
  Click(assistant, kAssistSkipId);
  ASSERT_TRUE(WaitUntil(
      [&] { return WindowText(GetDlgItem(assistant, kAssistTitleId)) == L"Screenshot Configuration"; }, 5000));
  EXPECT_EQ(SendMessageW(Item(assistant, 0), BM_GETCHECK, 0, 0), BST_UNCHECKED);
  Click(assistant, kAssistContinueId);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(assistant); }, 5000));
  ASSERT_TRUE(WaitUntil([&] { return calls() == 2; }, 10000));
  PressKey(second, VK_ESCAPE);
  const std::string result = Result();
  EXPECT_NE(result.find("box=1 choice=continue sent=1"), std::string::npos) << result;
  EXPECT_NE(result.find("box=2 choice=continue sent=1"), std::string::npos) << result;

  // The second attachment: the second report alone (the file went out with
  // the first), with the contact but without the skipped description.
  const std::string attached = ReadWholeFile(dir_.Path() + "\\attached-bugreport.txt");
  EXPECT_EQ(ReportField(attached, "exception number"), "2") << attached;
  EXPECT_EQ(ReportField(attached, "contact name"), "Tess Tester");
  EXPECT_EQ(attached.find("error details"), std::string::npos);
}

TEST_F(ReportBoxTest, TheUsersCancelInTheMailClientShowsNoErrorAndStartsNoMailto) {
  SetEnvironmentVariableA("QEX_MAPI_RESULT", "1");  // MAPI_USER_ABORT
  ASSERT_TRUE(StartTarget());
  HWND box = Box();
  ASSERT_TRUE(box);
  PressKey(box, VK_RETURN);
  CompleteAssistant(Assistant(), L"", L"tess@example.org", false);
  ASSERT_TRUE(WaitUntil([&] { return FileExists(mapiLog_); }, 10000));
  Sleep(1500);
  EXPECT_TRUE(ProcessWindows(target_.Pid(), L"#32770").empty());
  EXPECT_FALSE(FileExists(mailtoLog_));
  EXPECT_TRUE(FileExists(bugReportFile_));
  EXPECT_NE(ReadWholeFile(mapiLog_).find("from.name=tess@example.org\n"), std::string::npos);
  PressKey(box, VK_ESCAPE);
  const std::string result = Result();
  EXPECT_NE(result.find("sent=0 saved=1 sendStarted=1"), std::string::npos) << result;
  EXPECT_FALSE(RegKeyExists(kContactKey) && RegValueExists(kContactKey, "RememberEmail"));
}

TEST_F(ReportBoxTest, WithoutMapiTheMailtoHandlerGetsThePercentEncodedReportAndTheFileStays) {
  SetEnvironmentVariableA("QEX_MAPI_RESULT", "2");  // MAPI_E_FAILURE
  ASSERT_TRUE(StartTarget());
  HWND box = Box();
  ASSERT_TRUE(box);
  PressKey(box, VK_RETURN);
  CompleteAssistant(Assistant(), L"Tess \"quoted\" Tester", L"tess@example.org", false);
  ASSERT_TRUE(WaitUntil([&] { return FileExists(mailtoLog_) && ReadWholeFile(mailtoLog_).find("arg1=") != std::string::npos; },
                        10000));
  PressKey(box, VK_ESCAPE);
  const std::string result = Result();
  EXPECT_NE(result.find("sent=1 saved=0"), std::string::npos) << result;
  EXPECT_TRUE(FileExists(bugReportFile_));  // no attachment went out this way
  EXPECT_TRUE(ProcessWindows(target_.Pid(), L"#32770").empty());

  const std::string log = ReadWholeFile(mailtoLog_);
  EXPECT_NE(log.find("argc=2\n"), std::string::npos) << log;  // the link is one argument
  const std::string prefix = "arg1=mailto:?subject=bug%20report&body=";
  ASSERT_NE(log.find(prefix), std::string::npos) << log;
  // The report as body: "date/time" percent-encoded, CR LF as %0D%0A.
  EXPECT_NE(log.find("date%2Ftime"), std::string::npos);
  EXPECT_NE(log.find("%0D%0A"), std::string::npos);
  EXPECT_NE(log.find("EAccessViolation"), std::string::npos);
  EXPECT_NE(log.find("error%20details"), std::string::npos);
}

TEST_F(ReportBoxTest, F1AsksTheHandlersForHelpAndCtrlCCopiesTheWholeReport) {
  ASSERT_TRUE(StartTarget());
  HWND box = Box();
  ASSERT_TRUE(box);
  ASSERT_TRUE(WaitUntil([&] { return FocusOf(box) == GetDlgItem(box, kBoxButtonBaseId + bbSend); }, 5000));
  PressKey(box, VK_F1);
  // The report completes a moment after the box shows: copy once it has.
  ASSERT_TRUE(WaitUntil([&] { return WindowText(GetDlgItem(box, kBoxReportTextId)).find(L"$0a1b2c3d") != std::wstring::npos; },
                        10000));
  ClearClipboard();
  std::wstring copied;
  EXPECT_TRUE(CopyWithCtrlC(box, copied));
  // The whole report, not just the page shown: header and every section.
  EXPECT_NE(copied.find(L"exception class"), std::wstring::npos) << ToUtf8(copied);
  EXPECT_NE(copied.find(L"TfrmMain.tmrKeepLiveTimer"), std::wstring::npos);
  EXPECT_NE(copied.find(L"cpu registers"), std::wstring::npos);
  EXPECT_NE(copied.find(L"<-- fault"), std::wstring::npos);
  EXPECT_TRUE(IsWindow(box));  // neither key closes the box
  PressKey(box, VK_ESCAPE);
  const std::string result = Result();
  EXPECT_NE(result.find("choice=continue sent=0 saved=1 sendStarted=0 actions=10,11,"), std::string::npos) << result;
  // The saved report is what was copied.
  const std::string file = ReadWholeFile(bugReportFile_);
  const std::string copiedUtf8 = ToUtf8(copied);
  EXPECT_NE(file.find(copiedUtf8.substr(0, copiedUtf8.find("\r\n"))), std::string::npos);
}

TEST_F(ReportBoxTest, ThePlainBoxShowsTheMessageWithOkAndCopiesTheMessage) {
  SetEnvironmentVariableA("QEX_BOX_SHOW_CONFIG", "3");
  ASSERT_TRUE(StartTarget());
  HWND box = Box();
  ASSERT_TRUE(box);
  EXPECT_EQ(WindowText(box), L"crash_box_target");  // the file name without extension
  EXPECT_EQ(WindowText(GetDlgItem(box, kBoxMessageId)),
            L"Access violation at address 00401000. Read of address 00000000.");
  HWND ok = GetDlgItem(box, kPlainOkId);
  ASSERT_TRUE(ok);
  EXPECT_EQ(WindowText(ok), L"&OK");
  RECT button = {};
  GetWindowRect(ok, &button);
  EXPECT_EQ(button.bottom - button.top, 23);
  EXPECT_FALSE(GetDlgItem(box, kPlainDetailsId));
  EXPECT_FALSE(GetDlgItem(box, kBoxTabsId));
  for (int i = 0; i < 7; ++i) EXPECT_FALSE(GetDlgItem(box, kBoxButtonBaseId + i)) << i;
  EXPECT_FALSE(GetWindowLongW(box, GWL_STYLE) & WS_THICKFRAME);
  EXPECT_TRUE(WaitUntil([&] { return FocusOf(box) == ok; }, 5000));

  ClearClipboard();
  std::wstring copied;
  EXPECT_TRUE(CopyWithCtrlC(box, copied));
  EXPECT_EQ(copied, L"Access violation at address 00401000. Read of address 00000000.");

  PressKey(box, VK_RETURN);  // OK continues
  const std::string result = Result();
  EXPECT_NE(result.find("choice=continue sent=0"), std::string::npos) << result;
  EXPECT_EQ(result.find("actions=0,"), std::string::npos);
}

TEST_F(ReportBoxTest, ThePlainBoxOkClosesWhenTheExceptionCannotContinue) {
  SetEnvironmentVariableA("QEX_BOX_SHOW_CONFIG", "3");
  SetEnvironmentVariableA("QEX_BOX_CANNOT_CONTINUE", "1");
  ASSERT_TRUE(StartTarget());
  HWND box = Box();
  ASSERT_TRUE(box);
  Click(box, kPlainOkId);
  const std::string result = Result();
  EXPECT_NE(result.find("choice=close"), std::string::npos) << result;
}

TEST_F(ReportBoxTest, DetailsReopensThePlainBoxExpandedWithTheReport) {
  SetEnvironmentVariableA("QEX_BOX_SHOW_CONFIG", "2");
  ASSERT_TRUE(StartTarget());
  HWND plain = Box();
  ASSERT_TRUE(plain);
  HWND details = GetDlgItem(plain, kPlainDetailsId);
  ASSERT_TRUE(details);
  EXPECT_EQ(WindowText(details), L"&Details");
  EXPECT_TRUE(GetDlgItem(plain, kPlainOkId));
  Click(plain, kPlainDetailsId);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(plain); }, 5000));
  HWND box = Box();
  ASSERT_TRUE(box);
  EXPECT_EQ(WindowText(box), L"crash_box_target.exe");
  EXPECT_TRUE(GetDlgItem(box, kBoxTabsId));
  EXPECT_TRUE(GetDlgItem(box, kBoxButtonBaseId + bbSend));
  EXPECT_FALSE(GetDlgItem(box, kBoxButtonBaseId + bbShow));
  EXPECT_NE(WindowText(GetDlgItem(box, kBoxReportTextId)).find(L"exception class"), std::wstring::npos);
  PressKey(box, VK_ESCAPE);
  const std::string result = Result();
  EXPECT_NE(result.find("box=1 choice=continue"), std::string::npos) << result;
  EXPECT_EQ(result.find("box=2"), std::string::npos);  // one exception, one line
}

TEST_F(ReportBoxTest, WhenNoRouteWorksTheUserIsToldAndTheReportIsSaved) {
  SetEnvironmentVariableA("QEX_MAPI_RESULT", "2");  // MAPI_E_FAILURE
  // The "mailto" handler names a program that does not exist.
  WriteDefault(HKEY_CLASSES_ROOT, kMailtoKey, L"\"C:\\no such folder\\mailer.exe\" \"%1\"", REG_SZ);
  ASSERT_TRUE(StartTarget());
  HWND box = Box();
  ASSERT_TRUE(box);
  PressKey(box, VK_RETURN);
  CompleteAssistant(Assistant(), L"", L"tess@example.org", false);
  HWND sorry = nullptr;
  EXPECT_TRUE(WaitUntil(
      [&] {
        for (HWND w : ProcessWindows(target_.Pid(), L"#32770"))
          if (IsWindowVisible(w) && MessageBoxText(w) == L"Sorry, sending the bug report didn't work.") sorry = w;
        return sorry != nullptr;
      },
      15000));
  RegisterMailtoRecorder();  // again, for the tests after this one
  ASSERT_TRUE(sorry);
  EXPECT_EQ(WindowText(sorry), L"Error");  // the default caption
  PostMessageW(sorry, WM_COMMAND, IDOK, 0);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(sorry); }, 5000));
  EXPECT_TRUE(FileExists(mapiLog_));
  EXPECT_FALSE(FileExists(mailtoLog_));
  PressKey(box, VK_ESCAPE);
  const std::string result = Result();
  EXPECT_NE(result.find("sent=0 saved=1 sendStarted=1"), std::string::npos) << result;
  EXPECT_TRUE(FileExists(bugReportFile_));
}

// The user's image editor for the test's life: the ".bmp" edit verb of the
// classes root names the editor double.
class ImageEditorVerb {
 public:
  ImageEditorVerb() {
    had_ = ReadDefault(HKEY_CLASSES_ROOT, L".bmp", &value_, &type_);
    WriteDefault(HKEY_CLASSES_ROOT, L".bmp", L"QexTest.EditedBitmap", REG_SZ);
    WriteDefault(HKEY_CLASSES_ROOT, L"QexTest.EditedBitmap\\shell\\edit\\command",
                 L"\"" + FromUtf8(PathFromEnv("QEX_IMAGE_EDITOR_EXE")) + L"\" \"%1\"", REG_SZ);
  }
  ~ImageEditorVerb() {
    if (had_) WriteDefault(HKEY_CLASSES_ROOT, L".bmp", value_, type_);
    else RegDeleteKeyW(HKEY_CLASSES_ROOT, L".bmp");
    for (const wchar_t* key : {L"QexTest.EditedBitmap\\shell\\edit\\command", L"QexTest.EditedBitmap\\shell\\edit",
                               L"QexTest.EditedBitmap\\shell", L"QexTest.EditedBitmap"})
      RegDeleteKeyW(HKEY_CLASSES_ROOT, key);
  }

 private:
  bool had_ = false;
  std::wstring value_;
  DWORD type_ = REG_SZ;
};

TEST_F(ReportBoxTest, TheScreenshotEditedInTheImageEditorIsTheOneAttached) {
  const ImageEditorVerb editor;
  const std::string editLog = dir_.Path() + "\\edit.log";
  SetEnvironmentVariableA("QEX_EDIT_LOG", editLog.c_str());

  ASSERT_TRUE(StartTarget());
  HWND box = Box();
  ASSERT_TRUE(box);
  PressKey(box, VK_RETURN);
  HWND assistant = Assistant();
  ReachScreenshotPage(assistant, L"", L"tess@example.org", false);
  EXPECT_EQ(WindowText(Item(assistant, 2)), L"(click to edit image)");
  HWND image = Item(assistant, 1);
  ASSERT_TRUE(image);
  PostMessageW(assistant, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(image), STN_CLICKED), reinterpret_cast<LPARAM>(image));
  const std::string bitmap = dir_.Path() + "\\tmp\\screenShot.bmp";
  ASSERT_TRUE(WaitUntil([&] { return ReadWholeFile(editLog).find("edit=") != std::string::npos; }, 15000));
  EXPECT_NE(ReadWholeFile(editLog).find("screenShot.bmp"), std::string::npos) << ReadWholeFile(editLog);
  // The page notices the changed file within a few of its 250 ms ticks;
  // give it ample time before leaving the page.
  Sleep(2000);
  Click(assistant, kAssistContinueId);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(assistant); }, 5000));
  EXPECT_FALSE(FileExists(bitmap));  // deleted on leaving the page
  ASSERT_TRUE(WaitUntil([&] { return FileExists(mapiLog_); }, 10000));
  PressKey(box, VK_ESCAPE);
  EXPECT_NE(Result().find("sent=1"), std::string::npos);

  // The attachment is the edited picture: 64x48, its one colour.
  const std::string png = ReadWholeFile(dir_.Path() + "\\attached-screenshot.png");
  const std::string header = PngChunk(png, "IHDR");
  ASSERT_EQ(header.size(), 13u);
  EXPECT_EQ(BigEndian32(header, 0), 64u);
  EXPECT_EQ(BigEndian32(header, 4), 48u);
  EXPECT_EQ(PngChunk(png, "PLTE"), std::string("\x12\x34\x56", 3));
}

TEST_F(ReportBoxTest, AnEditedScreenshotTooLargeToHoldIsRefusedAndTheReportGoesOn) {
  // 40000 x 30000 pixels of 4 bytes overflow 32 bits; the file declares it
  // at 1 bit per pixel.
  const ImageEditorVerb editor;
  const std::string editLog = dir_.Path() + "\\edit.log";
  SetEnvironmentVariableA("QEX_EDIT_LOG", editLog.c_str());
  SetEnvironmentVariableA("QEX_EDIT_HUGE", "1");
  ASSERT_TRUE(StartTarget());
  HWND box = Box();
  ASSERT_TRUE(box);
  PressKey(box, VK_RETURN);
  HWND assistant = Assistant();
  ReachScreenshotPage(assistant, L"", L"tess@example.org", false);
  HWND image = Item(assistant, 1);
  ASSERT_TRUE(image);
  PostMessageW(assistant, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(image), STN_CLICKED), reinterpret_cast<LPARAM>(image));
  ASSERT_TRUE(WaitUntil([&] { return ReadWholeFile(editLog).find("edit=") != std::string::npos; }, 15000));
  // Several of the page's 250 ms checks see the changed file.
  Sleep(2000);
  ASSERT_TRUE(IsWindow(assistant));
  Click(assistant, kAssistContinueId);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(assistant); }, 5000));
  ASSERT_TRUE(WaitUntil([&] { return FileExists(mapiLog_); }, 10000));
  PressKey(box, VK_ESCAPE);
  EXPECT_NE(Result().find("sent=1"), std::string::npos);

  // The screenshot as taken went out.
  const std::string header = PngChunk(ReadWholeFile(dir_.Path() + "\\attached-screenshot.png"), "IHDR");
  ASSERT_EQ(header.size(), 13u);
  EXPECT_EQ(BigEndian32(header, 0), static_cast<std::uint32_t>(GetSystemMetrics(SM_CXVIRTUALSCREEN)));
  EXPECT_EQ(BigEndian32(header, 4), static_cast<std::uint32_t>(GetSystemMetrics(SM_CYVIRTUALSCREEN)));
}

#if defined(__i386__)
// The address space of the 32-bit build runs short for the screen's pixels
// (several large screens): the box and the report come all the same.
TEST_F(ReportBoxTest, WithoutAddressSpaceForTheScreenshotTheReportGoesWithoutIt) {
  SetEnvironmentVariableA("QEX_BOX_SCREEN_ROOM", "0");
  ASSERT_TRUE(StartTarget());
  HWND box = Box();
  ASSERT_TRUE(box);
  EXPECT_NE(WindowText(GetDlgItem(box, kBoxReportTextId)).find(L"exception class"), std::wstring::npos);
  PressKey(box, VK_ESCAPE);
  const std::string result = Result();
  EXPECT_NE(result.find("saved=1"), std::string::npos) << result;
  EXPECT_NE(result.find("screenshot=0"), std::string::npos) << result;
  EXPECT_NE(ReadWholeFile(bugReportFile_).find("EAccessViolation"), std::string::npos);
}

// Room for one copy of the pixels is enough for the screenshot.
TEST_F(ReportBoxTest, RoomForOneCopyOfTheScreenIsEnoughForTheScreenshot) {
  SetEnvironmentVariableA("QEX_BOX_SCREEN_ROOM", "1");
  ASSERT_TRUE(StartTarget());
  HWND box = Box();
  ASSERT_TRUE(box);
  PressKey(box, VK_ESCAPE);
  const std::string result = Result();
  EXPECT_NE(result.find("saved=1"), std::string::npos) << result;
  EXPECT_NE(result.find("screenshot=1"), std::string::npos) << result;
  EXPECT_NE(ReadWholeFile(bugReportFile_).find("EAccessViolation"), std::string::npos);
}
#endif

}  // namespace

// The real crash reporter: a C++ exception escapes a handler of the target,
// the report is sent through the mail client, and the final step of the
// handling decides on its own that a sent report is not saved.
TEST_F(ReportBoxTest, AReportSentByTheRealHandlerIsNotSavedAtTheEndAndItsMailBodyCarriesTheVersions) {
  const std::string exe = dir_.Path() + "\\crash_box_mail_target.exe";
  ASSERT_TRUE(CopyFileA(PathFromEnv("QEX_MAIL_TARGET_EXE").c_str(), exe.c_str(), FALSE));
  ASSERT_TRUE(target_.Start(exe, "throw \"" + dir_.Path() + "\\target.log\"", dir_.Path()));
  HWND box = Box();
  ASSERT_TRUE(box);
  PressKey(box, VK_RETURN);
  CompleteAssistant(Assistant(), L"Tess Tester", L"tess@example.org", false);
  ASSERT_TRUE(WaitUntil([&] { return FileExists(mapiLog_); }, 10000));
  ASSERT_TRUE(WaitUntil([&] { return !FileExists(bugReportFile_); }, 10000));  // it went out as the attachment
  PressKey(box, VK_ESCAPE);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(box); }, 10000));

  // A second exception is handled only once the first one's handling has
  // ended, final step included: the sent report was not saved.
  for (HWND w : ProcessWindows(target_.Pid(), L"QEXHiddenWindow")) PostMessageW(w, WM_APP + 1, 0, 0);
  HWND second = Box();
  ASSERT_TRUE(second && second != box);
  EXPECT_FALSE(FileExists(bugReportFile_));
  // Closing saves the second report, alone in a new file.
  Click(second, kBoxButtonBaseId + bbClose);
  EXPECT_EQ(target_.Wait(20000), 1);
  const std::string saved = ReadWholeFile(bugReportFile_);
  EXPECT_EQ(ReportField(saved, "exception number"), "2") << saved;
  EXPECT_EQ(saved.find("older report"), std::string::npos);
  EXPECT_EQ(saved.find("\r\n\r\ndate/time"), std::string::npos) << saved;

  // The version placeholders carry the program's file version (the throw
  // site lies in the program), the system one the report's own text.
  const std::string attached = ReadWholeFile(dir_.Path() + "\\attached-bugreport.txt");
  const std::string os = ReportField(attached, "operating system");
  ASSERT_FALSE(os.empty()) << attached;
  const std::string log = ReadWholeFile(mapiLog_);
  EXPECT_NE(log.find("body=app=1.0.0.0 mod=1.0.0.0 os=" + os + "\n"), std::string::npos) << log;
}

// A background send whose compose window stays open while the program goes
// on and fails again: the second exception's report stays in the file when
// the first mail goes out, and the attachments are still there to be read.
TEST_F(ReportBoxTest, ASecondExceptionDuringABackgroundSendKeepsItsReportAndTheAttachments) {
  const std::string holdName = "qex-mapi-hold-" + std::to_string(GetCurrentProcessId());
  const ScopedKernelHandle hold(CreateEventA(nullptr, TRUE, FALSE, holdName.c_str()));
  ASSERT_TRUE(hold);
  SetEnvironmentVariableA("QEX_MAPI_HOLD", holdName.c_str());
  struct Release {
    HANDLE event;
    ~Release() {
      SetEvent(event);
      SetEnvironmentVariableA("QEX_MAPI_HOLD", nullptr);
    }
  } release{hold.Get()};
  const std::string exe = dir_.Path() + "\\crash_box_mail_target.exe";
  ASSERT_TRUE(CopyFileA(PathFromEnv("QEX_MAIL_TARGET_EXE").c_str(), exe.c_str(), FALSE));
  ASSERT_TRUE(target_.Start(exe, "throw \"" + dir_.Path() + "\\target.log\"", dir_.Path()));
  auto exceptionNumbers = [&] {
    std::string numbers;
    std::istringstream lines(ReadWholeFile(bugReportFile_));
    for (std::string line; std::getline(lines, line);)
      if (line.compare(0, 16, "exception number") == 0) numbers += line.substr(line.find(": ") + 2, 1);
    return numbers;
  };

  HWND box = Box();
  ASSERT_TRUE(box);
  PressKey(box, VK_RETURN);
  CompleteAssistant(Assistant(), L"Tess Tester", L"tess@example.org", false);
  ASSERT_TRUE(WaitUntil([&] { return ReadWholeFile(mapiLog_).find("held\n") != std::string::npos; }, 10000));
  // The compose window is open; the user goes on: the report, not sent yet,
  // is saved at the end of handling.
  PressKey(box, VK_ESCAPE);
  ASSERT_TRUE(WaitUntil([&] { return exceptionNumbers() == "1"; }, 10000)) << ReadWholeFile(bugReportFile_);

  // The second exception: the temporary folder is emptied, its report saved
  // (the same throw site: counted, the first one's copy cut out).
  for (HWND w : ProcessWindows(target_.Pid(), L"QEXHiddenWindow")) PostMessageW(w, WM_APP + 1, 0, 0);
  HWND second = Box();
  ASSERT_TRUE(second && second != box);
  PressKey(second, VK_ESCAPE);
  ASSERT_TRUE(WaitUntil([&] { return exceptionNumbers() == "2"; }, 10000)) << ReadWholeFile(bugReportFile_);

  // The mail goes out now.
  SetEvent(hold.Get());
  ASSERT_TRUE(WaitUntil([&] { return ReadWholeFile(mapiLog_).find("file.name=screenshot.png\n") != std::string::npos; },
                        10000));
  ASSERT_TRUE(WaitUntil([&] { return ReadWholeFile(bugReportFile_).find("older report") == std::string::npos; }, 10000))
      << ReadWholeFile(bugReportFile_);
  const std::string log = ReadWholeFile(mapiLog_);
  EXPECT_EQ(log.find("file.missing"), std::string::npos) << log;
  const std::string attached = ReadWholeFile(dir_.Path() + "\\attached-bugreport.txt");
  EXPECT_NE(attached.find("older report"), std::string::npos) << attached;
  const std::size_t current = attached.find("\r\n\r\ndate/time");
  ASSERT_NE(current, std::string::npos) << attached;
  EXPECT_EQ(ReportField(attached.substr(current), "exception number"), "1") << attached;
  const std::string png = ReadWholeFile(dir_.Path() + "\\attached-screenshot.png");
  EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));

  // What went out left the file; the second report stays, whole.
  const std::string file = ReadWholeFile(bugReportFile_);
  EXPECT_EQ(exceptionNumbers(), "2") << file;
  EXPECT_EQ(file.compare(0, 9, "date/time"), 0) << file;
  EXPECT_EQ(ReportField(file, "count"), "2") << file;
  EXPECT_EQ(file.substr(file.size() - 4), "\r\n\r\n");

  for (HWND w : ProcessWindows(target_.Pid(), L"QEXHiddenWindow")) PostMessageW(w, WM_CLOSE, 0, 0);
  EXPECT_EQ(target_.Wait(20000), 0);
}

// Exceptions made with std::make_exception_ptr carry no throw: their reports
// name the handler that made each, and two handlers' reports are two.
TEST_F(ReportBoxTest, ExceptionsMadeWithoutAThrowInTwoHandlersDoNotShareADuplicateKey) {
  const std::string exe = dir_.Path() + "\\crash_box_raise_target.exe";
  ASSERT_TRUE(CopyFileA(PathFromEnv("QEX_RAISE_TARGET_EXE").c_str(), exe.c_str(), FALSE));
  ASSERT_TRUE(target_.Start(exe, "", dir_.Path()));
  // The reports the file holds after the older one, in order.
  auto reports = [&] {
    std::vector<std::string> found;
    const std::string file = ReadWholeFile(bugReportFile_);
    for (std::size_t at = file.find("\r\n\r\ndate/time"); at != std::string::npos;) {
      const std::size_t next = file.find("\r\n\r\ndate/time", at + 4);
      found.push_back(file.substr(at + 4, next == std::string::npos ? std::string::npos : next - at - 4));
      at = next;
    }
    return found;
  };
  ASSERT_TRUE(WaitUntil([&] { return !ProcessWindows(target_.Pid(), L"QEXHiddenWindow").empty(); }, 20000));
  // The file while no save holds it: each report's exception number.
  std::string numbers;
  auto lastSaved = [&] {
    const std::string file = ReadWholeFile(bugReportFile_);
    numbers.clear();
    std::istringstream lines(file);
    for (std::string line; std::getline(lines, line);)
      if (line.compare(0, 16, "exception number") == 0) numbers += line.substr(line.find(": ") + 2, 1);
    return numbers.empty() ? '0' : numbers.back();
  };
  for (char raise : {'1', '2'}) {
    for (HWND w : ProcessWindows(target_.Pid(), L"QEXHiddenWindow")) PostMessageW(w, WM_APP + (raise - '0'), 0, 0);
    HWND box = Box();
    ASSERT_TRUE(box) << raise;
    PressKey(box, VK_ESCAPE);
    ASSERT_TRUE(WaitUntil([&] { return lastSaved() == raise; }, 20000)) << raise;
  }
  EXPECT_EQ(numbers, "12");
  const std::vector<std::string> saved = reports();
  ASSERT_EQ(saved.size(), 2u) << ReadWholeFile(bugReportFile_);
  EXPECT_EQ(ReportField(saved[1], "count"), "");
  const std::string first = ReportField(saved[0], "callstack crc"), second = ReportField(saved[1], "callstack crc");
  ASSERT_EQ(first.size(), 31u) << saved[0];
  ASSERT_EQ(second.size(), 31u) << saved[1];
  EXPECT_NE(first.substr(0, 20), second.substr(0, 20));
  // The raising thread's stack starts where the exception was made: the
  // library's make_exception_ptr, if not inlined, then the handler.
  auto topFrames = [](const std::string& report) {
    const std::size_t title = report.find("\r\n\r\nmain thread (");
    if (title == std::string::npos) return std::string();
    const std::size_t start = report.find("\r\n", title + 4) + 2;
    const std::size_t second = report.find("\r\n", start);
    return report.substr(start, second == std::string::npos ? second : report.find("\r\n", second + 2) - start);
  };
  EXPECT_NE(topFrames(saved[0]).find("RaiseInFirstHandler()"), std::string::npos) << saved[0];
  EXPECT_NE(topFrames(saved[1]).find("RaiseInSecondHandler()"), std::string::npos) << saved[1];

  for (HWND w : ProcessWindows(target_.Pid(), L"QEXHiddenWindow")) PostMessageW(w, WM_CLOSE, 0, 0);
  EXPECT_EQ(target_.Wait(20000), 0);
}

// The throw record of the exception is gone (32 younger exceptions alive at
// once): the report walks the thread where it waits, and starts below crash
// reporting's own frames.
TEST_F(ReportBoxTest, WithoutAThrowRecordTheReportStartsBelowCrashReportingsOwnFrames) {
  const std::string exe = dir_.Path() + "\\crash_box_raise_target.exe";
  ASSERT_TRUE(CopyFileA(PathFromEnv("QEX_RAISE_TARGET_EXE").c_str(), exe.c_str(), FALSE));
  ASSERT_TRUE(target_.Start(exe, "", dir_.Path()));
  ASSERT_TRUE(WaitUntil([&] { return !ProcessWindows(target_.Pid(), L"QEXHiddenWindow").empty(); }, 20000));
  for (HWND w : ProcessWindows(target_.Pid(), L"QEXHiddenWindow")) PostMessageW(w, WM_APP + 3, 0, 0);
  HWND box = Box();
  ASSERT_TRUE(box);
  PressKey(box, VK_ESCAPE);
  std::string file;
  ASSERT_TRUE(WaitUntil([&] { return (file = ReadWholeFile(bugReportFile_)).find("'third'") != std::string::npos; }, 20000));
  const std::size_t title = file.find("\r\n\r\nmain thread (");
  ASSERT_NE(title, std::string::npos) << file;
  const std::size_t start = file.find("\r\n", title + 4) + 2;
  const std::string stack = file.substr(start, file.find("\r\n\r\n", start) - start);
  // Not the platform's wait nor the hand-off: the program's code that
  // caught the exception.
  std::istringstream top(stack.substr(0, stack.find("\r\n")));
  std::string address, module;
  top >> address >> module;
  if (!module.empty() && module[0] == '+') top >> module;
  EXPECT_EQ(module, "crash_box_raise_target.exe") << stack;
  EXPECT_EQ(stack.find(" crash/handler/HandOff_win.cpp"), std::string::npos) << stack;
  EXPECT_EQ(stack.find("ReportException"), std::string::npos) << stack;
  for (HWND w : ProcessWindows(target_.Pid(), L"QEXHiddenWindow")) PostMessageW(w, WM_CLOSE, 0, 0);
  EXPECT_EQ(target_.Wait(20000), 0);
}
