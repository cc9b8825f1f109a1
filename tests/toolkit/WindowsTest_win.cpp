// The toolkit's windows under Wine: the one window-procedure idiom (the
// object in the window's user data from its first message to its last), the
// central handler for what escapes a handler, forms built from a
// description, the input dialog and the hand-over to the main thread.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "WineTestSupport_win.h"
#include "toolkit/Application.h"
#include "toolkit/Controls.h"
#include "toolkit/HiddenWindow.h"
#include "toolkit/Thread.h"

namespace ts = testing_support;

namespace {

// An application whose central handler records what reaches it instead of
// showing a box.
class ToolkitWindows : public ::testing::Test {
 protected:
  void SetUp() override {
    app = std::make_unique<TApplication>();
    app->Initialize();
    app->SetExceptionHook([this](std::exception_ptr error) { escaped.push_back(ExceptionMessage(error)); });
  }
  void TearDown() override { app.reset(); }

  std::unique_ptr<TApplication> app;
  std::vector<std::string> escaped;
};

TEST_F(ToolkitWindows, AHiddenWindowsHandlerSeesMessagesFromConstructionToDestruction) {
  std::vector<UINT> seen;
  THiddenWindow* window = nullptr;
  // The handler reads `window`, which is stored only after the constructor.
  window = new THiddenWindow([&](UINT message, WPARAM wParam, LPARAM lParam) {
    seen.push_back(message);
    return window->Default(message, wParam, lParam);
  });
  const HWND handle = window->Handle();
  ASSERT_TRUE(IsWindow(handle));
  EXPECT_TRUE(seen.empty()) << "creation messages reached the handler";
  EXPECT_EQ(ts::ClassName(handle), L"QEXHiddenWindow");
  EXPECT_EQ(GetWindowLongPtrW(handle, GWLP_USERDATA), reinterpret_cast<LONG_PTR>(window));
  EXPECT_EQ(SendMessageA(handle, WM_APP + 7, 0, 0), 0);
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back(), static_cast<UINT>(WM_APP + 7));
  seen.clear();
  delete window;
  EXPECT_FALSE(IsWindow(handle));
  EXPECT_TRUE(seen.empty()) << "destruction messages reached a half-destroyed owner";
}

TEST_F(ToolkitWindows, AHiddenWindowDestroyedFromOutsideLetsGoOfItsHandle) {
  int handled = 0;
  THiddenWindow window([&](UINT message, WPARAM, LPARAM) -> LRESULT {
    if (message == WM_APP) ++handled;
    return 0;
  });
  const HWND handle = window.Handle();
  ASSERT_TRUE(DestroyWindow(handle));
  EXPECT_EQ(window.Handle(), nullptr);
  SendMessageA(handle, WM_APP, 0, 0);
  EXPECT_EQ(handled, 0);
}  // the destructor closes nothing twice

TEST_F(ToolkitWindows, WhatEscapesAHandlerGoesToTheCentralHandlerAndTheWindowLivesOn) {
  int calls = 0;
  THiddenWindow window([&](UINT message, WPARAM, LPARAM) -> LRESULT {
    if (message != WM_APP) return 0;
    if (++calls == 1) throw std::runtime_error("from a handler");
    return 42;
  });
  EXPECT_EQ(SendMessageA(window.Handle(), WM_APP, 0, 0), 0);
  ASSERT_EQ(escaped.size(), 1u);
  EXPECT_EQ(escaped[0], "from a handler");
  EXPECT_EQ(SendMessageA(window.Handle(), WM_APP, 0, 0), 42);
}

TEST_F(ToolkitWindows, TheApplicationsWindowCarriesTheApplication) {
  ASSERT_TRUE(IsWindow(app->Handle()));
  EXPECT_EQ(GetWindowLongPtrW(app->Handle(), GWLP_USERDATA), reinterpret_cast<LONG_PTR>(app.get()));
  const HWND handle = app->Handle();
  app.reset();
  EXPECT_FALSE(IsWindow(handle));
}

class TTestForm : public TForm {
 public:
  TTestForm() : TForm(nullptr) {
    Handlers().Add("FormCreate", TNotifyEvent::Bind<&TTestForm::FormCreate>(this));
    BindField("lblA", &lblA);
  }
  void Build(const std::string& text) { CreateFromDescription(ParseWindowDescription(text)); }
  void FormCreate(TObject*) {
    ++created;
    if (throwOnCreate) throw std::runtime_error("from OnCreate");
  }

  TLabel* lblA = nullptr;
  int created = 0;
  bool throwOnCreate = false;
};

const char kForm[] =
    "form frmTest {\n"
    "  Caption = \"demo\"\n"
    "  Width = 300\n"
    "  Height = 200\n"
    "  Color = #FFFFFF\n"
    "  OnCreate = FormCreate\n"
    "  label lblA {\n"
    "    Left = 10\n"
    "    Top = 20\n"
    "    Width = 100\n"
    "    Height = 24\n"
    "    Caption = \"hello\"\n"
    "    FontColor = #FF0000\n"
    "  }\n"
    "}\n";

TEST_F(ToolkitWindows, AFormIsBuiltFromItsDescriptionAndGoesWithItsWindows) {
  auto form = std::make_unique<TTestForm>();
  form->Build(kForm);
  const HWND window = form->Handle();
  ASSERT_TRUE(IsWindow(window));
  EXPECT_EQ(ts::ClassName(window), L"QEXForm");
  EXPECT_EQ(ts::WindowText(window), L"demo");
  EXPECT_EQ(GetWindowLongPtrW(window, GWLP_USERDATA), reinterpret_cast<LONG_PTR>(form.get()));
  EXPECT_EQ(form->created, 1);
  ASSERT_NE(form->lblA, nullptr);
  const HWND label = form->lblA->Handle();
  EXPECT_EQ(GetParent(label), window);
  EXPECT_EQ(ts::WindowText(label), L"hello");
  RECT placed = {};
  GetWindowRect(label, &placed);
  MapWindowPoints(HWND_DESKTOP, window, reinterpret_cast<POINT*>(&placed), 2);
  EXPECT_EQ(placed.left, 10);
  EXPECT_EQ(placed.top, 20);
  EXPECT_EQ(form->lblA->Font().color, MakeColor(0xFF, 0, 0));
  EXPECT_EQ(form->BackgroundColor(), RGB(0xFF, 0xFF, 0xFF));
  form.reset();
  EXPECT_FALSE(IsWindow(label));
  EXPECT_FALSE(IsWindow(window));
  EXPECT_TRUE(escaped.empty());
}

TEST_F(ToolkitWindows, ABrokenPropertyStopsTheBuildWithItsLineAndTheFormStillGoes) {
  std::string text = kForm;
  text.replace(text.find("FontColor = #FF0000"), 19, "FontColor = clRed");
  auto form = std::make_unique<TTestForm>();
  try {
    form->Build(text);
    ADD_FAILURE() << "no error";
  } catch (const DescriptionError& e) {
    EXPECT_STREQ(e.what(), "line 13: expected a colour #RRGGBB");
  }
  const HWND window = form->Handle();
  EXPECT_EQ(form->created, 0);
  form.reset();
  EXPECT_FALSE(IsWindow(window));
}

TEST_F(ToolkitWindows, WhatEscapesOnCreateGoesToTheCentralHandlerAndTheFormLivesOn) {
  TTestForm form;
  form.throwOnCreate = true;
  form.Build(kForm);
  EXPECT_EQ(form.created, 1);
  ASSERT_EQ(escaped.size(), 1u);
  EXPECT_EQ(escaped[0], "from OnCreate");
  EXPECT_TRUE(IsWindow(form.Handle()));
}

// Answers the input dialog from another thread the way a user would: the
// text typed into the edit, then OK or Cancel.
void AnswerInputDialog(const std::wstring& caption, const std::wstring& typed, WORD button, bool* found) {
  const HWND dialog = ts::WaitForDialog(GetCurrentProcessId(), caption, 20000);
  *found = dialog != nullptr;
  if (!dialog) return;
  SendMessageW(GetDlgItem(dialog, 101), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(typed.c_str()));
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
}

TEST_F(ToolkitWindows, TheInputDialogGivesBackWhatWasTypedOnOkAndNothingOnCancel) {
  std::string value = "127.0.0.1";
  bool found = false;
  std::thread user(AnswerInputDialog, L"Settings", L"10.0.0.\x4E00", static_cast<WORD>(IDOK), &found);
  EXPECT_TRUE(InputQuery(nullptr, "Settings", "Address:", value));
  user.join();
  ASSERT_TRUE(found) << "the dialog never showed";
  EXPECT_EQ(value, "10.0.0.\xD2\xBB");  // code page 936

  std::thread cancel(AnswerInputDialog, L"Settings", L"typed", static_cast<WORD>(IDCANCEL), &found);
  EXPECT_FALSE(InputQuery(nullptr, "Settings", "Address:", value));
  cancel.join();
  ASSERT_TRUE(found);
  EXPECT_EQ(value, "10.0.0.\xD2\xBB");
  EXPECT_TRUE(escaped.empty());
}

class TWorker : public TThread {
 public:
  TWorker() : TThread(true) {}
  DWORD ranOn = 0;
  std::string error;

 protected:
  void Execute() override {
    Synchronize([this] { ranOn = GetCurrentThreadId(); });
    try {
      Synchronize([] { throw std::runtime_error("inside the hand-over"); });
    } catch (const std::runtime_error& e) {
      error = e.what();
    }
    while (!Terminated()) Sleep(1);
  }
};

TEST_F(ToolkitWindows, AHandOverRunsOnTheMainThreadAndItsExceptionReturnsToTheCaller) {
  TWorker worker;
  worker.Start();
  worker.Terminate();
  worker.WaitFor();
  EXPECT_TRUE(worker.Finished());
  EXPECT_EQ(worker.ranOn, GetCurrentThreadId());
  EXPECT_EQ(worker.error, "inside the hand-over");
  EXPECT_EQ(worker.FatalException(), nullptr);
}

}  // namespace
