#!/usr/bin/env bash
# The agent's MSI installed and removed with Wine's msiexec, silently and logged, as an
# administrator deploys it:
#   msi-check.sh <MSI> <the build's wardex.exe> <Wine prefix>
# After the installation: the program and the toolboxes in "Program Files\Corvane", and the
# service registered as "wardex.exe -install -load=default.dll,config.dll" would register it,
# and running. After the removal: the service, its settings key, the agent's own files in the
# folder and the folder itself are gone, and the product is no longer registered.
# Whatever happens, the prefix is left as it was found.
set -euo pipefail
msi="$1"
build_program="$2"
prefix="$3"
here="$(cd "$(dirname "$0")" && pwd)"
wine_run="$here/../../cmake/wine-run"
service="Corvane Deployment Agent"
service_key="HKLM\\System\\CurrentControlSet\\Services\\$service"
settings_key='HKLM\Software\Corvane\Client Service'
folder="$prefix/drive_c/Program Files/Corvane"
product="$(msiinfo export "$msi" Property | tr -d '\r' | sed -n 's/^ProductCode\t//p')"
product_key="HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$product"

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
# wine_do <program> <arguments...>: its output without CRs; its status is not looked at.
wine_do() { { "$wine_run" "$prefix" "$@" </dev/null 2>/dev/null || true; } | tr -d '\r'; }
# msiexec <option> <log name>: a silent run with a verbose log in the work folder.
msiexec() {
  "$wine_run" "$prefix" msiexec "$1" "Z:$msi" /qn /l*v "Z:$work/$2" </dev/null
}
has_key() { "$wine_run" "$prefix" reg query "$1" >/dev/null 2>&1 </dev/null; }
# reg_value <key> <name>: the value's data as reg prints it (0x2 for a REG_DWORD of 2).
reg_value() {
  wine_do reg query "$1" /v "$2" | sed -n "s/^    $2    REG_[A-Z_]*    //p"
}
service_state() { wine_do sc query "$service" | sed -n 's/^ *STATE *: *[0-9]* *//p'; }
cleanup() {
  if has_key "$product_key"; then msiexec /x cleanup-removal || true; fi
  wine_do sc delete "$service" >/dev/null || true
  wine_do reg delete 'HKLM\Software\Corvane' /f >/dev/null || true
  rm -rf "$folder" "$work"
}
# finish: ends the test when a check failed, with the end of msiexec's logs.
finish() {
  [ "$failures" -eq 0 ] && return
  for log in "$work"/installation "$work"/removal; do
    [ -f "$log" ] || continue
    echo "=== $(basename "$log") (its last lines)" >&2
    tail -n 30 "$log" | tr -d '\r' >&2
  done
  exit 1
}

# Other tests of the prefix leave the agent's settings behind; a machine that never had the
# agent has none.
wine_do reg delete 'HKLM\Software\Corvane' /f >/dev/null
if has_key "$service_key" || [ -e "$folder" ]; then
  echo "the prefix already holds the service or its folder" >&2
  exit 1
fi
work="$(mktemp -d "${TMPDIR:-/tmp}/wardex-msi-XXXXXX")"
trap cleanup EXIT

msiexec /i installation || fail "msiexec /i: status $?"
finish
for file in wardex.exe default.dll config.dll; do
  cmp -s "$(dirname "$build_program")/$file" "$folder/$file" || fail "not installed: $file"
done
# Windows Installer writes the program path in quotes; Wine's leaves them out.
image="$(reg_value "$service_key" ImagePath | tr -d '"')"
[ "$image" = 'C:\Program Files\Corvane\wardex.exe -load=default.dll,config.dll' ] ||
  fail "service command line: '$image'"
for expected in "DisplayName=$service" Type=0x10 Start=0x2 ErrorControl=0x1 \
  ObjectName=LocalSystem; do
  value="$(reg_value "$service_key" "${expected%%=*}")"
  [ "$value" = "${expected#*=}" ] || fail "service ${expected%%=*}: '$value'"
done
[ "$(service_state)" = RUNNING ] || fail "service state after the installation: '$(service_state)'"
has_key "$product_key" || fail "the product is not registered"

# What the agent and an administrator leave behind: settings, the state file and a damaged
# copy of it, the log. Crash dumps ("*.dmp") are left out: Wine's msiexec ignores wildcards
# in the names of files to remove, which Windows Installer honours.
wine_do reg add "$settings_key" /v TcpAddr /d 127.0.0.1 /f >/dev/null
wine_do reg add "$settings_key" /v LogSize /t REG_DWORD /d 2048 /f >/dev/null
touch "$folder/wardex.dat" "$folder/wardex.dat.damaged" "$folder/wardex.log"

msiexec /x removal || fail "msiexec /x: status $?"
[ ! -e "$folder" ] || fail "left in Program Files\\Corvane: $(ls -A "$folder" | tr '\n' ' ')"
[ -z "$(wine_do sc query "$service")" ] || fail "the service is still known: $(service_state)"
has_key "$service_key" && fail "the service's key is still there"
has_key 'HKLM\Software\Corvane' && fail "the settings key is still there"
has_key "$product_key" && fail "the product is still registered"

finish
echo "the MSI installed and started the service, and removed it, its settings and its files"
