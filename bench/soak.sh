#!/usr/bin/env bash
# Soak: Voxmere.exe under Wine for MINUTES (default 10) with 50 speaking
# events a second from the Discord simulator and a notification a second,
# sampling handles, GDI and USER objects and private memory every 5 seconds.
#
#   bench/soak.sh [MINUTES]
#
# Builds what it needs in the Windows build tree (build/, or
# VOXMERE_BUILD_DIR) and writes the samples and the verdict to
# <build>/soak/soak.txt; exit code 0 when everything stayed flat.
#
# It runs in a network namespace of its own when it may (root or user
# namespaces), so the fixed WebSocket port does not meet other Voxmere runs,
# with a Wine prefix and a virtual display of its own. The display is
# SOAK_SCREEN (default 1024x768x24): under Wine and Xvfb every frame of a
# full-screen layered window is copied through X, and at 1920x1080 that alone
# limits the main loop to about 16 passes a second, fewer than the events sent.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ -z "${VOXMERE_SOAK_INNER:-}" ] && unshare -n true 2>/dev/null; then
  exec env VOXMERE_SOAK_INNER=1 unshare -n bash -c 'ip link set lo up && exec "$0" "$@"' "$0" "$@"
fi
source "$here/../tools/dev/build.sh"

minutes=${1:-10}
screen=${SOAK_SCREEN:-1024x768x24}
cmake -S "$VOXMERE_ROOT" -B "$VOXMERE_BUILD" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$VOXMERE_ROOT/cmake/mingw-w64-x86_64.cmake" >/dev/null
cmake --build "$VOXMERE_BUILD" --target voxmere_soak

export WINEPREFIX="$VOXMERE_BUILD/wineprefix-soak"
number=70
while [ -e "/tmp/.X11-unix/X$number" ] || [ -e "/tmp/.X$number-lock" ]; do number=$((number + 1)); done
Xvfb ":$number" -screen 0 "$screen" -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=":$number"
cleanup() {
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

out="$VOXMERE_BUILD/soak"
mkdir -p "$out"
echo "Soak of $minutes minutes on display $DISPLAY ($screen); samples in $out/soak.txt"
"$VOXMERE_BUILD/wine-run.sh" "$VOXMERE_BUILD/bin/voxmere_soak.exe" --minutes "$minutes" | tee "$out/soak.txt"
