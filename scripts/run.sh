#!/usr/bin/env bash
# Runs the watchdog under wine64 in a private Wine prefix (build/run/prefix), beside a stand-in
# for Tessavine installed at "C:\Program Files\Brisquane\Tessavine.exe", and prints its report
# lines as they come, until Ctrl-C ends it and every Wine process of that prefix with it.
#
#   scripts/run.sh            the real program: one cycle a minute
#   scripts/run.sh --quick    a variant built with a 3 000 ms pause, for a quick look
#
# The stand-in writes to its log for a while after each start and then hangs, so the watchdog
# is seen launching it, leaving it alone while it works, and killing it once it is idle.
set -euo pipefail
cd "$(dirname "$0")/.."

pause_ms=60000
work_seconds=150   # about two cycles at work, then idle
if [ "${1:-}" = "--quick" ]; then
  pause_ms=3000
  work_seconds=7
elif [ $# -gt 0 ]; then
  echo "usage: scripts/run.sh [--quick]" >&2
  exit 2
fi

scripts/install-dependencies.sh
tree=build/run-$pause_ms
cmake -S . -B "$tree" --no-warn-unused-cli -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release \
  -DWATCHDOG_CYCLE_PAUSE_MS=$pause_ms -DBUILD_TESTING=ON >/dev/null
cmake --build "$tree" -j "$(nproc)" --target watchdog tessavine_stand_in >/dev/null

wine64=/usr/lib/wine/wine64
export WINEPREFIX=$PWD/build/run/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "Making the Wine prefix $WINEPREFIX ..."
  mkdir -p "$WINEPREFIX"
  "$wine64" wineboot -i >/dev/null 2>&1
fi
stop_wine() { /usr/lib/wine/wineserver -k 2>/dev/null || true; }
trap stop_wine EXIT
trap 'exit 130' INT TERM HUP
stop_wine  # nothing left over from an earlier run

drive_c=$WINEPREFIX/drive_c
mkdir -p "$drive_c/Program Files/Brisquane" "$drive_c/stand-in"
cp "$tree/tests/tessavine_stand_in.exe" "$drive_c/Program Files/Brisquane/Tessavine.exe"
echo "$work_seconds" > "$drive_c/stand-in/work-seconds.txt"
rm -f "$drive_c/windows/temp/Tessavine.log" "$drive_c/windows/temp/"*.sql

echo "Watchdog running (cycle pause ${pause_ms} ms); Ctrl-C ends it. Stand-in starts: $drive_c/stand-in/starts.txt"
"$wine64" "$tree/watchdog.exe" </dev/null | cat
