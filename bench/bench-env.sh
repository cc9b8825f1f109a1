# Sourced by the benchmark scripts: the benchmarks' own 64-bit release build
# folder and Wine prefix (QEX_BENCH_BUILD and QEX_BENCH_PREFIX override them),
# and a way to build targets there.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${QEX_BENCH_BUILD:-$root/build/bench64}
prefix=${QEX_BENCH_PREFIX:-$root/build/bench64-prefix}

bench_build() {  # TARGET...
  cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" -j2 --target "$@"
}
