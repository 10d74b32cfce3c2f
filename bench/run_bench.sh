#!/usr/bin/env bash
# Builds voxmere_bench and what it starts (Voxmere.exe, the Discord
# simulator, notify_send), runs it under Wine on a virtual 1920 x 1080
# display of its own and writes docs/benchmarks.md.
#
#   bench/run_bench.sh [--no-build] [--before VOXMERE_EXE]
#
# --before: another build's Voxmere.exe (a Linux path), whose start is timed
# in turn with this build's, for a before/after row.
#
# VOXMERE_BUILD_DIR picks another build tree (default build/). Takes about
# three minutes after the build; keep the machine otherwise idle while it runs.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../tools/dev/build.sh"
source "$here/../tools/dev/virtual-display.sh"

build=1
before=()
while [ $# -gt 0 ]; do
  case "$1" in
    --no-build) build=0; shift ;;
    --before) [ $# -ge 2 ] || { echo "usage: $0 [--no-build] [--before VOXMERE_EXE]" >&2; exit 2; }
      before=(--before "Z:$(realpath "$2")"); shift 2 ;;
    *) echo "usage: $0 [--no-build] [--before VOXMERE_EXE]" >&2; exit 2 ;;
  esac
done

if [ $build -eq 1 ]; then
  cmake -S "$VOXMERE_ROOT" -B "$VOXMERE_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$VOXMERE_ROOT/cmake/mingw-w64-x86_64.cmake" >/dev/null
  cmake --build "$VOXMERE_BUILD" --target voxmere_bench
fi

cleanup() {
  WINEPREFIX="$VOXMERE_BUILD/wineprefix" /usr/lib/wine/wineserver -k 2>/dev/null || true
  stop_virtual_display
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# A display of its own, so the frame is exactly 1920 x 1080 and nothing else draws.
unset DISPLAY
start_virtual_display

# Voxmere.exe's windows are left unmanaged in the build's prefix; the
# benchmark's windows stand for them, and without a window manager Wine would
# otherwise wait two seconds whenever it unmaps one.
"$VOXMERE_BUILD/wine-run.sh" reg add "HKCU\\Software\\Wine\\AppDefaults\\voxmere_bench.exe\\X11 Driver" \
  /v Managed /t REG_SZ /d N /f >/dev/null

cores=$(nproc)
model=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)
wine_version=$(/usr/lib/wine/wine64 --version)
report="$VOXMERE_ROOT/docs/benchmarks.md"
mkdir -p "$(dirname "$report")"

# The plugin's figures are measured by hand (plugin/bench/voice_bench.js): their section is kept.
plugin_section=$(sed -n '/^## The plugin inside Discord/,$p' "$report" 2>/dev/null || true)
"$VOXMERE_BUILD/wine-run.sh" "$VOXMERE_BUILD/bin/voxmere_bench.exe" \
  --output "Z:$report" --machine "$cores cores, ${model:-unknown CPU}" --wine "$wine_version" "${before[@]}"
if [ -n "$plugin_section" ]; then printf '\n%s\n' "$plugin_section" >>"$report"; fi
echo "Wrote $report"
