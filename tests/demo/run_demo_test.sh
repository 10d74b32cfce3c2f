#!/usr/bin/env bash
# The README's run command, for a short time: Voxmere must have reached the
# simulated channel, received cards through both endpoints, and the
# screenshot must be a PNG.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${VOXMERE_BUILD_DIR:?the build tree to use}
shot=$(mktemp -d)/demo.png

"$root/tools/run.sh" --no-build --duration 25 --screenshot "$shot"

log="$build/demo/debug.log"
fail() { echo "FAIL: $1" >&2; echo "--- debug.log" >&2; cat "$log" >&2 || true; exit 1; }
grep -q '\[IPC\] Authentication successful!' "$log" || fail "never authenticated with the simulator"
[ "$(grep -c '\[IPC\] Added user: ' "$log")" -ge 5 ] || fail "fewer than five members reached the overlay"
grep -q '\[NotifServer\] Queued notification from pipe: ' "$log" || fail "no notification arrived over the pipe"
grep -q '\[NotifServer\] WebSocket received ' "$log" || fail "no notification arrived over the WebSocket"
[ "$(head -c 8 "$shot" | od -An -tx1 | tr -d ' \n')" = "89504e470d0a1a0a" ] || fail "the screenshot is not a PNG"
[ "$(stat -c %s "$shot")" -gt 10000 ] || fail "the screenshot is nearly empty"
echo "demo run: members, notifications over both endpoints and a screenshot"
