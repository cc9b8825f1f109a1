// Traces "burst N" for N from 0 to COUNT - 1 as fast as it can, then returns
// from main at once: what its viewer receives shows what exit does with the
// lines still queued.
//   trace_burst COUNT
#include <cstdlib>

#include "support/Debugs.h"

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 0;
  for (int i = 0; i < count; ++i) TraceFmt("burst %d", i);
  return 0;
}
