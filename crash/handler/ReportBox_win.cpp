// The interim report box: the message, the exception's class and message
// and the three buttons. It runs its own message loop on the handling thread.
#include "crash/handler/HandlerInternal.h"

const wchar_t kReportBoxClass[] = L"QEXCrashReportBox";

namespace {

constexpr int kWidth = 460;
constexpr int kButtonWidth = 140;
constexpr int kButtonHeight = 25;

struct BoxState {
  const ReportBoxRequest* request;
  BoxChoice choice = BoxChoice::Close;
  bool done = false;
};

void Choose(HWND box, BoxState* state, BoxChoice choice) {
  if (state->done) return;
  if (state->request->onChoice && !state->request->onChoice(choice)) return;  // cancelled by a handler
  state->choice = choice;
  state->done = true;
  DestroyWindow(box);
}

// Closing from the title bar or Escape: continue when it can, else close,
// else restart.
BoxChoice CloseChoice(const ReportBoxRequest& r) {
  if (r.continueVisible && r.canContinue) return BoxChoice::Continue;
  if (r.closeVisible) return BoxChoice::Close;
  if (r.restartVisible) return BoxChoice::Restart;
  return BoxChoice::Close;
}

LRESULT CALLBACK BoxProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
  // The handling thread never reports its own exceptions: swallow them.
  try {
    auto* state = reinterpret_cast<BoxState*>(GetWindowLongPtrW(box, GWLP_USERDATA));
    switch (message) {
      case WM_NCCREATE:
        SetWindowLongPtrW(box, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
        break;
      case WM_COMMAND:
        if (!state || HIWORD(wParam) != BN_CLICKED) break;
        switch (LOWORD(wParam)) {
          case kBoxContinueId:
            if (state->request->canContinue) Choose(box, state, BoxChoice::Continue);
            return 0;
          case kBoxRestartId:
            Choose(box, state, BoxChoice::Restart);
            return 0;
          case kBoxCloseId:
            Choose(box, state, BoxChoice::Close);
            return 0;
          case IDCANCEL:
            Choose(box, state, CloseChoice(*state->request));
            return 0;
        }
        break;
      case WM_CLOSE:
        if (state) Choose(box, state, CloseChoice(*state->request));
        return 0;
    }
  } catch (...) {
    return 0;
  }
  return DefWindowProcW(box, message, wParam, lParam);
}

HWND AddControl(HWND box, const wchar_t* cls, const std::wstring& text, DWORD style, int id, int x, int y, int w,
                int h) {
  HWND control = CreateWindowExW(0, cls, text.c_str(), WS_CHILD | WS_VISIBLE | style, x, y, w, h, box,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr),
                                 nullptr);
  SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
  return control;
}

}  // namespace

std::wstring WidenText(const std::string& text) {
  if (text.empty()) return std::wstring();
  // The program's own texts are code page 936; ASCII passes unchanged.
  const int length = MultiByteToWideChar(936, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(936, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
  return wide;
}

BoxChoice ShowInterimReportBox(const ReportBoxRequest& request) {
  static const ATOM atom = [] {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = &BoxProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_ERROR));
    wc.lpszClassName = kReportBoxClass;
    return RegisterClassW(&wc);
  }();
  (void)atom;

  BoxState state{&request};
  const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
  RECT frame = {0, 0, kWidth, 150};
  AdjustWindowRectEx(&frame, style, FALSE, WS_EX_DLGMODALFRAME | WS_EX_TOPMOST);
  const int width = frame.right - frame.left, height = frame.bottom - frame.top;
  RECT work;
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  HWND box = CreateWindowExW(WS_EX_DLGMODALFRAME | WS_EX_TOPMOST, kReportBoxClass, WidenText(request.title).c_str(),
                             style, work.left + (work.right - work.left - width) / 2,
                             work.top + (work.bottom - work.top - height) / 2, width, height, nullptr, nullptr,
                             GetModuleHandleW(nullptr), &state);
  if (!box) return CloseChoice(request);

  AddControl(box, L"STATIC", WidenText(request.message), SS_LEFT, kBoxMessageId, 12, 12, kWidth - 24, 20);
  AddControl(box, L"STATIC", WidenText(request.exceptionClass + ": " + request.exceptionMessage),
             SS_LEFT | SS_NOPREFIX, kBoxExceptionId, 12, 38, kWidth - 24, 60);
  const int y = 150 - kButtonHeight - 12;
  int x = 12;
  struct Button {
    bool visible;
    const std::string& text;
    int id;
    bool enabled;
  };
  const Button buttons[] = {
      {request.continueVisible, request.continueText, kBoxContinueId, request.canContinue},
      {request.restartVisible, request.restartText, kBoxRestartId, true},
      {request.closeVisible, request.closeText, kBoxCloseId, true},
  };
  HWND first = nullptr;
  for (const Button& b : buttons) {
    if (!b.visible) continue;
    HWND button = AddControl(box, L"BUTTON", WidenText(b.text), WS_TABSTOP | BS_PUSHBUTTON, b.id, x, y,
                             kButtonWidth, kButtonHeight);
    EnableWindow(button, b.enabled ? TRUE : FALSE);
    if (b.enabled && !first) first = button;
    x += kButtonWidth + 8;
  }

  MessageBeep(MB_ICONHAND);
  ShowWindow(box, SW_SHOWNORMAL);
  SetForegroundWindow(box);
  if (first) SetFocus(first);

  MSG msg;
  while (!state.done) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got <= 0) break;
    if (!IsDialogMessageW(box, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  if (!state.done) {
    if (IsWindow(box)) DestroyWindow(box);
    return CloseChoice(request);
  }
  return state.choice;
}

void ShowPlainReportBox(const std::string& title, const std::string& message) {
  MessageBoxW(nullptr, WidenText(message).c_str(), WidenText(title).c_str(),
              MB_OK | MB_ICONERROR | MB_TOPMOST | MB_SETFOREGROUND);
}
