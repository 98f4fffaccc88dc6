#!/usr/bin/env bash
# Measures what the watchdog costs; prints figures and asserts nothing:
#   one cycle against the simulated Windows with 50, 500 and 5 000 processes (Google Benchmark,
#   unsanitized); the CPU time of one cycle of the real program under wine64 beside
#   cycle_floor.exe, which makes only the Windows calls a cycle needs, and the working set after
#   start-up; the size of the product.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-dependencies.sh
scripts/configure.sh bench i686 x86_64-fast
build/bench/tests/cycle_benchmark
(cd build/x86_64-fast && ctest -L measure -V)
echo "product: build/i686/watchdog.exe, $(stat -c %s build/i686/watchdog.exe) bytes"
