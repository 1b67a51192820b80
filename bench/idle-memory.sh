#!/usr/bin/env bash
# The resident memory of the agent of the Linux build (build/) idle as a service: started as
# the service manager starts it (NOTIFY_SOCKET set), the file log on (errors and information),
# the session toolbox, in session with a listener that holds the connection and sends
# nothing. Prints /proc/<pid>/status's VmRSS, RssAnon, RssFile and Threads after a wait, and
# with --maps the resident memory of each mapped file.
#   bench/idle-memory.sh [--maps]
set -euo pipefail
cd "$(dirname "$0")/.."
work="$(mktemp -d "${TMPDIR:-/tmp}/wardex-idle-XXXXXX")"
trap 'kill "$server" 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir -p "$work/program" "$work/run" "$work/etc/corvane" "$work/log"
: >"$work/run/utmp"
cp build/bin/wardex build/bin/wardex_test_session.so "$work/program/"
python3 - "$work" <<'PY' &
import os, socket, sys, time
work = sys.argv[1]
notify = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
notify.bind(work + "/notify")
listener = socket.socket()
listener.bind(("127.0.0.1", 0))
listener.listen(1)
with open(work + "/port.new", "w") as port:
    port.write(str(listener.getsockname()[1]))
os.rename(work + "/port.new", work + "/port")
connection, _ = listener.accept()
time.sleep(60)
PY
server=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
printf '%s\n' 'Windows Registry Editor Version 5.00' '' \
  '[HKEY_LOCAL_MACHINE\Software\Corvane\Client Service]' '"TcpAddr"="127.0.0.1"' \
  "\"TcpPort\"=\"$(cat "$work/port")\"" "\"LogFile\"=\"$work/log/wardex.log\"" \
  '"LogErrors"=dword:00000001' '"LogInformation"=dword:00000001' '"LogSize"=dword:00100000' \
  >"$work/etc/corvane/registry.reg"
CORVANE_ROOT="$work" NOTIFY_SOCKET="$work/notify" "$work/program/wardex" \
  -load=wardex_test_session.so >/dev/null 2>&1 &
agent=$!
sleep 2
grep -E '^(VmRSS|RssAnon|RssFile|Threads):' "/proc/$agent/status" | tr -s ' \t' ' ' | paste -sd' '
if [ "${1:-}" = --maps ]; then
  awk '/^[0-9a-f]+-[0-9a-f]+ / { name = (NF > 5 ? $6 : "[anonymous]") }
       /^Rss:/ { kib[name] += $2 }
       END { for (n in kib) if (kib[n] >= 64) printf "%8d KiB %s\n", kib[n], n }' \
    "/proc/$agent/smaps" | sort -rn
fi
kill -TERM "$agent"
wait "$agent" || true
