// simconsole: the simulated console by hand.
//
//   simconsole install
//       copies the simulated HID.dll and SetupApi.dll beside this program
//       into the system folder of the current Wine prefix (then run the
//       agent with WINEDLLOVERRIDES="hid,setupapi=n").
//   simconsole uninstall
//       puts the platform's own HID.dll and SetupApi.dll back.
//   simconsole run [--product TEXT] [--vid N] [--pid N] [--in N] [--out N]
//       plugs one console and reads commands from standard input:
//         send HEX     input report (report ID first), e.g. "send 00 01 02"
//         unplug       unplug the console
//         plug         plug it in again (a new device)
//         outputs      print the output reports written so far, in hex
//         quit
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "tools/simconsole/SimConsole.h"

using namespace simconsole;

namespace {

std::string Hex(const Report& report) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  for (std::uint8_t b : report) {
    text += digits[b >> 4];
    text += digits[b & 15];
  }
  return text;
}

Report ParseHex(const std::string& text) {
  Report bytes;
  int high = -1;
  for (char c : text) {
    int v = -1;
    if (c >= '0' && c <= '9') v = c - '0';
    else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    if (v < 0) continue;
    if (high < 0) {
      high = v;
    } else {
      bytes.push_back(static_cast<std::uint8_t>(high << 4 | v));
      high = -1;
    }
  }
  return bytes;
}

std::wstring Widen(const std::string& text) {
  std::wstring wide;
  for (unsigned char c : text) wide += static_cast<wchar_t>(c);
  return wide;
}

int Run(int argc, char** argv) {
  DeviceProfile profile;
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string key = argv[i];
    const std::string value = argv[i + 1];
    if (key == "--product") profile.product = Widen(value);
    else if (key == "--vid") profile.vendorId = static_cast<WORD>(std::strtoul(value.c_str(), nullptr, 0));
    else if (key == "--pid") profile.productId = static_cast<WORD>(std::strtoul(value.c_str(), nullptr, 0));
    else if (key == "--in") profile.inputLength = static_cast<WORD>(std::strtoul(value.c_str(), nullptr, 0));
    else if (key == "--out") profile.outputLength = static_cast<WORD>(std::strtoul(value.c_str(), nullptr, 0));
    else {
      std::fprintf(stderr, "unknown option %s\n", key.c_str());
      return 2;
    }
  }
  TSimConsole console;
  if (!console.Ok()) {
    std::fprintf(stderr, "the device table cannot be created\n");
    return 1;
  }
  DWORD serial = console.Plug(profile);
  std::printf("plugged %s\n", console.DevicePath(serial).c_str());
  std::fflush(stdout);
  std::string line;
  while (std::getline(std::cin, line)) {
    if (line.rfind("send", 0) == 0) {
      const int taken = console.SendInput(serial, ParseHex(line.substr(4)));
      std::printf("sent to %d handle(s)\n", taken);
    } else if (line == "unplug") {
      console.Unplug(serial);
      serial = 0;
      std::printf("unplugged\n");
    } else if (line == "plug") {
      if (serial) console.Unplug(serial);
      serial = console.Plug(profile);
      std::printf("plugged %s\n", console.DevicePath(serial).c_str());
    } else if (line == "outputs") {
      for (const Report& report : console.OutputReports(serial)) std::printf("%s\n", Hex(report).c_str());
    } else if (line == "quit") {
      break;
    }
    std::fflush(stdout);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "install") {
    std::string error;
    if (!TSimConsole::InstallDoubles(&error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
    return 0;
  }
  if (command == "uninstall") {
    std::string error;
    if (!TSimConsole::RemoveDoubles(&error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
    return 0;
  }
  if (command == "run") return Run(argc, argv);
  std::fprintf(stderr, "usage: simconsole install | uninstall | run [--product TEXT] [--vid N] [--pid N] [--in N] [--out N]\n");
  return 2;
}
