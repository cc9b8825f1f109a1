// Hidden message windows: an invisible top-level window whose messages go to
// one handler of its owning object. Every handler runs inside the toolkit's
// guard: an exception it throws goes to the application's central handler
// and never unwinds into the platform's code.
//
// Created and used on one thread (the thread that creates it receives its
// messages). Not a message-only window: those get no broadcasts, and the
// device controller relies on WM_DEVICECHANGE broadcasts.
#pragma once

#include <functional>

#include "support/ScopedHandle.h"
#include "support/Win32.h"
#include "support/WindowProc.h"

class THiddenWindow {
 public:
  // handler returns the message result; an unhandled message should return
  // DefWindowProcA (see Default()).
  using Handler = std::function<LRESULT(UINT message, WPARAM wParam, LPARAM lParam)>;

  explicit THiddenWindow(Handler handler);
  ~THiddenWindow();
  THiddenWindow(const THiddenWindow&) = delete;
  THiddenWindow& operator=(const THiddenWindow&) = delete;

  HWND Handle() const { return handle_.Get(); }
  LRESULT Default(UINT message, WPARAM wParam, LPARAM lParam) const {
    return DefWindowProcA(Handle(), message, wParam, lParam);
  }

 private:
  friend LRESULT CALLBACK WindowProcFor<THiddenWindow>(HWND, UINT, WPARAM, LPARAM);
  LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  Handler handler_;
  ScopedWindow handle_;
  // The handler sees messages only once the constructor has returned: its
  // owner may still be storing the window when the creation messages come.
  bool created_ = false;
};

// Class name of every hidden window, so tests can find them from outside.
inline constexpr char kHiddenWindowClass[] = "QEXHiddenWindow";
