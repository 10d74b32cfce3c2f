#!/usr/bin/env bash
# The README's run command, stopped with Ctrl+C once cards have shown: Voxmere
# must have reached the simulated channel and shown cards received through
# both endpoints, the screenshot must be a PNG, and nothing it started may
# outlive it. Then a run for a set duration, building first, must end by
# itself, as cleanly.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${VOXMERE_BUILD_DIR:?the build tree to use}
shot=$(mktemp -d)/demo.png
log="$build/demo/debug.log"
fail() { echo "FAIL: $1" >&2; echo "--- debug.log" >&2; cat "$log" >&2 || true; exit 1; }

# Job control gives the run its own process group, which Ctrl+C signals as a
# whole, as a terminal does.
rm -rf "$build/demo"  # an earlier run's log must not count
set -m
"$root/tools/run.sh" --no-build --screenshot "$shot" &
run=$!
set +m
# A fresh machine first creates the demo's Wine prefix, so wait for the
# cards rather than for a fixed time.
for _ in $(seq 120); do
  [ "$(grep -c '\[Overlay\] Added notification - ' "$log" 2>/dev/null)" -ge 3 ] && break
  sleep 1
done
kill -INT -- -"$run"
for _ in $(seq 100); do
  kill -0 "$run" 2>/dev/null || break
  sleep 0.1
done
! kill -0 "$run" 2>/dev/null || fail "the run command did not end on Ctrl+C"
nothing_left() {
  sleep 1
  local leftover
  leftover=$(pgrep -f "$build/(demo/Voxmere|bin/discord_sim|bin/notify_send)\.exe|demo-notifications\.sh" || true)
  [ -z "$leftover" ] || fail "processes outlived the run command: $(ps -o pid=,args= -p ${leftover//$'\n'/,})"
}
nothing_left

grep -q '\[IPC\] Authentication successful!' "$log" || fail "never authenticated with the simulator"
[ "$(grep -c '\[IPC\] Added user: ' "$log")" -ge 5 ] || fail "fewer than five members reached the overlay"
grep -q '\[NotifServer\] Queued notification from pipe: ' "$log" || fail "no notification arrived over the pipe"
grep -q '\[NotifServer\] WebSocket received ' "$log" || fail "no notification arrived over the WebSocket"
[ "$(grep -c '\[Overlay\] Added notification - ' "$log")" -ge 3 ] || fail "fewer than three cards reached the overlay"
[ "$(head -c 8 "$shot" | od -An -tx1 | tr -d ' \n')" = "89504e470d0a1a0a" ] || fail "the screenshot is not a PNG"
[ "$(stat -c %s "$shot")" -gt 10000 ] || fail "the screenshot is nearly empty"

rm -f "$shot"
# This time with its build step, which names only the targets the run needs.
timeout 150 "$root/tools/run.sh" --duration 10 --screenshot "$shot" >"$build/demo-run.out" 2>&1 ||
  fail "the run for 10 s did not build or did not end by itself with code 0: $(tail -5 "$build/demo-run.out")"
nothing_left
grep -q '\[IPC\] Authentication successful!' "$log" || fail "the run for 10 s never authenticated"
[ -s "$shot" ] || fail "the run for 10 s saved no screenshot"
echo "demo runs: members, cards over both endpoints, a screenshot, nothing left after Ctrl+C or a set duration"
