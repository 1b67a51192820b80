#!/usr/bin/env bash
# The Windows agent's switch to TLS under Wine, against qxsim of a Linux build (OpenSSL):
#   tls-session.sh <Windows bin folder> <Linux bin folder> <Wine prefix>
# 1. A server whose authority the prefix does not trust: the agent refuses the session (Wine's
#    Schannel would accept any chain; the agent checks it with the system's chain engine) and
#    sends nothing more, encrypted or not.
# 2. qxsim's certificate authority is added to the prefix's trusted roots: the session
#    switches to TLS 1.2, echoes three messages sent together and one of 1 MiB each way,
#    and ends with "CloseSession" from the server.
# 3. With "VerifyServerName" on, which this build cannot check yet, the switch is refused.
win_bin="$1"
linux_bin="$2"
prefix="$3"
source "$(dirname "$0")/wine-test-lib.sh"
wine_trust="$here/../../cmake/wine-trust"
trusted=""
cleanup() {
  stop_qxsim
  [ -z "$trusted" ] || "$wine_trust" "$prefix" remove "$trusted" || true
  "$wine_run" "$prefix" reg delete 'HKLM\Software\Corvane' /f >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

# session <name> trusted|untrusted <script> [registry lines...]: qxsim with an authority of
# its own (<name>-ca.pem, added to the prefix's roots when trusted), the agent's settings
# pointing at it (and the lines given), one run of the agent; qxsim's transcript in
# <name>-transcript once both have ended.
session() {
  start_qxsim "$3" --session=accept --ca-out="$work/$1-ca.pem"
  store_settings "${@:4}"
  if [ "$2" = trusted ]; then
    trusted="$work/$1-ca.pem"
    "$wine_trust" "$prefix" add "$trusted"
  fi
  (cd "$work/program" && timeout 120 "$wine_run" "$prefix" ./wardex.exe -debug -count=1 \
    -load=default.dll,config.dll,wardex_test_session.dll </dev/null | tr -d '\r') \
    >"$work/$1-console" 2>&1 || fail "$1: the agent ended with exit status $?"
  await_qxsim
  mv "$work/transcript" "$work/$1-transcript"
}

cp "$win_bin/wardex.exe" "$win_bin/default.dll" "$win_bin/config.dll" \
  "$win_bin/wardex_test_session.dll" "$work/program/"

# 1. Untrusted: an authority not in the prefix. It goes first, on the prefix's first use of
# its root store, where Wine's SSL policy check once passed an unknown root. An agent that
# took the session anyway would echo, and end with the close.
printf '%s\n' 'expect Request=CreateSession' 'send Request=Work' '  Action=Echo' \
  'expect Request=Work 5000' 'send Request=CloseSession' >"$work/untrusted.qxs"
session untrusted untrusted "$work/untrusted.qxs"
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
session trusted trusted "$work/trusted.qxs"
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
session named untrusted "$work/named.qxs" '"VerifyServerName"=dword:00000001'
expect_lines "$work/program/agent.log" "cannot check the server's name or key yet"

report "$work"/*-console "$work"/*-transcript "$work/program/agent.log"
echo "TLS through Schannel: a trusted session whole both ways, an untrusted server refused"
