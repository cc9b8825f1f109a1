// The simulated console's harness: plugs and unplugs simulated HID devices,
// serves each device's named pipe (the device path that the program under
// test opens with CreateFileA), sends input reports and records the output
// reports the program writes. The device-nodes-changed broadcast tells the
// program's controller to look again.
//
// One harness per Wine prefix at a time. Methods are called from one
// thread; each device's pipes are served by a thread of its own.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/ScopedHandle.h"
#include "tools/simconsole/SimTable.h"

namespace simconsole {

struct DeviceProfile {
  WORD vendorId = 0x0483;
  WORD productId = 0x5750;
  WORD versionNumber = 0x0100;
  std::wstring product = L"QEX PROPRE CONTROLLER";
  WORD inputLength = 33;   // report ID byte included
  WORD outputLength = 33;
  WORD featureLength = 0;
  bool productReadable = true;
  bool attributesReadable = true;
};

using Report = std::vector<std::uint8_t>;

class TSimConsole {
 public:
  TSimConsole();
  // Unplugs every device, without a broadcast.
  ~TSimConsole();
  TSimConsole(const TSimConsole&) = delete;
  TSimConsole& operator=(const TSimConsole&) = delete;

  bool Ok() const { return table_ != nullptr; }

  // Starts serving the device, lists it, then broadcasts the change unless
  // `broadcast` is false. Returns its serial number (0 on failure).
  DWORD Plug(const DeviceProfile& profile, bool broadcast = true);
  // Unlists it and closes its pipes (open handles break), then broadcasts.
  void Unplug(DWORD serial, bool broadcast = true);
  // SendMessageTimeout(HWND_BROADCAST, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED).
  static void Broadcast();

  // Writes one input report to every open handle of the device; the number
  // of handles that took it.
  int SendInput(DWORD serial, const Report& report);
  // Output reports written so far, oldest first.
  std::vector<Report> OutputReports(DWORD serial) const;
  bool WaitForOutputReports(DWORD serial, std::size_t count, int timeoutMs) const;

  int OpenHandles(DWORD serial) const;   // client handles connected now
  int OpensSoFar(DWORD serial) const;    // client connections so far
  // Waits for a handle that has stayed open for a while (a reader, not a
  // passing query open).
  bool WaitForSteadyHandle(DWORD serial, int timeoutMs, int steadyMs = 300) const;
  LONG ProductReads(DWORD serial) const;
  LONG PreparsedReads(DWORD serial) const;
  std::string DevicePath(DWORD serial) const;

  // Copies the doubles from the folder of this program into the system
  // folder (run inside the prefix the tests use).
  static bool InstallDoubles(std::string* error);
  // Puts the platform's own HID.dll and SetupApi.dll back.
  static bool RemoveDoubles(std::string* error);

 private:
  struct Device;
  Device* Find(DWORD serial) const;
  DeviceEntry* Entry(DWORD serial) const;

  ScopedKernelHandle mapping_;
  ScopedKernelHandle mutex_;
  Table* table_ = nullptr;
  std::map<DWORD, std::unique_ptr<Device>> devices_;
};

}  // namespace simconsole
