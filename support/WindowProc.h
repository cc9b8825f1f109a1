// The one window-procedure idiom for every window the program owns. The
// owning object comes in through CreateWindowEx's last argument, sits in the
// window's GWLP_USERDATA from WM_NCCREATE and is cleared on WM_NCDESTROY, so
// no message reaches an object after its window is gone. Register the class
// with WindowProcFor<T>; T provides
//   LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// which must not let an exception out (the platform's code cannot unwind it):
// it hands it to its owner's central handler. Messages before WM_NCCREATE or
// after WM_NCDESTROY get the default handling.
#pragma once

#include "support/Win32.h"

template <class T>
T* WindowOwner(HWND window) {
  return reinterpret_cast<T*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

template <class T>
LRESULT CALLBACK WindowProcFor(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    // The same field in the ANSI and the wide record.
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  T* owner = WindowOwner<T>(window);
  if (message == WM_NCDESTROY) SetWindowLongPtrW(window, GWLP_USERDATA, 0);
  if (!owner)
    return IsWindowUnicode(window) ? DefWindowProcW(window, message, wParam, lParam)
                                   : DefWindowProcA(window, message, wParam, lParam);
  return owner->HandleMessage(window, message, wParam, lParam);
}

// For an owner that destroys its window from its destructor: the messages of
// the destruction must not reach an object that is half gone.
inline void DetachWindowOwner(HWND window) { SetWindowLongPtrW(window, GWLP_USERDATA, 0); }
