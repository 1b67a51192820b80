#!/usr/bin/env bash
# Builds the agent's MSI from a Windows build's bin folder:
#   build-msi.sh <bin folder> <version> x64|x86 <output .msi>
# wixl builds the package from wardex.wxs; msibuild then adds the rows for which wixl has no
# element (uninstall-rows.sql: the settings key and the files the agent itself leaves in its
# folder, the access lists of the key and the folder; service-rows.sql: the service's
# recovery), with the actions that process them.
set -euo pipefail
bin="$1"
version="$2"
arch="$3"
output="$(realpath -m "$4")"
here="$(cd "$(dirname "$0")" && pwd)"
partial="$output.partial"
rm -f "$partial"
# wixl finds the files to pack relative to its current folder.
(cd "$bin" && wixl --arch "$arch" --define "Arch=$arch" --define "Version=$version" \
  --output "$partial" "$here/wardex.wxs")
queries=()
while IFS= read -r query; do
  [[ "$query" =~ ^(CREATE|INSERT) ]] && queries+=(-q "$query")
done < <(cat "$here/uninstall-rows.sql" "$here/service-rows.sql")
msibuild "$partial" "${queries[@]}"
mv "$partial" "$output"
