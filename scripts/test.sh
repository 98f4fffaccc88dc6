#!/usr/bin/env bash
# Builds the watchdog four ways (see scripts/configure.sh) and runs every test: unit tests and
# a soak against the simulated Windows, the product image check, the end-to-end scenarios and a
# soak under wine64. The full-length soaks (scripts/soak.sh) and the measurements
# (scripts/benchmark.sh) are left out. Extra arguments go to every ctest run: -L e2e, say.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-dependencies.sh
trees=(native i686 x86_64 x86_64-fast)
scripts/configure.sh "${trees[@]}"

status=0
for tree in "${trees[@]}"; do
  echo "== ctest in build/$tree"
  (cd "build/$tree" && ctest --output-on-failure -j "$(nproc)" -LE 'long|measure' "$@") || status=1
done
exit $status
