// Program entry: the application object, its title, the main window, the
// message loop; one agent per log-on.
#include "app/Components.h"
#include "app/SingleInstance.h"
#include "app/StatusText.h"
#include "app/Texts.h"
#include "app/frmMains.h"
#include "crash/handler/CrashReporter.h"
#include "toolkit/Application.h"
#include "toolkit/Dpi.h"
#include "toolkit/Guard.h"

int main() {
  // Before the first window: every window is then made at its monitor's scale.
  DeclareDpiAwareness();
  TApplication application;
  application.Initialize();
  // Before anything else: a restarted instance has waited for the old one
  // here, so it takes the agent's place rather than seeing it as another.
  InstallCrashReporting();
  TSingleInstance instance(IsRestartedInstance());
  if (!instance.First()) {
    // Started again (the Start menu after the log-on's autorun): the running
    // agent owns the console and the link; it shows its window instead.
    if (!IsMinimizedStart(__argc, __argv)) instance.ShowRunningAgent();
    return 0;
  }
  application.SetTitle(texts::kTextAppTitle);
  RegisterAgentComponentClasses();
  TfrmMain* form = nullptr;
  try {
    form = new TfrmMain(&application);
  } catch (...) {
    // A failing handler during creation still leaves a window to show.
    HandleEscapedException(std::current_exception());
  }
  if (form) {
    application.CreateForm(form);
    instance.Serve(form);
    application.Run();
  }
  return 0;
}
