#!/usr/bin/env bash
# The agent's MSI installed and removed with Wine's msiexec, silently and logged, as an
# administrator deploys it:
#   msi-check.sh <MSI> <the build's wardex.exe> <Wine prefix>
# The package sets the access lists of the settings key and the program folder. After the
# installation: the program and the toolboxes in "Program Files\Corvane" ("Program Files
# (x86)\Corvane" for the x86 package, in the 64-bit prefix), and the
# service registered as "wardex.exe -install -load=default.dll,config.dll" would register it,
# and running; the package sets the service's recovery as -install does. After the removal: the service, its settings key, the agent's own files in the
# folder and the folder itself are gone, and the product is no longer registered.
# Whatever happens, the prefix is left as it was found.
msi="$1"
source "$(dirname "$0")/wine-test-lib.sh" "$(dirname "$2")" "" "$3"
# A 32-bit package goes to the 32-bit folders, and its product is registered in the
# registry's 32-bit view, as Windows Installer does with it.
program_files='Program Files'
product_view=/reg:64
[ "$arch" = X64 ] || { program_files='Program Files (x86)'; product_view=/reg:32; }
folder="$prefix/drive_c/$program_files/Corvane"
product="$(msiinfo export "$msi" Property | tr -d '\r' | sed -n 's/^ProductCode\t//p')"
product_key="HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$product"

# msiexec <option> <log name>: a silent run with a verbose log in the work folder.
msiexec() {
  "$wine_run" "$prefix" msiexec "$1" "Z:$msi" /qn /l*v "Z:$work/$2" </dev/null
}
# reg_value <key> <name>: the value's data in the 64-bit view as reg prints it (0x2 for a
# REG_DWORD of 2).
reg_value() {
  wine_do reg query "$1" /v "$2" /reg:64 | sed -n "s/^    $2    REG_[A-Z_]*    //p"
}
cleanup() {
  if has_key "$product_key" $product_view; then msiexec /x cleanup-removal || true; fi
  wine_do sc delete "$service" >/dev/null
  wine_do reg delete 'HKLM\Software\Corvane' /f /reg:32 >/dev/null
  rm -rf "$folder" "$work"
}
# finish: ends the test when a check failed, with the end of msiexec's logs.
finish() { report "$work"/installation "$work"/removal; }

# Other tests of the prefix leave the agent's settings behind; a machine that never had the
# agent has none.
wine_do reg delete 'HKLM\Software\Corvane' /f /reg:32 >/dev/null
if has_key "$service_key" /reg:64 || [ -e "$folder" ]; then
  echo "the prefix already holds the service or its folder" >&2
  exit 1
fi
trap cleanup EXIT

# Wine's msiexec applies no recovery (and Wine's service manager would keep no failure
# actions): the package's rows, which Windows Installer applies, are read instead.
rows() { msiinfo export "$msi" "$1" | tr -d '\r' | tail -n +4 | sort; }
[ "$(rows MsiServiceConfigFailureActions)" = "$(printf '%s\t' AgentRestarts "$service" 1 86400 \
  '' '' '1[~]1[~]1' '10000[~]30000[~]60000')Program" ] ||
  fail "failure actions: $(rows MsiServiceConfigFailureActions)"
[ "$(rows MsiServiceConfig)" = "$(printf '%s\t' AgentPreshutdown "$service" 1 7 60000)Program
$(printf '%s\t' AgentRestartsOnError "$service" 1 4 1)Program" ] ||
  fail "service settings: $(rows MsiServiceConfig)"
rows InstallExecuteSequence | grep -qx $'MsiConfigureServices\t\t5850' ||
  fail "MsiConfigureServices is not in the installation's sequence"
# Wine's msiexec applies no access lists, so the package is checked for them: the settings
# key and the program folder for SYSTEM and Administrators alone, nothing inherited.
locks="$(msiinfo export "$msi" MsiLockPermissionsEx | tr -d '\r')"
grep -qF $'SettingsKeyAccess\tRegistry\tD:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)' <<<"$locks" &&
  grep -qF $'INSTALLDIR\tCreateFolder\tD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)' <<<"$locks" ||
  fail "the package does not set the access lists: $locks"

msiexec /i installation || fail "msiexec /i: status $?"
finish
for file in wardex.exe default.dll config.dll; do
  cmp -s "$win_bin/$file" "$folder/$file" || fail "not installed: $file"
done
# Windows Installer writes the program path in quotes; Wine's leaves them out.
image="$(reg_value "$service_key" ImagePath | tr -d '"')"
[ "$image" = "C:\\$program_files\\Corvane\\wardex.exe -load=default.dll,config.dll" ] ||
  fail "service command line: '$image'"
for expected in "DisplayName=$service" Type=0x10 Start=0x2 ErrorControl=0x1 \
  ObjectName=LocalSystem; do
  value="$(reg_value "$service_key" "${expected%%=*}")"
  [ "$value" = "${expected#*=}" ] || fail "service ${expected%%=*}: '$value'"
done
[ "$(service_state)" = 4 ] || fail "service state after the installation: '$(service_state)'"
has_key "$product_key" $product_view || fail "the product is not registered"
# The agent of either build keeps its settings in the 32-bit view, so the package makes them
# there.
has_key "$settings_key" /reg:32 && ! has_key "$settings_key" /reg:64 ||
  fail "the package did not make the settings key in the 32-bit view alone"

# What the agent and an administrator leave behind: settings, the state file and a damaged
# copy of it, the log. Crash dumps ("*.dmp") are left out: Wine's msiexec ignores wildcards
# in the names of files to remove, which Windows Installer honours.
wine_do reg add "$settings_key" /v TcpAddr /d 127.0.0.1 /f /reg:32 >/dev/null
wine_do reg add "$settings_key" /v LogSize /t REG_DWORD /d 2048 /f /reg:32 >/dev/null
touch "$folder/wardex.dat" "$folder/wardex.dat.damaged" "$folder/wardex.log"

msiexec /x removal || fail "msiexec /x: status $?"
[ ! -e "$folder" ] || fail "left in Program Files\\Corvane: $(ls -A "$folder" | tr '\n' ' ')"
[ -z "$(wine_do sc query "$service")" ] || fail "the service is still known: $(service_state)"
has_key "$service_key" /reg:64 && fail "the service's key is still there"
has_key 'HKLM\Software\Corvane' /reg:32 && fail "the settings key is still there"
has_key "$product_key" $product_view && fail "the product is still registered"

finish
echo "the MSI installed and started the service, and removed it, its settings and its files"
