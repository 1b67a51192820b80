#!/usr/bin/env bash
# The Windows agent's switch to TLS under Wine, against qxsim of a Linux build (OpenSSL):
#   tls-session.sh <Windows bin folder> <Linux bin folder> <Wine prefix>
# 1. A server whose authority the prefix does not trust: the agent refuses the session (Wine's
#    Schannel would accept any chain; the agent checks it with the system's chain engine) and
#    sends nothing more, encrypted or not.
# 2. qxsim's certificate authority is added to the prefix's trusted roots: the session
#    switches to TLS 1.2, echoes three messages sent together and one of 1 MiB each way,
#    and ends with "CloseSession" from the server.
set -euo pipefail
win_bin="$1"
linux_bin="$2"
prefix="$(realpath -m "$3")"
here="$(cd "$(dirname "$0")" && pwd)"
wine_run="$here/../../cmake/wine-run"
wine_trust="$here/../../cmake/wine-trust"
if [ ! -x "$linux_bin/qxsim" ]; then
  echo "$linux_bin/qxsim is missing: build the Linux tree first (scripts/test windows does)" >&2
  exit 1
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/wardex-wine-tls-XXXXXX")"
qxsim_pid=""
trusted=""
cleanup() {
  [ -z "$qxsim_pid" ] || kill "$qxsim_pid" 2>/dev/null || true
  [ -z "$trusted" ] || "$wine_trust" "$prefix" remove "$trusted" || true
  "$wine_run" "$prefix" reg delete 'HKLM\Software\Corvane' /f >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# start_qxsim <name> <script> [setting...]: qxsim with an authority of its own (<name>-ca.pem), the agent's
# settings pointing at it (and the settings given); its transcript in <name>-transcript once both have ended.
start_qxsim() {
  "$linux_bin/qxsim" --port=0 --ca-out="$work/$1-ca.pem" --exit-after=1 --script="$2" \
    >"$work/$1-transcript" 2>&1 </dev/null &
  qxsim_pid=$!
  for _ in $(seq 200); do
    port="$(sed -n 's/^qxsim: listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/$1-transcript")"
    [ -n "$port" ] && break
    sleep 0.05
  done
  [ -n "$port" ] || {
    cat "$work/$1-transcript" >&2
    exit 1
  }
  printf '%s\n' 'Windows Registry Editor Version 5.00' '' \
    '[HKEY_LOCAL_MACHINE\Software\Corvane\Client Service]' '"TcpAddr"="127.0.0.1"' \
    "\"TcpPort\"=\"$port\"" '"LogFile"="agent.log"' '"LogErrors"=dword:00000001' \
    '"LogInformation"=dword:00000001' '"LogSize"=dword:00100000' "${@:3}" >"$work/settings.reg"
  "$wine_run" "$prefix" regedit /s "Z:$work/settings.reg"
}
run_agent() {
  (cd "$work/program" && timeout 120 "$wine_run" "$prefix" ./wardex.exe -debug -count=1 \
    -load=default.dll,config.dll,wardex_test_session.dll </dev/null | tr -d '\r') \
    >"$work/$1-console" 2>&1 || fail "$1: the agent ended with exit status $?"
  for _ in $(seq 100); do
    kill -0 "$qxsim_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill "$qxsim_pid" 2>/dev/null || true
  wait "$qxsim_pid" || true
  qxsim_pid=""
}
expect_lines() {
  local file="$1" line
  shift
  for line in "$@"; do
    grep -qF -- "$line" "$file" || fail "$(basename "$file") lacks: $line"
  done
}

mkdir -p "$work/program"
cp "$win_bin/wardex.exe" "$win_bin/default.dll" "$win_bin/config.dll" \
  "$win_bin/wardex_test_session.dll" "$work/program/"

# 1. Untrusted: an authority not in the prefix. It goes first: Wine fills the prefix's root
# store from the host's on its first use, and an authority added before that can be lost. An agent that took the session anyway
# would echo, and end with the close.
printf '%s\n' 'expect Request=CreateSession' 'send Request=Work' '  Action=Echo' \
  'expect Request=Work 5000' 'send Request=CloseSession' >"$work/untrusted.qxs"
start_qxsim untrusted "$work/untrusted.qxs"
run_agent untrusted
expect_lines "$work/program/agent.log" "the TLS handshake failed: " \
  "certificate verify failed: the system does not trust the server's chain"
# Nothing came from the agent once the switch began.
after="$(sed -n '/OUT Reply=CreateSession/,$p' "$work/untrusted-transcript" | grep -F " IN " || true)"
[ -z "$after" ] || fail "the agent sent after refusing the server: $after"
expect_lines "$work/untrusted-transcript" "TLS on (TLSv1.2" \
  "[1] disconnected: the agent closed the connection"

# 2. Trusted. The payload's digits make a lost, doubled or reordered record show.
# (head ends the pipe early, which pipefail would count as a failure.)
payload="$(seq 1 200000 | tr -d '\n' | head -c 1048576 || true)"
{
  cat "$here/tls-session.qxs"
  printf '  Blob=%s\nexpect Request=Work 60000\nsend Request=CloseSession\n' "$payload"
} >"$work/trusted.qxs"
printf '[1]     Blob=%s\n' "$payload" >"$work/blob-line"
start_qxsim trusted "$work/trusted.qxs"
trusted="$work/trusted-ca.pem"
"$wine_trust" "$prefix" add "$trusted"
run_agent trusted
expect_lines "$work/trusted-transcript" "TLS on (TLSv1.2" \
  "[1]     Tag=1" "[1]     Tag=2" "[1]     Tag=3" "[1]     Tag=large" \
  "[1] OUT Request=CloseSession" "[1] disconnected: the agent closed the connection"
# Sent and echoed whole.
blobs="$(grep -cxF -f "$work/blob-line" "$work/trusted-transcript" || true)"
[ "$blobs" = 2 ] || fail "the 1 MiB message went out and came back $blobs times in all, not 2"
if grep -q "nothing came" "$work/trusted-transcript"; then
  fail "a reply did not come: $(grep "nothing came" "$work/trusted-transcript")"
fi

# 3. A check the Windows agent cannot make yet is refused, not skipped.
printf '%s\n' 'expect Request=CreateSession' 'send Request=CloseSession' >"$work/named.qxs"
start_qxsim named "$work/named.qxs" '"VerifyServerName"=dword:00000001'
run_agent named
expect_lines "$work/program/agent.log" "cannot check the server's name or key yet"

if [ "$failures" -gt 0 ]; then
  for file in "$work"/*-console "$work"/*-transcript "$work/program/agent.log"; do
    echo "=== ${file#"$work"/}" >&2
    cut -c1-200 "$file" | tail -n 40 >&2
  done
  exit 1
fi
echo "TLS through Schannel: a trusted session whole both ways, an untrusted server refused"
