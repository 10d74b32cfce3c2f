#!/usr/bin/env bash
# Builds everything and runs every test: the pure code natively under
# AddressSanitizer and UndefinedBehaviorSanitizer, then the Windows build
# under Wine on a virtual display (with the plugin's Node tests).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/dev/build.sh"
source "$here/dev/virtual-display.sh"

"$here/dev/install-deps.sh"
install_node_packages

build_host
ctest --test-dir "$VOXMERE_BUILD/host" --output-on-failure

build_windows
trap 'stop_wine; stop_virtual_display' EXIT
start_virtual_display
ctest --test-dir "$VOXMERE_BUILD" --output-on-failure "$@"
