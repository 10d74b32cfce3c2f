#!/usr/bin/env bash
# The release package: cpack writes Voxmere-1.1.0-win64.zip with the program,
# the plugin, the default config.json, the user README, the notification
# sender, the emoji font with its licence and SHA256SUMS at its top level; its executables are small and carry
# no debug information, and the sums match the files.
set -euo pipefail
build=${VOXMERE_BUILD_DIR:?the build tree to use}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

(cd "$build" && cpack -G ZIP -B "$out" >/dev/null)
zip="$out/Voxmere-1.1.0-win64.zip"
[ -f "$zip" ] || { echo "FAIL: no $zip"; ls "$out"; exit 1; }
unzip -l "$zip"
listed=$(unzip -Z1 "$zip" | sort | tr '\n' ' ')
[ "$listed" = "README.txt SHA256SUMS Tallybell.plugin.js Twemoji-LICENSE.md Twemoji.ttf Voxmere.exe config.json notify_send.exe " ] || { echo "FAIL: files are: $listed"; exit 1; }
unzip -q "$zip" -d "$out/unpacked"
cd "$out/unpacked"
# Stripped, the program was 1.17 MB once it served the browser source and laid itself out for every DPI.
for limit in Voxmere.exe:1310720 notify_send.exe:524288; do
  exe=${limit%:*}
  [ "$(head -c 2 "$exe")" = MZ ] || { echo "FAIL: $exe is not an executable"; exit 1; }
  size=$(stat -c %s "$exe")
  [ "$size" -le "${limit#*:}" ] || { echo "FAIL: $exe is $size bytes"; exit 1; }
  ! x86_64-w64-mingw32-objdump -h "$exe" | grep -q '\.debug' || { echo "FAIL: $exe carries debug sections"; exit 1; }
done
sha256sum --strict -c SHA256SUMS || { echo "FAIL: SHA256SUMS does not match"; exit 1; }
summed=$(awk '{print $2}' SHA256SUMS | sort | tr '\n' ' ')
[ "$summed" = "README.txt Tallybell.plugin.js Twemoji-LICENSE.md Twemoji.ttf Voxmere.exe config.json notify_send.exe " ] || { echo "FAIL: SHA256SUMS covers: $summed"; exit 1; }
grep -q 'certutil -hashfile Voxmere.exe SHA256' README.txt || { echo "FAIL: README.txt does not tell how to check the sums"; exit 1; }
grep -q 'CC-BY 4.0' README.txt || { echo "FAIL: README.txt does not credit the emoji artwork"; exit 1; }
echo "release package: files, sizes, no debug sections, checksums"
