// A stand-in for the user's mail program behind the "mailto" protocol:
// writes its command line and its arguments, as the platform splits them,
// to the file named by QEX_MAILTO_LOG (UTF-8), and ends.
#include <cstdio>
#include <string>

#include "support/ScopedHandle.h"
#include "support/Win32.h"

namespace {

std::string Utf8(const wchar_t* wide) {
  int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n > 0 ? n - 1 : 0), '\0');
  if (n > 1) WideCharToMultiByte(CP_UTF8, 0, wide, -1, &out[0], n, nullptr, nullptr);
  return out;
}

}  // namespace

int main() {
  wchar_t log[MAX_PATH] = {};
  if (!GetEnvironmentVariableW(L"QEX_MAILTO_LOG", log, MAX_PATH)) return 1;
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  const ScopedLocalMemory ownedArgv(argv);
  FILE* out = _wfopen(log, L"ab");
  if (!out) return 1;
  std::fprintf(out, "argc=%d\n", argc);
  for (int i = 1; i < argc; ++i) std::fprintf(out, "arg%d=%s\n", i, Utf8(argv[i]).c_str());
  std::fclose(out);
  return 0;
}
