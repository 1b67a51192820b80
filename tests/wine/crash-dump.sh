#!/usr/bin/env bash
# crash-dump.sh <Windows bin folder> <Linux bin folder> <Wine prefix>: each way a toolbox or
# the agent itself can end the process leaves one minidump named by a GUID beside the program,
# and a process that has ended as the system's failure handling ends it.
source "$(dirname "$0")/wine-test-lib.sh"

# A process that hangs fails its row instead of holding up the run.
limit=60
cp "$win_bin"/{wardex.exe,default.dll,crash_toolbox.dll,abort_toolbox.dll} "$win_bin"/{load_crash_toolbox.dll,crash_handler_child.exe} "$work/program/"

# bounded <program> <arguments...>: output in $work/console, exit status in $status.
bounded() {
  status=0
  (cd "$work/program" && timeout -k 5 "$limit" "$wine_run" "$prefix" \
    "$program_windows\\$1" "${@:2}" </dev/null 2>&1 | tr -d '\r') >"$work/console" || status=$?
}
# session <toolbox>: the message after the session request (which the reference toolbox
# takes) goes on to the toolbox.
printf 'expect Request=CreateSession\nsend Request=Crash\n' >"$work/crash.qxs"
session() {
  start_qxsim "$work/crash.qxs"
  store_settings
  bounded wardex.exe -debug -count=1 "-load=default.dll,$1"
  stop_qxsim
}
# row <name> <exit status or ""> <line the failure handling writes> <command...>
row() {
  local name="$1" dumps
  "${@:4}"
  cp "$work/console" "$work/console.$name"
  [ "$status" -lt 124 ] || fail "$name: still running after $limit s"
  [ -z "$2" ] || [ "$status" -eq "$2" ] || fail "$name: ended with $status, not $2"
  grep -qF -- "$3" "$work/console" || fail "$name: the failure handling did not follow ($3)"
  dumps="$(cd "$work/program" && echo *.dmp)"
  [[ "$dumps" =~ ^[0-9a-f]{8}(-[0-9a-f]{4}){3}-[0-9a-f]{12}\.dmp$ ]] &&
    [ "$(head -c 4 "$work/program/$dumps")" = MDMP ] ||
    fail "$name: not one minidump named by a GUID beside the program: $dumps"
  rm -f "$work/program/"*.dmp
}

# Under Wine the system's debugger reports a fault and ends the process with status 0.
row fault "" "Unhandled exception" session crash_toolbox.dll
row abort 3 "" session abort_toolbox.dll
row load 3 "terminate called without an active exception" session load_crash_toolbox.dll
# The runtime's own terminate handler, chained after the agent's, reports it; after a
# fault's dump the exception filter that was there before runs.
row terminate 3 "terminate called without an active exception" \
  bounded crash_handler_child.exe "$program_windows" terminate
row chained 5 "the filter set before ran" \
  bounded crash_handler_child.exe "$program_windows" fault

report "$work"/console.* "$work/program/agent.log" "$work/transcript"
echo "each crash left one minidump and an ended process"
