#!/usr/bin/env bash
# The Windows agent under Wine against the simulator of a Linux build on the loopback:
#   agent-session.sh <Windows bin folder> <Linux bin folder> <Wine prefix>
# 1. The console modes: -skt applies "mireton.inp", -verbose lists the settings, -version
#    loads the toolboxes and tells the program's architecture, -help. Then two runs of
#    "wardex.exe -debug -count=1", each a whole plain session (tests/wine/session.qxs): every
#    built-in command, the settings read from and written to the prefix's registry in its
#    32-bit view whichever the build (the 64-bit view shows them below WOW6432Node), the
#    update names of the program's architecture, the task state carried from the first run
#    to the second in "wardex.dat".
# 2. The Linux agent reads the "wardex.dat" that the Windows agent wrote.
# 3. Nine runs against a closed port with the waits divided (CORVANE_WAIT_DIVISOR): the
#    start-up retries follow the reconnect schedule.
source "$(dirname "$0")/wine-test-lib.sh"

cp "$win_bin/wardex.exe" "$win_bin/default.dll" "$win_bin/config.dll" \
  "$win_bin/wardex_test_session.dll" "$work/program/"
toolboxes=-load=default.dll,config.dll,wardex_test_session.dll

start_qxsim "$here/session.qxs" --exit-after=2
store_settings
# The console modes but -debug: -skt applies the settings input file.
printf 'ConsoleName=from input file\n' >"$work/program/mireton.inp"
CORVANE_WAIT_DIVISOR=1000 wardex -skt "$toolboxes" >"$work/console-skt" 2>&1 || fail "-skt: status $?"
[ ! -e "$work/program/mireton.inp" ] || fail "-skt left mireton.inp unread"
wardex -verbose >"$work/console-verbose" 2>&1 || fail "-verbose: status $?"
expect_lines "$work/console-verbose" "TcpAddr=127.0.0.1" "ConsoleName=from input file"
wardex -version -load=default.dll,config.dll >"$work/console-version" 2>&1 ||
  fail "-version: status $?"
bits=64
[ "$arch" = X64 ] || bits=32
expect_lines "$work/console-version" "agent Version 6.8.282 ($bits bit)" "default.dll 1.0.0" \
  "config.dll 1.0.0"
wardex -help >"$work/console-help" 2>&1 || fail "-help: status $?"
expect_lines "$work/console-help" "Usage: wardex [options] ..."
for run in 1 2; do
  wardex -debug -count=1 "$toolboxes" >"$work/console-$run" 2>&1 ||
    fail "run $run ended with exit status $?"
done
await_qxsim
cp "$work/transcript" "$work/windows-transcript"
wine_do reg query 'HKLM\Software\WOW6432Node\Corvane\Client Service' /v ConsoleName /reg:64 \
  >"$work/registry"
expect_lines "$work/registry" "ConsoleName    REG_SZ    wine session"
expect_lines "$work/windows-transcript" \
  "[1] IN  Request=CreateSession" "[1] IN  Reply=GetState" "[1] IN  Reply=SetState" \
  "[1]     TcpAddr=127.0.0.1" "[1]     ConsoleName=from input file" \
  "[1] IN  Reply=SetAgentSettings" "[1] IN  Reply=ClearState" \
  "[1]     Auto-Update-Current0=corvane-wardex-6.8.282.$arch.exe" "[1]     Command=StopService" \
  "[1]     Command=RestartService" \
  "[1] IN  Request=KeepAlive" "[1] OUT Request=CloseSession" \
  "[2]     ConsoleName=wine session" "[2]     Task-Sequence-ID=17" \
  "[2] disconnected: the agent closed the connection"
if grep -q "nothing came" "$work/windows-transcript"; then
  fail "a reply did not come: $(grep "nothing came" "$work/windows-transcript")"
fi

# The Linux agent, with the state file of the Windows one, asks for its session.
mkdir -p "$work/linux/program" "$work/linux/root/etc/corvane"
cp "$linux_bin/wardex" "$linux_bin/default.so" "$work/program/wardex.dat" "$work/linux/program/"
printf 'expect Request=CreateSession\nsend Request=CloseSession\n' >"$work/linux.qxs"
start_qxsim "$work/linux.qxs"
printf '%s\n' 'Windows Registry Editor Version 5.00' '' \
  '[HKEY_LOCAL_MACHINE\Software\Corvane\Client Service]' '"TcpAddr"="127.0.0.1"' \
  "\"TcpPort\"=\"$port\"" >"$work/linux/root/etc/corvane/registry.reg"
CORVANE_ROOT="$work/linux/root" "$work/linux/program/wardex" -debug -count=1 -load=default.so \
  >"$work/linux/console" 2>&1 </dev/null || fail "the Linux agent ended with exit status $?"
await_qxsim
expect_lines "$work/transcript" "[1] IN  Request=CreateSession" "[1]     Task-Sequence-ID=17"

# Nothing listens on the port any more: every run fails to connect and waits its retry.
CORVANE_WAIT_DIVISOR=1000 wardex -debug -count=9 "$toolboxes" >"$work/console-retry" 2>&1 || true
waits="$(sed -n 's/.*Retrying startup in \([0-9]*\) seconds.*/\1/p' "$work/program/agent.log" |
  tr '\n' ' ')"
[ "$waits" = "1 1 1 1 15 15 15 60 60 " ] || fail "retry waits: '$waits'"

report "$work"/console-* "$work/windows-transcript" "$work/program/agent.log"
echo "the Windows agent held two sessions, carried its state, and its state file reads on Linux"
