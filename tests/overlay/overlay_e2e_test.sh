#!/usr/bin/env bash
# Voxmere.exe with the Discord simulator as its peer, on the display CTest
# runs with: a screenshot must show the member column, the speaking member
# ringed while the simulator says it speaks and unringed after it stops, and
# its avatar fetched from the simulator's CDN.
#   overlay_e2e_test.sh BUILD_DIR
set -euo pipefail
build=${1:?build directory}
bin="$build/bin"
wine="$build/wine-run.sh"
: "${DISPLAY:?needs an X display}"
work=$(mktemp -d)
pids=()

cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $1" >&2
  for shot in "$work"/*.png; do [ -f "$shot" ] && cp "$shot" "$build/overlay_e2e_$(basename "$shot")" && echo "kept $build/overlay_e2e_$(basename "$shot")" >&2; done
  echo "--- debug.log" >&2; cat "$work/debug.log" >&2 2>/dev/null || true
  echo "--- simulator" >&2; tail -n 40 "$work/sim.log" >&2 2>/dev/null || true
  exit 1
}

# Waits up to $2 seconds for a line matching $1 in file $3.
wait_for() {
  for _ in $(seq $(( $2 * 5 ))); do
    grep -q -- "$1" "$3" 2>/dev/null && return 0
    sleep 0.2
  done
  return 1
}

cat >"$work/scenario.txt" <<'SCENARIO'
user 100000000000000001 alice global=Alice avatar=a1c3e5f7091b2d4f6a8c0e1f3b5d7f90
channel 300000000000000001 General
member 100000000000000005 tunebot bot avatar=7b07b07b07b07b07b07b07b07b07b07b
member 100000000000000001 alice global=Alice avatar=a1c3e5f7091b2d4f6a8c0e1f3b5d7f90
member 100000000000000002 bob global=Bob avatar=b0b0b0b0c1c1c1c1d2d2d2d2e3e3e3e3
select 300000000000000001
authorize grant
authenticate accept
timeline
wait 2500
speak 100000000000000002 on
wait 5000
speak 100000000000000002 off
SCENARIO
cat >"$work/config.json" <<'CONFIG'
{
  "client_id": "1180000000000000000",
  "client_secret": "OverlayE2eSecret",
  "allow_multi_instance": true,
  "language": "en",
  "monitor": 0,
  "overlay_x": 20,
  "overlay_y": 20,
  "avatar_size": 48
}
CONFIG
cp "$bin/Voxmere.exe" "$work/"

"$wine" "$bin/discord_sim.exe" --pipe 0 --scenario "$work/scenario.txt" --http-port 0 --duration 60 \
  >"$work/sim.log" 2>&1 &
pids+=($!)
wait_for '^LISTENING' 20 "$work/sim.log" || fail "the simulator did not start"
base=$(tr -d '\r' <"$work/sim.log" | sed -n 's/^HTTP \(http:[^ ]*\)$/\1/p' | head -1)

(cd "$work" && VOXMERE_API_BASE=$base VOXMERE_CDN_BASE=$base exec "$wine" "$work/Voxmere.exe") &
pids+=($!)

wait_for 'SetVoiceUsers: 3 users (2 users, 1 bots)' 30 "$work/debug.log" || fail "the members never reached the overlay"
wait_for 'HTTP GET /avatars/100000000000000002/' 15 "$work/sim.log" || fail "no avatar request reached the CDN"

# Pixel (x, y) of a screenshot as "r g b".
pixel() { convert "$1" -crop "1x1+$2+$3" -depth 8 txt:- | sed -n 's/.*(\([0-9]*\),\([0-9]*\),\([0-9]*\).*/\1 \2 \3/p' | head -1; }
# The speaking ring (default colour 67,181,129, under the dark halo): green leads.
ringed() { read -r r g b <<<"$(pixel "$1" 16 "$2")"; [ "$g" -gt 70 ] && [ "$g" -gt $((r + 30)) ] && [ "$g" -gt $((b + 10)) ]; }
# Any drawn pixel: with no compositor the transparent ones show black.
drawn() { read -r r g b <<<"$(pixel "$1" "$2" "$3")"; [ $((r + g + b)) -gt 30 ]; }

# Humans first: alice's slot starts at y 20, bob's at 76, the bot's at 132.
# The ring lies 4 pixels outside a tile: probed left of it, 6 pixels below
# its centre (clear of Wine's fallback tray window at the top left).
wait_for '"cmd":"DISPATCH".*"evt":"SPEAKING_START"' 30 "$work/sim.log" || fail "the simulator never sent SPEAKING_START"
sleep 1
import -display "$DISPLAY" -window root "$work/speaking.png"
for centre in 44 100 156; do drawn "$work/speaking.png" 44 "$centre" || fail "no tile at y $centre"; done
drawn "$work/speaking.png" 44 200 && fail "something drawn below the third tile"
ringed "$work/speaking.png" 106 || fail "bob is not ringed while speaking: $(pixel "$work/speaking.png" 16 106)"
ringed "$work/speaking.png" 50 && fail "alice is ringed without speaking"
ringed "$work/speaking.png" 162 && fail "the bot is ringed without speaking"

wait_for '"cmd":"DISPATCH".*"evt":"SPEAKING_STOP"' 30 "$work/sim.log" || fail "the simulator never sent SPEAKING_STOP"
sleep 1
import -display "$DISPLAY" -window root "$work/stopped.png"
ringed "$work/stopped.png" 106 && fail "bob is still ringed after SPEAKING_STOP"
drawn "$work/stopped.png" 44 100 || fail "bob's tile vanished"
grep -q '\[Renderer\] EndFrame: UpdateLayeredWindow result=1 ' "$work/debug.log" || fail "no frame was pushed"
echo "overlay end to end: three tiles, the speaker ringed only while speaking, avatars from the CDN"
