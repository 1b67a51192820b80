#!/usr/bin/env bash
# Builds the Debian package from a build folder whose targets are built, into a scratch
# folder, and checks that it lays out what the README's "Install" section names. The
# maintainer scripts are only inspected, never run.
set -euo pipefail
build="$1"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT

(cd "$build" && cpack -G DEB -B "$scratch" >/dev/null)
deb="$(ls "$scratch"/wardex_*.deb)"
contents="$(dpkg-deb --contents "$deb" | awk '{print $6}')"
status=0
for path in ./usr/lib/corvane/wardex ./usr/lib/corvane/default.so ./usr/lib/corvane/config.so \
    ./usr/sbin/wardex ./usr/include/corvane/Toolbox.h ./usr/include/corvane/IAgentAPI.h \
    ./usr/include/corvane/IQXMessage.h ./usr/lib/cmake/CorvaneSDK/CorvaneSDKConfig.cmake \
    ./usr/share/doc/wardex/README.md ./usr/share/doc/wardex/toolbox-sdk.md; do
    if ! grep -qx -- "$path" <<<"$contents"; then
        echo "missing from the package: $path"
        status=1
    fi
done
control="$scratch/control"
dpkg-deb --control "$deb" "$control"
if grep -q "systemctl \(start\|enable\|restart\)" "$control/postinst"; then
    echo "postinst starts the service"
    status=1
fi
if ! grep -q -- "wardex -remove" "$control/prerm"; then
    echo "prerm does not remove the service"
    status=1
fi
exit $status
