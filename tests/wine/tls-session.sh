#!/usr/bin/env bash
# The Windows agent's switch to TLS under Wine, against qxsim of a Linux build (OpenSSL):
#   tls-session.sh <Windows bin folder> <Linux bin folder> <Wine prefix>
# 1. A server whose authority the prefix does not trust: the agent refuses the session (Wine's
#    Schannel would accept any chain; the agent checks it with the system's chain engine) and
#    sends nothing more, encrypted or not.
# 2. qxsim's certificate authority is added to the prefix's trusted roots: the session
#    switches to TLS 1.2, echoes three messages sent together and one of 1 MiB each way,
#    and ends with "CloseSession" from the server.
# 3. The server's name and key, each row a session with a certificate qxsim presents from a
#    trusted authority: a refused one ends at the switch with an error line that says why, an
#    accepted one echoes a message over TLS.
win_bin="$1"
linux_bin="$2"
prefix="$3"
source "$(dirname "$0")/wine-test-lib.sh"
wine_trust="$here/../../cmake/wine-trust"
trusted=""
cleanup() {
  stop_qxsim
  [ -z "$trusted" ] || "$wine_trust" "$prefix" remove "$trusted" || true
  "$wine_run" "$prefix" reg delete 'HKLM\Software\Corvane' /f /reg:32 >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

# session <name> trusted|untrusted <script> [qxsim options...] [-- registry lines...]: qxsim
# with an authority of its own (<name>-ca.pem, one of the prefix's roots for the run when
# trusted), the agent's settings pointing at it (and the lines given, where @presented@ and
# @right@ stand for the pins qxsim shows, also left in $presented and $right), one run of the
# agent; qxsim's transcript in <name>-transcript and the agent's log in <name>-log once both
# have ended.
# Wine's chain engine has once, in a fresh prefix, refused a root just added to the prefix's
# store: a trusted session refused as untrusted runs once more, after a note that says whether
# the root was still in the store; a second refusal fails the test.
session() {
  one_session "$@"
  if [ -n "$refused_root" ]; then
    echo "note: $1: the agent refused a trusted root $refused_root:" \
      "$(grep -F "does not trust" "$work/$1-log"); once more" >&2
    one_session "$@"
  fi
}
one_session() {
  local name="$1" trust="$2" script="$3" options=()
  shift 3
  while [ $# -gt 0 ] && [ "$1" != -- ]; do options+=("$1") && shift; done
  start_qxsim "$script" --session=accept --ca-out="$work/$name-ca.pem" "${options[@]}"
  presented="$(sed -n 's/^qxsim: key pin of the certificate presented: //p' "$work/transcript")"
  right="$(sed -n "s/^qxsim: the right certificate's key pin (not presented): //p" \
    "$work/transcript")"
  local lines=("${@:2}")
  lines=("${lines[@]//@presented@/$presented}")
  store_settings "${lines[@]//@right@/$right}"
  if [ "$trust" = trusted ]; then
    trusted="$work/$name-ca.pem"
    "$wine_trust" "$prefix" add "$trusted"
  fi
  (cd "$work/program" && timeout 120 "$wine_run" "$prefix" ./wardex.exe -debug -count=1 \
    -load=default.dll,config.dll,wardex_test_session.dll </dev/null | tr -d '\r') \
    >"$work/$name-console" 2>&1 || fail "$name: the agent ended with exit status $?"
  await_qxsim
  mv "$work/transcript" "$work/$name-transcript"
  mv "$work/program/agent.log" "$work/$name-log"
  refused_root=""
  if [ -n "$trusted" ] && grep -qF "does not trust the server's chain" "$work/$name-log"; then
    refused_root="that had left the prefix's store"
    ! "$wine_trust" "$prefix" has "$trusted" || refused_root="still in the prefix's store"
  fi
  [ -z "$trusted" ] || "$wine_trust" "$prefix" remove "$trusted"
  trusted=""
}

cp "$win_bin/wardex.exe" "$win_bin/default.dll" "$win_bin/config.dll" \
  "$win_bin/wardex_test_session.dll" "$work/program/"

# 1. Untrusted: an authority not in the prefix. It goes first, on the prefix's first use of
# its root store, where Wine's SSL policy check once passed an unknown root. An agent that
# took the session anyway would echo, and end with the close.
printf '%s\n' 'expect Request=CreateSession' 'send Request=Work' '  Action=Echo' \
  'expect Request=Work 5000' 'send Request=CloseSession' >"$work/echo.qxs"
session untrusted untrusted "$work/echo.qxs"
expect_lines "$work/untrusted-log" "the TLS handshake failed: " \
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

# 3. The name and key checks: the refusal says which; an accepted server gets its echo. The
# row "ip" is Wine's: its SSL policy matches no IP address, not even one the certificate
# carries (Windows compares an address with the certificate's IP address entries).
rows=(
  # name  certificate address   VerifyServerName ServerCertificatePins refused by
  "ip     right       127.0.0.1 1                -                     name"
  "name   wrong-name  localhost 1                -                     name"
  "any    wrong-name  127.0.0.1 0                -                     -"
  "key    wrong-key   127.0.0.1 0                @right@               key"
  "keys   wrong-key   localhost 1                @right@,@presented@   -"
)
for row in "${rows[@]}"; do
  read -r name certificate address verify pins refused <<<"$row"
  session "$name" trusted "$work/echo.qxs" --present="$certificate" -- \
    "\"TcpAddr\"=\"$address\"" "\"VerifyServerName\"=dword:0000000$verify" \
    "\"ServerCertificatePins\"=\"${pins#-}\""
  case "$refused" in
    name) refusal="the certificate is not for $address (VerifyServerName)" ;;
    key) refusal="the server presented the key $presented (its chain: " ;;
    *)
      expect_lines "$work/$name-transcript" "TLS on (TLSv1.2" "] IN  Request=Work"
      continue
      ;;
  esac
  line="$(grep -F "the TLS handshake failed: " "$work/$name-log" || true)"
  [[ "$line" == *" 0] "*"$refusal"* ]] || fail "$name: no error line with \"$refusal\": $line"
done

report "$work"/*-console "$work"/*-transcript "$work"/*-log
echo "TLS through Schannel: a trusted session whole both ways, an untrusted server refused," \
  "the server's name and key held to the settings"
