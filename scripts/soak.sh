#!/usr/bin/env bash
# The full-length soaks, which the test command runs shorter: 1 000 000 cycles against the
# simulated Windows with random faults (the seed is printed), and 10 000 cycles of the real
# program under wine64 with its handles and memory sampled every 500 cycles.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-dependencies.sh
scripts/configure.sh native x86_64-fast
(cd build/native && ctest -L long -V)
(cd build/x86_64-fast && ctest -L long -V)
