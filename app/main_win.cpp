// Program entry: the application object, its title, the main window, the
// message loop.
#include "app/Components.h"
#include "app/Texts.h"
#include "app/frmMains.h"
#include "crash/handler/CrashReporter.h"
#include "toolkit/Application.h"
#include "toolkit/Guard.h"

int main() {
  TApplication application;
  application.Initialize();
  InstallCrashReporting();
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
    application.Run();
  }
  return 0;
}
