// One agent per log-on session: the first agent of a log-on holds a named
// block that says where its window is; a later start finds the block, asks
// that agent to show its window and ends without touching the console, the
// link or the registry. Another user (another log-on) gets a block of their
// own. Main thread, before the main window exists.
#pragma once

#include <memory>

#include "support/ScopedHandle.h"
#include "support/Win32.h"

class THiddenWindow;
class TfrmMain;

class TSingleInstance {
 public:
  // Takes the block of this log-on. A restarted instance first waits, for a
  // few seconds at most, for the instance it replaces to let go of it.
  explicit TSingleInstance(bool restarted);
  ~TSingleInstance();
  TSingleInstance(const TSingleInstance&) = delete;
  TSingleInstance& operator=(const TSingleInstance&) = delete;

  // False when another agent of this log-on runs.
  bool First() const { return FFirst; }
  // First instance: from now on a later start brings `form` up from the tray.
  void Serve(TfrmMain* form);
  // Later instance: asks the running agent to show its window.
  void ShowRunningAgent() const;

 private:
  struct Block;
  Block* View() const;

  ScopedKernelHandle FBlock;
  ScopedMappedView FView;
  bool FFirst = false;
  std::unique_ptr<THiddenWindow> FShowWindow;  // receives the show requests
};
