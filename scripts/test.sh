#!/usr/bin/env bash
# Builds the watchdog three ways and runs every test, warnings as errors:
#   build/native   the logic against the simulated Windows (unit, soak; ASan and UBSan)
#   build/i686     the product, watchdog.exe for Windows XP and later (its image is checked)
#   build/x86_64   a test build with a 2 000 ms pause, run under wine64 (end-to-end)
#   build/x86_64-fast  a test build with a 5 ms pause, run under wine64 for thousands of cycles (soak)
# Extra arguments go to every ctest run, for example: scripts/test.sh -L e2e
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-dependencies.sh

jobs=$(nproc)
configure() {  # tree, then cmake arguments
  local tree=$1; shift
  cmake -S . -B "build/$tree" --no-warn-unused-cli -DWATCHDOG_WARNINGS_AS_ERRORS=ON "$@" >/dev/null
  cmake --build "build/$tree" -j "$jobs"
}
configure native
configure i686 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-i686.cmake -DCMAKE_BUILD_TYPE=Release
configure x86_64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release \
  -DWATCHDOG_CYCLE_PAUSE_MS=2000
configure x86_64-fast -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release \
  -DWATCHDOG_CYCLE_PAUSE_MS=5

status=0
for tree in native i686 x86_64 x86_64-fast; do
  echo "== ctest in build/$tree"
  (cd "build/$tree" && ctest --output-on-failure -j "$jobs" "$@") || status=1
done
exit $status
