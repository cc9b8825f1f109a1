// Stands in for an agent whose shutdown outlasts its window (a console read
// still to cancel, a link still to close): its form has the agent's class,
// hides on WM_CLOSE as the agent's does, goes away, and the process ends
// EXIT_MS later. Installed in the agent's place, it shows whether the
// installer and the uninstaller wait for the program or only for its window.
//   late_exit EXIT_MS
#include <windows.h>

#include <cstdlib>

namespace {

LRESULT CALLBACK FormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CLOSE) {
    ShowWindow(window, SW_HIDE);
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int main(int argc, char** argv) {
  const int exitMs = argc > 1 ? std::atoi(argv[1]) : 0;
  WNDCLASSW wc = {};
  wc.lpfnWndProc = &FormProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"QEXForm";
  if (!RegisterClassW(&wc)) return 1;
  HWND form = CreateWindowExW(0, L"QEXForm", L"late_exit", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                              nullptr, wc.hInstance, nullptr);
  if (!form) return 1;
  // The test waits for this child, as it waits for the agent's version label.
  CreateWindowExW(0, L"STATIC", L"v9.9.9.9", WS_CHILD | WS_VISIBLE, 0, 0, 100, 20, form, nullptr, wc.hInstance,
                  nullptr);
  ShowWindow(form, SW_SHOWNORMAL);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  DestroyWindow(form);
  Sleep(exitMs);
  return 0;
}
