// The please-wait box: a small captioned window shown while a caller waits
// for a report to complete. Created, pumped and destroyed on one thread.
// Sized and drawn at its own window's dots per inch, again after a move to a
// monitor of another scale.
#pragma once

#include <string>

#include "support/ScopedHandle.h"
#include "support/Win32.h"

class PleaseWaitBox {
 public:
  // UTF-8 title and text; the box shows at once (nothing when no window can
  // be created).
  PleaseWaitBox(const std::string& title, const std::string& text);
  ~PleaseWaitBox();
  PleaseWaitBox(const PleaseWaitBox&) = delete;
  PleaseWaitBox& operator=(const PleaseWaitBox&) = delete;

  // Handles the box's own pending messages (and no other window's, so the
  // program's handlers are not re-entered while crash reporting waits).
  void ProcessMessages();
  HWND Window() const { return window_.Get(); }

  static bool RegisterWindowClass();

  // The box's messages, through WindowProcFor.
  LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept;

 private:
  void MakeFont();

  std::wstring text_;
  int dpi_ = 96;
  // Declared before the window: the window goes first, then the font it draws with.
  ScopedFont font_;
  ScopedWindow window_;
};
