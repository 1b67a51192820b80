#!/usr/bin/env bash
# The Windows agent under Wine with a toolbox that crashes on the first message the server
# sends, on the worker thread that message gets:
#   crash-dump.sh <Windows bin folder> <Linux bin folder> <Wine prefix>
# The crash goes on to the system's failure handling and leaves exactly one minidump beside
# the program, named by a GUID.
source "$(dirname "$0")/wine-test-lib.sh"

cp "$win_bin/wardex.exe" "$win_bin/default.dll" "$win_bin/crash_toolbox.dll" "$work/program/"
# The reference toolbox takes the session request; the crash toolbox gets the next message.
printf 'expect Request=CreateSession\nsend Request=Crash\n' >"$work/crash.qxs"
start_qxsim "$work/crash.qxs"
store_settings
wardex -debug -count=1 -load=default.dll,crash_toolbox.dll >"$work/console" 2>&1 || true
# After the dump the system's failure handling goes on: under Wine its debugger reports the
# exception and ends the process, whose exit status Wine then gives as 0.
grep -q "Unhandled exception" "$work/console" || fail "the system did not handle the crash"
mapfile -t dumps < <(cd "$work/program" && ls -- *.dmp 2>/dev/null)
if [ "${#dumps[@]}" -ne 1 ]; then
  fail "${#dumps[@]} dumps beside the program: ${dumps[*]}"
else
  [[ "${dumps[0]}" =~ ^[0-9a-f]{8}(-[0-9a-f]{4}){3}-[0-9a-f]{12}\.dmp$ ]] ||
    fail "the dump is not named by a GUID: ${dumps[0]}"
  [ "$(head -c 4 "$work/program/${dumps[0]}")" = MDMP ] || fail "${dumps[0]} is no minidump"
fi
report "$work/console" "$work/program/agent.log" "$work/transcript"
echo "the crash left one minidump: ${dumps[0]}"
