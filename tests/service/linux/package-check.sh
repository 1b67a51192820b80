#!/usr/bin/env bash
# Builds the Debian packages (the agent and its debug symbols) of a built build folder into a
# scratch folder and checks them, only unpacked, never installed.
#   package-check.sh <build folder> contents|lintian   (lintian: exit 77 where it is missing)
set -euo pipefail
build="$1"
check="$2"
source_dir="$(cd "$(dirname "$0")/../../.." && pwd)"
if [ "$check" = lintian ] && ! command -v lintian >/dev/null; then
    echo "lintian is not installed (scripts/setup installs it)"
    exit 77
fi
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
(cd "$build" && cpack -G DEB -B "$scratch" >/dev/null)
deb="$(ls "$scratch"/wardex_*.deb)"
symbols="$(ls "$scratch"/wardex-dbgsym_*.ddeb 2>/dev/null || true)"

if [ "$check" = lintian ]; then
    # Its exit status says whether lintian found a tag of these levels.
    lintian --fail-on error,warning --tag-display-limit 0 "$deb" $symbols
    exit 0
fi

status=0
fail() { echo "$*"; status=1; }
unpacked="$scratch/unpacked"
control="$scratch/control"
dpkg-deb -x "$deb" "$unpacked"
dpkg-deb -e "$deb" "$control"

for path in usr/lib/corvane/wardex usr/lib/corvane/default.so usr/lib/corvane/config.so \
    usr/sbin/wardex usr/include/corvane/Toolbox.h usr/include/corvane/IAgentAPI.h \
    usr/include/corvane/IQXMessage.h usr/lib/cmake/CorvaneSDK/CorvaneSDKConfig.cmake \
    usr/share/doc/wardex/README.md usr/share/doc/wardex/toolbox-sdk.md \
    usr/share/man/man8/wardex.8.gz; do
    [ -e "$unpacked/$path" ] || [ -L "$unpacked/$path" ] || fail "missing from the package: /$path"
done
# What lintian checks as well (the copyright file and changelog, stripped programs, a long
# description, the manual page's warnings, the maintainer scripts' syntax and systemctl
# calls) is left to it.
description="$(dpkg-deb -f "$deb" Description)"
grep -qE '&[a-z]+;' <<<"$description" && fail "the description holds XML entities: $description"

# Programs ship stripped; their debug information goes to the -dbgsym package under the
# build id, where debuggers look for it, so that a crash dump still shows source lines.
debug="$scratch/debug"
[ -n "$symbols" ] && dpkg-deb -x "$symbols" "$debug" ||
    fail "no debug symbol package (wardex-dbgsym) was built"
for program in wardex default.so config.so; do
    binary="$unpacked/usr/lib/corvane/$program"
    [ -f "$binary" ] || continue
    id="$(readelf -n "$binary" | sed -n 's/^ *Build ID: //p')"
    symbol_file="$debug/usr/lib/debug/.build-id/${id:0:2}/${id:2}.debug"
    readelf -S "$symbol_file" 2>/dev/null | grep -F .debug_info >/dev/null ||
        fail "$program: no debug information at /usr/lib/debug/.build-id/${id:0:2}/${id:2}.debug"
done

# The manual page renders and names every option of the program's option table, the
# arguments its modes read, its environment and its files.
page="$unpacked/usr/share/man/man8/wardex.8.gz"
if [ -e "$page" ]; then
    rendered="$scratch/wardex.8.txt"
    LC_ALL=C.UTF-8 MANWIDTH=80 man -E UTF-8 -l "$page" >"$rendered" ||
        fail "man -l cannot render the page"
    mapfile -t options < <(sed -n 's/^ *{"\(-[^"]*\)", [A-Za-z]*},$/\1/p' \
        "$source_dir/agent/program/ProgramModes.cpp")
    [ ${#options[@]} -ge 9 ] || fail "the option table was not found in agent/program/ProgramModes.cpp"
    for word in "${options[@]}" -load= -count= -q SYNOPSIS "EXIT STATUS" SIGNALS CORVANE_ROOT \
        CORVANE_WAIT_DIVISOR registry.reg wardex.dat wardex.dat.damaged LogFile .dmp \
        mireton.inp mireton.cfg; do
        grep -qF -- "$word" "$rendered" || fail "the manual page does not mention $word"
    done
fi

# The maintainer scripts leave systemd to Debian's helpers: those ask systemd only where it
# runs, and honour policy-rc.d.
grep -qE 'deb-systemd-invoke +(start|restart)\b' "$control/postinst" &&
    fail "postinst starts the service"
grep -q 'deb-systemd-invoke try-restart' "$control/postinst" ||
    fail "postinst does not restart a running service after an upgrade"
grep -q 'deb-systemd-invoke stop' "$control/prerm" || fail "prerm does not stop the service"
grep -q -- "wardex -remove" "$control/prerm" || fail "prerm does not remove the service"
# dpkg deconfigures a package it keeps (to install another that breaks it): the service
# and its settings must stay then.
grep -q deconfigure "$control/prerm" && fail "prerm removes the service on deconfigure"
for leftover in wardex.dat wardex.dat.damaged '*.dmp'; do
    grep -qF "/usr/lib/corvane/$leftover" "$control/postrm" ||
        fail "purging leaves /usr/lib/corvane/$leftover behind"
done
exit $status
