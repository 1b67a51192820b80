#!/usr/bin/env bash
# The Windows agent's memory under a stream of messages, measured from outside:
#   memory-flat.sh <Windows bin folder> <Linux bin folder> <Wine prefix>
# "wardex.exe -debug" with the session toolbox, which is loaded and freed around every
# message, echoes 1,700 messages of up to 64 KiB, one at a time, to echo-load.py; after a warm-up its
# resident memory may grow by a few MiB at most. A toolbox that left memory behind at every
# unload grew it by tens of MiB here.
source "$(dirname "$0")/wine-test-lib.sh"

cp "$win_bin/wardex.exe" "$win_bin/wardex_test_session.dll" "$work/program/"
"$here/echo-load.py" "$work/port" "$(basename "$work").program.wardex.exe" \
  200 1500 65536 8192 >"$work/load" 2>&1 &
load_pid=$!
wait_for 10 test -s "$work/port" || fail "echo-load.py did not start listening"
port="$(cat "$work/port")"
store_settings '"LogDebug"=dword:00000000' '"LogInformation"=dword:00000000'
wardex -debug -count=1 -load=wardex_test_session.dll >/dev/null 2>&1 || fail "status $?"
wait "$load_pid" || fail "$(tail -n 3 "$work/load")"
report "$work/load" "$work/program/agent.log"
cat "$work/load"
