// The working-set benchmark's yardstick: a plain window with eight labels and
// a message loop, linked the way the agent is (static runtime), and nothing
// else.
//   minimal_window [--load a.dll,b.dll]
// --load loads those modules first (by name, as the agent's imports would),
// so that the benchmark can tell what each module costs on its own.
#include <cstring>
#include <string>

#include "support/Win32.h"

namespace {

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
  if (__argc >= 3 && std::strcmp(__argv[1], "--load") == 0) {
    std::string list = __argv[2];
    for (std::size_t begin = 0; begin <= list.size();) {
      std::size_t end = list.find(',', begin);
      if (end == std::string::npos) end = list.size();
      const std::string module = list.substr(begin, end - begin);
      // Kept loaded to the end; a module that does not load ends the program,
      // so that no figure stands for a module that is not there.
      if (!module.empty() && !LoadLibraryA(module.c_str())) return 2;
      begin = end + 1;
    }
  }
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = L"QEXMinimalWindow";
  RegisterClassW(&windowClass);
  HWND window = CreateWindowW(L"QEXMinimalWindow", L"Minimal", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                              520, 220, nullptr, nullptr, instance, nullptr);
  for (int i = 0; i < 8; ++i)
    CreateWindowW(L"STATIC", L"label", WS_CHILD | WS_VISIBLE, 16 + (i % 4) * 120, 16 + (i / 4) * 60, 100, 24,
                  window, nullptr, instance, nullptr);
  ShowWindow(window, show);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}
