#!/usr/bin/env bash
# The Windows agent as a service of the service control manager of a Wine prefix:
#   service-life.sh <Windows bin folder> <Linux bin folder> <Wine prefix>
# installed with -install (the program's path quoted, a preshutdown time-out; a second
# install changes nothing), started by the manager, reaching RUNNING and serving a session
# with qxsim, stopped (STOP_PENDING, then STOPPED once the bootstrap has ended, the process
# gone), refused when started from the console, started again and stopped with its log's
# folder gone, and removed with its settings key. The prefix's server is kept for the whole test: Wine starts
# the automatic services whenever a prefix's server starts, as Windows does at boot.
source "$(dirname "$0")/wine-test-lib.sh"
export WINEPREFIX="$prefix"
in_state() { [ "$(service_state)" = "$1" ]; }
# Wine names its processes by their Windows or Linux path: both hold the work folder's name.
process_running() { ps -eo args | grep -F "$(basename "$work")" | grep -vq grep; }
cleanup() {
  stop_qxsim
  wine_do sc stop "$service" >/dev/null
  wine_do sc delete "$service" >/dev/null
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

wine_do sc delete "$service" >/dev/null
# The server that command started lingers a few seconds; a server that stays can only start
# once it has gone.
wineserver -w
wineserver -p
cp "$win_bin/wardex.exe" "$win_bin/default.dll" "$win_bin/config.dll" "$work/program/"
start_qxsim "$here/service.qxs"
# The log in a folder of its own, which the last stop finds gone.
logs="$work/logs"
log="$logs/agent.log"
log_setting="\"LogFile\"=\"Z:$(printf '%s' "$log" | sed 's|/|\\\\|g')\""
store_settings "$log_setting"

wardex -install -load=default.dll,config.dll >"$work/console-install" 2>&1 ||
  fail "-install: status $?"
wardex -install -load=other.dll >"$work/console-install-again" 2>&1 ||
  fail "second -install: status $?"
wine_do reg query "$service_key" /reg:64 >"$work/service-key"
expect_lines "$work/service-key" \
  "ImagePath    REG_SZ    \"$program_windows\\wardex.exe\" -load=default.dll,config.dll" \
  "Start    REG_DWORD    0x2" "Type    REG_DWORD    0x10" "ObjectName    REG_SZ    LocalSystem" \
  "DisplayName    REG_SZ    $service" "PreshutdownTimeout    REG_DWORD    0xea60"
# Wine keeps no failure actions and refuses their flag: logged, and the service is installed.
expect_lines "$log" \
  "the service's failure actions on an end with an error cannot be set (system error 87)"

# Wine may have started the automatic service already; then the start is refused.
wine_do sc start "$service" >"$work/sc-start"
wait_for 30 in_state 4 || fail "the service did not reach RUNNING: state $(service_state)"
wait_for 30 grep -qF "[1] IN  Reply=GetState" "$work/transcript" ||
  fail "the service held no session"
status=0
wardex -load=default.dll >"$work/console-second" 2>&1 || status=$?
[ "$status" -eq 1 ] || fail "a console start while the service runs: status $status"

wine_do sc stop "$service" >"$work/sc-stop"
wait_for 30 in_state 1 || fail "the service did not reach STOPPED: state $(service_state)"
wait_for 10 eval '! process_running' || fail "the service's process is still running"
wait_for 10 grep -qF "disconnected" "$work/transcript" || fail "the session did not end"
# Not started by the manager: the dispatcher cannot connect, and the program returns.
wardex -load=default.dll >"$work/console-direct" 2>&1 || fail "console start: status $?"
in_state 1 || fail "the console start changed the service's state to $(service_state)"
expect_lines "$log" "Entering QxaServiceMain()" "Tell ServiceControl SERVICE_RUNNING" \
  "ServiceControl::StartService - Failed to start service" \
  "StartService - Service is already running" "Leaving Main()"
stop_order="Sending SERVICE_STOP_PENDING|Waiting 2000 milliseconds|thread exited, sending  SERVICE_STOPPED"
stop_lines="$(grep -s -oE "$stop_order" "$log" | uniq | paste -sd '|' || true)"
[ "$stop_lines" = "$stop_order" ] || fail "the stop's reports: $stop_lines"

# A session again, then the log's folder gone, a file in its place so that nothing makes it
# anew: the stop can write none of its lines and still reaches STOPPED.
start_qxsim "$here/service.qxs"
store_settings "$log_setting"
wine_do sc start "$service" >/dev/null
wait_for 30 grep -qF "[1] IN  Reply=GetState" "$work/transcript" ||
  fail "the second start held no session"
mv "$log" "$work/first-log"
rm -rf "$logs"
touch "$logs"
wine_do sc stop "$service" >/dev/null
wait_for 30 in_state 1 || fail "without its log the service did not reach STOPPED: $(service_state)"
wait_for 10 eval '! process_running' || fail "without its log the process is still running"

wardex -remove >"$work/console-remove" 2>&1 || fail "-remove: status $?"
[ -z "$(service_state)" ] || fail "the service is still installed"
has_key "$settings_key" /reg:32 && fail "the settings key is still there"
report "$work"/console-* "$work/sc-start" "$work/sc-stop" "$work/first-log" "$work/transcript"
grep -F "QxaServiceEntry" "$work/first-log" | tr -d '\r'
echo "the service was installed, ran a session, stopped in order, stopped without its log and was removed"
