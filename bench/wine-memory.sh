#!/usr/bin/env bash
# The Windows agent's memory over a long run under Wine, measured from outside:
#   bench/wine-memory.sh [minutes, 60] [messages per second, 20]
# Needs the Windows build (build-windows/). "wardex.exe -debug" with the session toolbox, which
# is loaded and freed around every message, echoes messages of 64 B to 64 KiB at a steady
# pace; its resident memory and thread count are printed once a minute.
set -euo pipefail
cd "$(dirname "$0")/.."
minutes="${1:-60}"
rate="${2:-20}"
source tests/wine/wine-test-lib.sh build-windows/bin "" build-windows/bench-wine

cp "$win_bin/wardex.exe" "$win_bin/wardex_test_session.dll" "$work/program/"
bench/wine-memory.py "$work/port" "$(basename "$work").program.wardex.exe" "$minutes" "$rate" &
load_pid=$!
wait_for 10 test -s "$work/port" || { echo "wine-memory.py did not start listening" >&2; exit 1; }
port="$(cat "$work/port")"
store_settings '"LogDebug"=dword:00000000' '"LogInformation"=dword:00000000'
wardex -debug -count=1 -load=wardex_test_session.dll >/dev/null 2>&1
wait "$load_pid"
