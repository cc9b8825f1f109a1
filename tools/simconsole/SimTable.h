// The simulated console's device table: named shared memory written by the
// harness and read by the simulated HID.dll and SetupApi.dll inside the
// program under test. One harness per Wine prefix at a time.
#pragma once

#include "support/Win32.h"

namespace simconsole {

inline constexpr char kTableName[] = "QexSimConsoleTable";
inline constexpr char kLockName[] = "QexSimConsoleLock";
inline constexpr DWORD kTableMagic = 0x51534354;  // "QSCT"
inline constexpr int kMaxDevices = 16;
inline constexpr int kProductChars = 127;
// A device's path is this prefix and its serial number in decimal: a named
// pipe served by the harness. FileNameInfo of a client handle gives the
// name without "\\.\pipe".
inline constexpr char kPipePathPrefix[] = "\\\\.\\pipe\\qexsim-dev-";
inline constexpr wchar_t kPipeNamePrefix[] = L"\\qexsim-dev-";

struct DeviceEntry {
  LONG present;              // listed by the device-setup double
  DWORD serial;              // device instance: new for every plug
  WORD vendorId, productId, versionNumber;
  WORD inputLength, outputLength, featureLength;  // report lengths, ID byte included
  LONG productReadable;      // HidD_GetProductString succeeds
  LONG attributesReadable;   // HidD_GetAttributes succeeds
  WCHAR product[kProductChars + 1];
  LONG productReads;         // calls of HidD_GetProductString that succeeded
  LONG preparsedReads;       // calls of HidD_GetPreparsedData that succeeded
};

struct Table {
  DWORD magic;
  DWORD nextSerial;
  DeviceEntry devices[kMaxDevices];
};

// The standard HID device-interface class.
inline constexpr GUID kHidClass = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

}  // namespace simconsole
