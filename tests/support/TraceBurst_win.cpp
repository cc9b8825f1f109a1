// Traces "burst N" for N from 0 to COUNT - 1 as fast as it can, then returns
// from main at once: what its viewer receives shows what exit does with the
// lines still queued. With IDLE_MS, it waits that long after the first line,
// so the rest come to a writer that has gone idle.
//   trace_burst COUNT [IDLE_MS]
#include <cstdlib>

#include "support/Debugs.h"
#include "support/Win32.h"

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 0;
  const int idleMs = argc > 2 ? std::atoi(argv[2]) : 0;
  for (int i = 0; i < count; ++i) {
    TraceFmt("burst %d", i);
    if (i == 0 && idleMs > 0) Sleep(idleMs);
  }
  return 0;
}
