// The application object: title, main icon, the taskbar window (which carries
// the program's taskbar button), minimise/restore/bring-to-front, the message
// loop and the central handler for exceptions that escape a message handler.
// Main thread only, except where stated.
#pragma once

#include <exception>
#include <functional>
#include <string>

#include "support/Delegate.h"
#include "support/ScopedHandle.h"
#include "support/Win32.h"
#include "support/WindowProc.h"
#include "toolkit/Component.h"

class TForm;

class TApplication : public TComponent {
 public:
  TApplication();
  ~TApplication() override;

  // Registers window classes and creates the taskbar window.
  void Initialize();

  // Title (code page 936): the taskbar window's text.
  const std::string& Title() const { return title_; }
  void SetTitle(const std::string& title);
  // The main icon, loaded from the icon resource "MAINICON".
  HICON Icon() const { return icon_; }

  HWND Handle() const { return handle_.Get(); }
  TForm* MainForm() const { return mainForm_; }
  // The first form created becomes the main form; closing it ends Run.
  void CreateForm(TForm* form);

  bool Minimized() const { return minimized_; }
  // Minimise: the taskbar window goes to its minimised state, then
  // OnMinimize fires. Nothing happens when already minimised and the main
  // form is hidden. The main form calls it however it was minimised.
  void Minimize();
  // Restore: shows the taskbar window again; the main form goes back to
  // normal and shows. Nothing happens when not minimised and the main form
  // is not minimised either.
  void Restore();
  // Makes the most recently active window the foreground window when it is
  // visible and enabled.
  void BringToFront();
  void ShowTaskbarWindow(bool show);

  TNotifyEvent OnMinimize;

  // The message loop; returns when the main form has been closed.
  void Run();
  // Handles waiting messages, then returns.
  void ProcessMessages();
  bool Terminated() const { return terminated_; }
  void Terminate();

  // The central handler: called (inside a catch block or with a captured
  // exception) for every exception that escapes a message handler. By
  // default it shows ShowException's box; crash reporting replaces it.
  using ExceptionHook = std::function<void(std::exception_ptr)>;
  void HandleException(std::exception_ptr error);
  void SetExceptionHook(ExceptionHook hook) { exceptionHook_ = std::move(hook); }
  // The show-exception routine: a modal box with the exception's message,
  // or crash reporting's box once the hook is set.
  void ShowException(std::exception_ptr error);

  // Called when the session ends (log-off, shut-down) with this process
  // still running, before the application window answers WM_ENDSESSION;
  // after that answer the platform ends the process. Crash reporting uses it
  // to save an open report. Keep it short and bounded.
  void SetEndSessionHook(std::function<void()> hook) { endSessionHook_ = std::move(hook); }

 private:
  friend LRESULT CALLBACK WindowProcFor<TApplication>(HWND, UINT, WPARAM, LPARAM);
  LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  bool ProcessMessage();

  std::string title_;
  HICON icon_ = nullptr;  // shared: loaded icons are never destroyed
  ScopedWindow handle_;
  TForm* mainForm_ = nullptr;
  bool minimized_ = false;
  bool terminated_ = false;
  ExceptionHook exceptionHook_;
  std::function<void()> endSessionHook_;
};

// The one application object of the process.
extern TApplication* Application;

// Text of an exception for boxes and traces: class name and message for the
// program's own classes, what() for other standard exceptions.
std::string ExceptionClassName(std::exception_ptr error);
std::string ExceptionMessage(std::exception_ptr error);
