#!/usr/bin/env bash
# The agent's memory, threads and open descriptors over a long run, measured from outside:
#   bench/memory-soak.sh linux|windows [minutes, 60] [messages per second, 20]
# The agent of the Linux build (build/) with a relocated root, or the Windows build's
# (build-windows/) under Wine, runs "-debug" with the session toolbox, which is loaded and
# freed around every message, and echoes messages of 64 B to 64 KiB at a steady pace;
# memory-soak.py prints the figures of the agent's process once a minute. Under Wine the
# descriptors are Wine's, not the Windows handles, which the Wine server keeps.
set -euo pipefail
cd "$(dirname "$0")/.."
platform="${1:?usage: bench/memory-soak.sh linux|windows [minutes] [messages per second]}"
minutes="${2:-60}"
rate="${3:-20}"
if [ "$platform" = windows ]; then
  source tests/wine/wine-test-lib.sh build-windows/bin "" build-windows/bench-wine
  cp "$win_bin/wardex.exe" "$win_bin/wardex_test_session.dll" "$work/program/"
  pattern="$(basename "$work").program.wardex.exe"
else
  work="$(mktemp -d "${TMPDIR:-/tmp}/wardex-soak-XXXXXX")"
  trap 'rm -rf "$work"' EXIT
  mkdir -p "$work/program" "$work/run" "$work/etc/corvane"
  : >"$work/run/utmp"
  cp build/bin/wardex build/bin/wardex_test_session.so "$work/program/"
  pattern="^$work/program/wardex "
fi
bench/memory-soak.py "$work/port" "$pattern" "$minutes" "$rate" &
load_pid=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
port="$(cat "$work/port")"
if [ "$platform" = windows ]; then
  store_settings '"LogDebug"=dword:00000000' '"LogInformation"=dword:00000000'
  wardex -debug -count=1 -load=wardex_test_session.dll >/dev/null 2>&1
else
  printf '%s\n' 'Windows Registry Editor Version 5.00' '' \
    '[HKEY_LOCAL_MACHINE\Software\Corvane\Client Service]' '"TcpAddr"="127.0.0.1"' \
    "\"TcpPort\"=\"$port\"" >"$work/etc/corvane/registry.reg"
  CORVANE_ROOT="$work" "$work/program/wardex" -debug -count=1 \
    -load=wardex_test_session.so >/dev/null 2>&1
fi
wait "$load_pid"
