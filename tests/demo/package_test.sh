#!/usr/bin/env bash
# The release package: cpack writes Voxmere-1.1.0-win64.zip with the program,
# the plugin, the default config.json, the user README and the notification
# sender at its top level.
set -euo pipefail
build=${VOXMERE_BUILD_DIR:?the build tree to use}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

(cd "$build" && cpack -G ZIP -B "$out" >/dev/null)
zip="$out/Voxmere-1.1.0-win64.zip"
[ -f "$zip" ] || { echo "FAIL: no $zip"; ls "$out"; exit 1; }
unzip -l "$zip"
listed=$(unzip -Z1 "$zip" | sort | tr '\n' ' ')
[ "$listed" = "README.txt Tallybell.plugin.js Voxmere.exe config.json notify_send.exe " ] || { echo "FAIL: files are: $listed"; exit 1; }
unzip -q "$zip" Voxmere.exe -d "$out/unpacked"
[ "$(head -c 2 "$out/unpacked/Voxmere.exe")" = MZ ] || { echo "FAIL: Voxmere.exe is not an executable"; exit 1; }
