// A stand-in for the system's mapi32.dll: records each MAPISendMail call to
// the file named by QEX_MAPI_LOG (attachments copied beside it, since the
// sender may delete them afterwards) and answers with QEX_MAPI_RESULT
// (default 0, success). With QEX_MAPI_HOLD naming an event, the call logs
// "held", then waits for the event (at most a minute), as a compose window
// stays open, and only then reads the attachments. With QEX_MAPI_HOLD_MS it
// logs its thread id and holds the call that long before it returns.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/Win32.h"

namespace {

std::string Env(const char* name) {
  char value[1024] = {};
  DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
  return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

void Line(FILE* out, const char* key, const char* value) {
  std::fprintf(out, "%s=%s\n", key, value ? value : "(null)");
}

}  // namespace

extern "C" __declspec(dllexport) ULONG WINAPI MAPISendMail(LHANDLE session, ULONG_PTR uiParam, lpMapiMessage message,
                                                           FLAGS flags, ULONG reserved) {
  (void)session;
  (void)uiParam;
  (void)reserved;
  const std::string log = Env("QEX_MAPI_LOG");
  if (!log.empty()) {
    FILE* out = std::fopen(log.c_str(), "ab");
    if (out) {
      std::fprintf(out, "call flags=%lu\n", static_cast<unsigned long>(flags));
      Line(out, "subject", message->lpszSubject);
      Line(out, "body", message->lpszNoteText);
      if (message->lpOriginator) {
        Line(out, "from.name", message->lpOriginator->lpszName);
        Line(out, "from.address", message->lpOriginator->lpszAddress);
      }
      std::fprintf(out, "recipients=%lu\n", static_cast<unsigned long>(message->nRecipCount));
      std::fprintf(out, "files=%lu\n", static_cast<unsigned long>(message->nFileCount));
      std::fclose(out);
    }
    const std::string hold = Env("QEX_MAPI_HOLD");
    if (!hold.empty()) {
      if ((out = std::fopen(log.c_str(), "ab"))) {
        std::fprintf(out, "held\n");
        std::fclose(out);
      }
      if (HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, hold.c_str())) {
        WaitForSingleObject(event, 60000);
        CloseHandle(event);
      }
    }
    if ((out = std::fopen(log.c_str(), "ab"))) {
      const std::string folder = log.substr(0, log.find_last_of("\\/") + 1);
      for (ULONG i = 0; i < message->nFileCount; ++i) {
        const MapiFileDesc& file = message->lpFiles[i];
        Line(out, "file.path", file.lpszPathName);
        Line(out, "file.name", file.lpszFileName);
        if (file.lpszPathName && file.lpszFileName &&
            !CopyFileA(file.lpszPathName, (folder + "attached-" + file.lpszFileName).c_str(), FALSE))
          std::fprintf(out, "file.missing=%s\n", file.lpszFileName);
      }
      std::fclose(out);
    }
  }
  const std::string holdMs = Env("QEX_MAPI_HOLD_MS");
  if (!holdMs.empty()) {
    if (FILE* out = std::fopen((log + ".thread").c_str(), "wb")) {
      std::fprintf(out, "%lu", static_cast<unsigned long>(GetCurrentThreadId()));
      std::fclose(out);
    }
    Sleep(static_cast<DWORD>(std::strtoul(holdMs.c_str(), nullptr, 10)));
  }
  const std::string result = Env("QEX_MAPI_RESULT");
  return result.empty() ? 0 : static_cast<ULONG>(std::strtoul(result.c_str(), nullptr, 10));
}
