# Shared by the Wine scripts that drive the Windows agent, sourced with (or after) the
# script's arguments: <Windows bin folder> <Linux bin folder> <Wine prefix>. The Linux bin
# folder (qxsim, the Linux agent) may be left empty by a test that needs none of it.
# $arch: X86 or X64, as wardex.exe is; an X86 one that cannot run here skips (status 77).
set -euo pipefail
win_bin="$1"
linux_bin="$2"
# Absolute, since the programs run in the program folder.
prefix="$(realpath -m "$3")"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
wine_run="$here/../../cmake/wine-run"
arch="$(objdump -f "$win_bin/wardex.exe" | sed -n 's/.* pei-i386$/X86/p; s/.* pei-x86-64$/X64/p')"
[ -n "$arch" ] || { echo "$win_bin/wardex.exe: no Windows program for x86 or x86-64" >&2 && exit 1; }
if [ "$arch" = X86 ] && ! why="$("$here/../../cmake/run32-check" wine)"; then
  echo "skipped: the 32-bit agent cannot run under Wine here: $why" && exit 77
fi
for file in ${linux_bin:+"$linux_bin/qxsim" "$linux_bin/wardex" "$linux_bin/default.so"}; do
  if [ ! -f "$file" ]; then
    echo "$file is missing: build the Linux tree first (scripts/test windows does)" >&2
    exit 1
  fi
done
work="$(mktemp -d "${TMPDIR:-/tmp}/wardex-wine-XXXXXX")"
mkdir -p "$work/program"
# The program folder as Windows programs in the prefix name it.
program_windows="Z:$(printf '%s' "$work/program" | tr '/' '\\')"
qxsim_pid=""
trap 'stop_qxsim; rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
# start_qxsim <script> [qxsim options...]: qxsim for one agent on a free port ($port), its
# transcript in $work/transcript; the options given override the defaults here.
start_qxsim() {
  "$linux_bin/qxsim" --port=0 --session=ignore --exit-after=1 --script="$1" "${@:2}" \
    >"$work/transcript" 2>&1 </dev/null &
  qxsim_pid=$!
  for _ in $(seq 200); do
    port="$(sed -n 's/^qxsim: listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/transcript")"
    [ -n "$port" ] && return 0
    sleep 0.05
  done
  cat "$work/transcript" >&2
  exit 1
}
stop_qxsim() {
  [ -z "$qxsim_pid" ] || kill "$qxsim_pid" 2>/dev/null || true
  qxsim_pid=""
}
# await_qxsim: qxsim ends by itself once its agents have gone; a run that never connected
# leaves it waiting, so it is stopped after ten seconds.
await_qxsim() {
  for _ in $(seq 100); do
    kill -0 "$qxsim_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill "$qxsim_pid" 2>/dev/null || true
  wait "$qxsim_pid" || true
  qxsim_pid=""
}
# wardex <arguments...>: the Windows agent in the program folder, its output without CRs.
wardex() {
  (cd "$work/program" && "$wine_run" "$prefix" "$program_windows\\wardex.exe" "$@" </dev/null |
    tr -d '\r')
}
# wine_do <program> <arguments...>: a program of the prefix, its output without CRs; its
# status and errors are not looked at.
wine_do() { { "$wine_run" "$prefix" "$@" </dev/null 2>/dev/null || true; } | tr -d '\r'; }
# has_key <key> /reg:32|/reg:64: the agent's key is in the 32-bit view on both builds.
has_key() { "$wine_run" "$prefix" reg query "$1" "$2" >/dev/null 2>&1 </dev/null; }
settings_key='HKLM\Software\Corvane\Client Service'
service="Corvane Deployment Agent"
service_key="HKLM\\System\\CurrentControlSet\\Services\\$service"
# The service's state as a number (1 stopped, 4 running); empty when it is not installed.
service_state() { wine_do sc query "$service" | sed -n 's/^ *STATE *: *\([0-9]\).*/\1/p'; }
# wait_for <seconds> <command...>: true once the command succeeds, polled every 0.2 s.
wait_for() {
  local tries=$(($1 * 5))
  shift
  for _ in $(seq "$tries"); do
    "$@" && return 0
    sleep 0.2
  done
  return 1
}
# store_settings [registry lines...]: the agent's key in the prefix, pointing at qxsim, with
# a full log in the program folder, and the lines given.
store_settings() {
  cat >"$work/settings.reg" <<REG
Windows Registry Editor Version 5.00

[-HKEY_LOCAL_MACHINE\\Software\\Corvane]

[HKEY_LOCAL_MACHINE\\Software\\Corvane\\Client Service]
"TcpAddr"="127.0.0.1"
"TcpPort"="$port"
"LogFile"="${program_windows//\\/\\\\}\\\\agent.log"
"LogSize"=dword:00100000
"LogErrors"=dword:00000001
"LogInformation"=dword:00000001
"LogDebug"=dword:00000001
REG
  printf '%s\n' "$@" >>"$work/settings.reg"
  "$wine_run" "$prefix" reg import "Z:$work/settings.reg" /reg:32 >/dev/null </dev/null
}
# expect_lines <file> <lines...>: each line occurs in the file.
expect_lines() {
  local file="$1" line
  shift
  for line in "$@"; do
    grep -qF -- "$line" "$file" || fail "$(basename "$file") lacks: $line"
  done
}
# report <files...>: on failures, the files' ends and a failing status.
report() {
  [ "$failures" -eq 0 ] && return 0
  for file in "$@"; do
    [ -f "$file" ] || continue
    echo "=== ${file#"$work"/}" >&2
    tail -n 40 "$file" | tr -d '\r' | cut -c1-200 >&2 || true
  done
  exit 1
}
