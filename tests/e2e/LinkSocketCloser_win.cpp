// A DLL the crash-agent tests load into the running agent through a remote
// thread: CloseLinkSocket, run as a further remote thread, closes the
// agent's connection to the live host behind the agent's back. The agent's
// next use of its socket (a keep-alive, at the latest 4 s later) then fails
// on its own main thread where it expects no failure: closing a handle it
// believes its own. That raise goes to crash reporting like any bug of the
// agent, with no switch in the program.
#include "support/Win32.h"

// parameter: the live host's port. Gives the number of sockets closed.
extern "C" __declspec(dllexport) DWORD WINAPI CloseLinkSocket(void* parameter) {
  const u_short port = static_cast<u_short>(reinterpret_cast<ULONG_PTR>(parameter));
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return 0;
  DWORD closed = 0;
  // The agent keeps its socket handle to itself: find it among the handle
  // values by its peer. Any other kind of handle fails the query.
  for (ULONG_PTR value = 4; value < 0x10000; value += 4) {
    const SOCKET candidate = static_cast<SOCKET>(value);
    sockaddr_in peer = {};
    int length = sizeof peer;
    if (getpeername(candidate, reinterpret_cast<sockaddr*>(&peer), &length) != 0) continue;
    if (peer.sin_family != AF_INET || ntohs(peer.sin_port) != port) continue;
    if (ntohl(peer.sin_addr.s_addr) != INADDR_LOOPBACK) continue;
    if (closesocket(candidate) == 0) ++closed;
  }
  WSACleanup();
  return closed;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, void*) { return TRUE; }
