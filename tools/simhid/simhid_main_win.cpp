// simhid: the simulated console at the driver level, by hand.
//
//   simhid install DRIVER.sys
//       copies the driver into the current Wine prefix and writes its INF.
//   simhid run [--product TEXT] [--vid N] [--pid N] [--in N] [--out N]
//       plugs one console and reads commands from standard input:
//         send HEX     input report (report ID first), e.g. "send 00 01 02"
//         unplug       unplug the console
//         replug       plug the same console in again (same instance)
//         stall 1|0    hold the console's output reports, or take them again
//         cancel MS    hold each output report MS ms, then complete it as
//                      cancelled (0: take them again)
//         outputs      print the output reports received so far, in hex
//         counts       print the input reports completed to the class driver,
//                      dropped from the console's own queue and still queued
//         path         print the console's HID interface path
//         quit
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "tools/simhid/SimHid.h"

using namespace simhid;

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

int Run(int argc, char** argv) {
  DeviceProfile profile;
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    const std::string value = argv[i + 1];
    if (option == "--product") profile.product.assign(value.begin(), value.end());
    else if (option == "--vid") profile.vendorId = static_cast<WORD>(std::strtoul(value.c_str(), nullptr, 0));
    else if (option == "--pid") profile.productId = static_cast<WORD>(std::strtoul(value.c_str(), nullptr, 0));
    else if (option == "--in") profile.inputLength = static_cast<WORD>(std::strtoul(value.c_str(), nullptr, 0));
    else if (option == "--out") profile.outputLength = static_cast<WORD>(std::strtoul(value.c_str(), nullptr, 0));
  }
  TSimHid console;
  const DWORD serial = console.Plug(profile);
  if (!serial) {
    std::fprintf(stderr, "simhid: could not plug the console: %s\n", console.LastError().c_str());
    return 1;
  }
  std::printf("plugged %s\n", console.DevicePath(serial).c_str());
  std::fflush(stdout);
  std::string line;
  while (std::getline(std::cin, line)) {
    const std::string command = line.substr(0, line.find(' '));
    const std::string rest = line.size() > command.size() ? line.substr(command.size() + 1) : std::string();
    if (command == "send") {
      std::printf(console.SendInput(serial, ParseHex(rest)) ? "sent\n" : "not connected\n");
    } else if (command == "unplug") {
      std::printf(console.Unplug(serial) ? "unplugged\n" : "unplug failed: %s\n", console.LastError().c_str());
    } else if (command == "replug") {
      std::printf(console.Replug(serial) ? "replugged\n" : "replug failed: %s\n", console.LastError().c_str());
    } else if (command == "stall") {
      console.StallWrites(serial, rest == "1");
    } else if (command == "cancel") {
      console.CancelWritesAfter(serial, static_cast<DWORD>(std::strtoul(rest.c_str(), nullptr, 0)));
    } else if (command == "outputs") {
      for (const Report& report : console.OutputReports(serial)) std::printf("%s\n", Hex(report).c_str());
    } else if (command == "counts") {
      TSimHid::InputCounts counts;
      if (console.QueryInputs(serial, &counts))
        std::printf("completed %u dropped %u queued %u\n", counts.completed, counts.dropped, counts.queued);
      else
        std::printf("no answer\n");
    } else if (command == "path") {
      std::printf("%s\n", console.DevicePath(serial).c_str());
    } else if (command == "quit") {
      break;
    }
    std::fflush(stdout);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "install" && argc > 2) {
    TSimHid console;
    std::string error;
    if (!console.Install(argv[2], &error)) {
      std::fprintf(stderr, "simhid: %s\n", error.c_str());
      return 1;
    }
    return 0;
  }
  if (command == "run") return Run(argc, argv);
  std::fprintf(stderr, "usage: simhid install DRIVER.sys | simhid run [--product TEXT] [--vid N] [--pid N] [--in N] [--out N]\n");
  return 2;
}
