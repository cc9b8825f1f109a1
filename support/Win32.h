// The only header that includes the platform headers. Sockets first, so the
// old winsock.h never comes in through windows.h.
#pragma once

#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <shellapi.h>
#include <commctrl.h>
#include <mapi.h>
#include <setupapi.h>
// The HID class headers declare no C++ linkage of their own.
extern "C" {
#include <hidsdi.h>
}
// Crash reporting: thread and module snapshots, shell folders, session info.
#include <tlhelp32.h>
#include <shlobj.h>
#include <wtsapi32.h>
// Benchmarks: the memory counters of another process.
#include <psapi.h>
