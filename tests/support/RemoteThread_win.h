// Running code inside another process of the tests' own making: a DLL
// loaded into it through a remote LoadLibraryW, and an export of it run on a
// new thread there. This is how a test raises inside the running, unmodified
// agent from outside.
#pragma once

#include <cstdint>
#include <string>

#include "support/Win32.h"

namespace testing_support {

// The base address at which process pid has loaded the module of that file
// name, or 0.
ULONG_PTR RemoteModuleBase(DWORD pid, const std::wstring& name);
// Runs start(argument) on a new thread of the process and waits (scaled) for
// it; the thread's exit code, or -1.
long RunRemoteThread(HANDLE process, ULONG_PTR start, void* argument);
// The address of an export of `file` in process pid, which has loaded it:
// its base there plus the export's offset in this process's copy.
ULONG_PTR RemoteExport(DWORD pid, const std::string& file, const char* name);
// Loads the DLL into process pid with a remote LoadLibraryW; true once the
// process has it.
bool LoadIntoProcess(HANDLE process, DWORD pid, const std::string& dll);

// The test DLL named by QEX_LINK_SOCKET_CLOSER_DLL, loaded into the agent,
// closes the agent's connection to 127.0.0.1:port behind its back: the
// agent's next use of its socket fails where it expects no failure, and
// raises. The remote thread's exit code (the sockets closed), or -1 when the
// DLL could not be loaded or run.
long CloseAgentLinkSocket(HANDLE process, DWORD pid, std::uint16_t port = 18884);

}  // namespace testing_support
