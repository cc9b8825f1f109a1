// simconsole: the HID library doubles in the system folder, for the tests
// that the real HID stack cannot show (a library that lacks a bound name).
// The simulated console to run by hand is tools/simhid (simhid.exe).
//
//   simconsole install
//       copies the simulated HID.dll and SetupApi.dll beside this program
//       into the system folder of the current Wine prefix, keeping the
//       platform's own (then run with WINEDLLOVERRIDES="hid,setupapi=n").
//   simconsole uninstall
//       puts the platform's own HID.dll and SetupApi.dll back.
#include <cstdio>
#include <string>

#include "tools/simconsole/SimConsole.h"

using namespace simconsole;

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "install" || command == "uninstall") {
    std::string error;
    const bool ok = command == "install" ? TSimConsole::InstallDoubles(&error) : TSimConsole::RemoveDoubles(&error);
    if (!ok) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
    return 0;
  }
  std::fprintf(stderr, "usage: simconsole install | uninstall\n");
  return 2;
}
