# Sourced by the dev scripts: configures and builds the Windows build in
# build/ (runnable files in build/bin/) and, on request, the native build of
# the pure code in build/host/ (sanitizers on).
VOXMERE_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
# VOXMERE_BUILD_DIR points the scripts at another build tree (tests do).
VOXMERE_BUILD="${VOXMERE_BUILD_DIR:-$VOXMERE_ROOT/build}"

# build_windows [TARGET...]: every target when none is named.
build_windows() {
  cmake -S "$VOXMERE_ROOT" -B "$VOXMERE_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$VOXMERE_ROOT/cmake/mingw-w64-x86_64.cmake" >/dev/null
  cmake --build "$VOXMERE_BUILD" ${1:+--target "$@"}
}

build_host() {
  cmake -S "$VOXMERE_ROOT" -B "$VOXMERE_BUILD/host" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
  cmake --build "$VOXMERE_BUILD/host"
}

# Node packages the tests use (the plugin's and any test folder's).
install_node_packages() {
  local lock
  for lock in $(git -C "$VOXMERE_ROOT" ls-files '*package-lock.json'); do
    local dir="$VOXMERE_ROOT/$(dirname "$lock")"
    [ -d "$dir/node_modules" ] || (cd "$dir" && npm ci --no-audit --no-fund --loglevel=error)
  done
}

stop_wine() {
  WINEPREFIX="$VOXMERE_BUILD/wineprefix" /usr/lib/wine/wineserver -k 2>/dev/null || true
}
