#!/usr/bin/env bash
# Configures and builds the named trees under build/, warnings as errors:
#   native       the logic against the simulated Windows, with ASan and UBSan (unit, soak)
#   bench        the same without sanitizers, for benchmark figures
#   i686         the product, watchdog.exe for Windows XP and later
#   x86_64       a test build with a 2 000 ms pause, for the end-to-end scenarios under wine64
#   x86_64-fast  a test build with a 5 ms pause, for soaks and measurements under wine64
set -euo pipefail
cd "$(dirname "$0")/.."

for tree in "$@"; do
  case $tree in
    native) options=() ;;
    bench) options=(-DWATCHDOG_SANITIZE=OFF) ;;
    i686) options=(-DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-i686.cmake) ;;
    x86_64) options=(-DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-x86_64.cmake -DWATCHDOG_CYCLE_PAUSE_MS=2000) ;;
    x86_64-fast) options=(-DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-x86_64.cmake -DWATCHDOG_CYCLE_PAUSE_MS=5) ;;
    *) echo "configure.sh: no tree named $tree" >&2; exit 2 ;;
  esac
  cmake -S . -B "build/$tree" --no-warn-unused-cli -DCMAKE_BUILD_TYPE=Release -DWATCHDOG_WARNINGS_AS_ERRORS=ON \
    "${options[@]}" >/dev/null
  cmake --build "build/$tree" -j "$(nproc)"
done
