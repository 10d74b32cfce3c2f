#!/usr/bin/env bash
# Voxmere.exe with the Discord simulator as its peer, on CTest's display:
# screenshots show the member column, every member named as Discord allows
# (brackets, quotes, a name that is a JSON key), a server-muted member's
# badge kept through updates and none for a member only the user muted, the
# speaker ringed only while the simulator says it speaks, then the display
# options (only speakers, oneself always, a hidden member, cut names).
#   overlay_e2e_test.sh BUILD_DIR
set -euo pipefail
build=${1:?build directory}
: "${DISPLAY:?needs an X display}"
work=$(mktemp -d)
pids=()
stop_all() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done; pids=(); }
trap 'stop_all; rm -rf "$work"' EXIT

fail() {
  echo "FAIL: $1" >&2
  cp "$work"/*.png "$build/" 2>/dev/null && echo "screenshots kept in $build" >&2
  cat "$work/debug.log" >&2 2>/dev/null || true
  cat "$work/driver.log" >&2 2>/dev/null || true
  exit 1
}
# wait_for PATTERN SECONDS FILE
wait_for() {
  for _ in $(seq $(($2 * 5))); do grep -q -- "$1" "$3" 2>/dev/null && return 0; sleep 0.2; done
  return 1
}

cat >"$work/scenario.txt" <<'SCENARIO'
user 100000000000000001 alice global=Alice avatar=a1c3e5f7091b2d4f6a8c0e1f3b5d7f90
channel 300000000000000001 General
member 100000000000000005 tunebot bot avatar=7b07b07b07b07b07b07b07b07b07b07b
member 100000000000000001 alice global=Alice nick=x] avatar=a1c3e5f7091b2d4f6a8c0e1f3b5d7f90
member 100000000000000002 bob global=Bob nick=Bob} avatar=b0b0b0b0c1c1c1c1d2d2d2d2e3e3e3e3
member 100000000000000003 uma global=Uma nick=user mute avatar=9c9c9c9cadadadadbebebebecfcfcfcf
member 100000000000000004 ann "nick=Ann \"the tank\"" local_mute avatar=d4e5f6a7b8c9d0e1f2a3b4c5d6e7f8a9
select 300000000000000001
timeline
wait 1000
update 100000000000000003
update 100000000000000003
update 100000000000000003
update 100000000000000004
wait 1500
speak 100000000000000002 on
wait 4000
restart
wait 3000
speak 100000000000000002 on
wait 4000
speak 100000000000000002 off
SCENARIO
# start_run CONFIG_JSON: the simulator on $work/scenario.txt, then Voxmere.
start_run() {
  rm -f "$work/debug.log" "$work/sim.log"
  echo "$1" >"$work/config.json"
  cp "$build/bin/Voxmere.exe" "$build/bin/Twemoji.ttf" "$work/"
  "$build/wine-run.sh" "$build/bin/discord_sim.exe" --pipe 0 --scenario "$work/scenario.txt" --http-port 0 \
    --cdn-delay "${cdn_delay_ms:-0}" --duration 60 >"$work/sim.log" 2>&1 &
  pids+=($!)
  wait_for '^LISTENING' 20 "$work/sim.log" || fail "the simulator did not start"
  base=$(tr -d '\r' <"$work/sim.log" | sed -n 's/^HTTP \(http:[^ ]*\)$/\1/p' | head -1)
  (cd "$work" && exec env ${ws_port:+VOXMERE_WEBSOCKET_PORT=$ws_port} VOXMERE_API_BASE="$base" VOXMERE_CDN_BASE="$base" \
    "$build/wine-run.sh" "$work/Voxmere.exe") &
  pids+=($!)
}
start_run '{"allow_multi_instance": true, "language": "en", "overlay_x": 20, "overlay_y": 20}'
wait_for 'SetVoiceUsers: 5 users (4 users, 1 bots)' 30 "$work/debug.log" || fail "no members reached the overlay"
wait_for 'HTTP GET /avatars/100000000000000002/' 15 "$work/sim.log" || fail "no avatar request reached the CDN"

pixel() { convert "$1" -crop "1x1+$2+$3" -depth 8 txt:- | sed -n 's/.*(\([0-9]*\),\([0-9]*\),\([0-9]*\).*/\1 \2 \3/p'; }
# Transparent pixels show black with no compositor.
drawn() { read -r r g b <<<"$(pixel "$1" 44 "$2")"; [ $((r + g + b)) -gt 30 ]; }
# The ring (67,181,129 under the dark halo), 4 pixels left of a tile, 6 below
# its centre: clear of Wine's fallback tray window at the top left.
ringed() { read -r r g b <<<"$(pixel "$1" 16 "$2")"; [ "$g" -gt 70 ] && [ "$g" -gt $((r + 30)) ] && [ "$g" -gt $((b + 10)) ]; }

# The brightest pixel of a rectangle, 0 to 255.
brightest() { convert "$1" -crop "$4x$5+$2+$3" -colorspace gray -format '%[fx:int(255*maxima)]' info:; }
# Humans first: "x]" (alice) centred at y 44, "Bob}" at 100, "user" at 156,
# 'Ann "the tank"' at 212, the bot at 268; each with its label from x 78.
# Each tile has its name beside it (the label's lower half: clear of Wine's
# tray window above the first), the bot's in its dimmer blue.
labelled() { for y in 44 100 156 212 268; do [ "$(brightest "$1" 78 $((y + 2)) 150 10)" -gt 30 ] || return 1; done; }
for _ in $(seq 20); do
  import -display "$DISPLAY" -window root "$work/overlay_e2e_names.png"
  labelled "$work/overlay_e2e_names.png" && break
  sleep 0.5
done
labelled "$work/overlay_e2e_names.png" || fail "a tile without its name"
wait_for '"cmd":"DISPATCH".*"evt":"SPEAKING_START"' 30 "$work/sim.log" || fail "no SPEAKING_START sent"
sleep 1
import -display "$DISPLAY" -window root "$work/overlay_e2e_speaking.png"
for y in 44 100 156 212 268; do drawn "$work/overlay_e2e_speaking.png" "$y" || fail "no tile at y $y"; done
drawn "$work/overlay_e2e_speaking.png" 324 && fail "something drawn below the fifth tile"
# The mute badge (237,66,69) at a tile's lower right, 12 left and 18 below its centre.
badged() { read -r r g b <<<"$(pixel "$1" 56 $(($2 + 18)))"; [ "$r" -gt 150 ] && [ "$g" -lt 110 ] && [ "$b" -lt 110 ]; }
badged "$work/overlay_e2e_speaking.png" 156 || fail "the server-muted member lost the badge after three updates"
badged "$work/overlay_e2e_speaking.png" 212 && fail "the member's own badge for a member only the user muted"
# The muted-for-you badge: grey (128,132,142) where the member's own is red.
locally_muted() { read -r r g b <<<"$(pixel "$1" 56 $(($2 + 18)))"
  [ "$r" -gt 100 ] && [ "$r" -lt 170 ] && [ "$b" -gt "$r" ] && [ $((b - r)) -lt 40 ] && [ "$g" -gt 100 ]; }
locally_muted "$work/overlay_e2e_speaking.png" 212 || fail "no muted-for-you badge for the member only the user muted"
locally_muted "$work/overlay_e2e_speaking.png" 156 && fail "the muted-for-you badge on a server-muted member"
badged "$work/overlay_e2e_speaking.png" 100 && fail "a badge for a member nobody muted"
grep -q 'Added user: Ann "the tank"' "$work/debug.log" || fail "the quoted name was not read whole"
ringed "$work/overlay_e2e_speaking.png" 106 || fail "bob not ringed while speaking"
ringed "$work/overlay_e2e_speaking.png" 50 && fail "alice ringed without speaking"
ringed "$work/overlay_e2e_speaking.png" 274 && fail "the bot ringed without speaking"

# Discord restarts while bob speaks: it forgets the subscriptions and never
# says he stopped.
for _ in $(seq 100); do [ "$(grep -c '^CONNECTED' "$work/sim.log")" -ge 2 ] && break; sleep 0.2; done
[ "$(grep -c '^CONNECTED' "$work/sim.log")" -ge 2 ] || fail "no reconnection after Discord restarted"
for _ in $(seq 50); do
  [ "$(grep -c 'RECV op=1 .*"cmd":"SUBSCRIBE".*"evt":"SPEAKING_STOP"' "$work/sim.log")" -ge 2 ] && break; sleep 0.2
done
for evt in VOICE_STATE_CREATE VOICE_STATE_UPDATE VOICE_STATE_DELETE SPEAKING_START SPEAKING_STOP; do
  [ "$(grep -c "RECV op=1 .*\"cmd\":\"SUBSCRIBE\".*\"evt\":\"$evt\"" "$work/sim.log")" -eq 2 ] ||
    fail "$evt not subscribed again on the new connection"
done
import -display "$DISPLAY" -window root "$work/overlay_e2e_restarted.png"
ringed "$work/overlay_e2e_restarted.png" 106 && fail "bob still ringed after Discord restarted"
for _ in $(seq 50); do [ "$(grep -c '"evt":"SPEAKING_START","nonce":null' "$work/sim.log")" -ge 2 ] && break; sleep 0.2; done
sleep 1
import -display "$DISPLAY" -window root "$work/overlay_e2e_again.png"
ringed "$work/overlay_e2e_again.png" 106 || fail "bob not ringed when speaking after the restart"

wait_for '"cmd":"DISPATCH".*"evt":"SPEAKING_STOP"' 30 "$work/sim.log" || fail "no SPEAKING_STOP sent"
sleep 1
import -display "$DISPLAY" -window root "$work/overlay_e2e_stopped.png"
ringed "$work/overlay_e2e_stopped.png" 106 && fail "bob still ringed after SPEAKING_STOP"
drawn "$work/overlay_e2e_stopped.png" 100 || fail "bob's tile vanished"
echo "overlay end to end: five tiles named x], Bob}, user, Ann \"the tank\" and a bot, the server-muted badge kept and the local mute shown as the user's own, the speaker ringed only while speaking, through a Discord restart"
stop_all

# Display options: only speakers get a tile, Alice (the user) always; Carol is
# hidden; a 40-character name is cut at 12 characters.
long=Abcdefghijklmnopqrstuvwxyzabcdefghijklmn
cat >"$work/scenario.txt" <<SCENARIO
user 100000000000000001 alice global=Alice
channel 300000000000000001 General
member 100000000000000001 alice global=Alice
member 100000000000000002 bob global=Bob
member 100000000000000003 carol global=Carol
member 100000000000000004 longname global=$long
select 300000000000000001
timeline
wait 3000
speak 100000000000000003 on
speak 100000000000000002 on
wait 4000
speak 100000000000000002 off
speak 100000000000000003 off
wait 4000
speak 100000000000000004 on
SCENARIO
start_run '{"allow_multi_instance": true, "language": "en", "overlay_x": 20, "overlay_y": 20,
  "show_only_speaking": true, "always_show_self": true, "hidden_users": "100000000000000003", "max_name_length": 12}'
shot() { import -display "$DISPLAY" -window root "$work/$1.png"; echo "$work/$1.png"; }

wait_for 'SetVoiceUsers: 4 users' 30 "$work/debug.log" || fail "no members reached the overlay"
sleep 1
img=$(shot options_quiet)
drawn "$img" 44 || fail "the user's own tile is not shown"
drawn "$img" 100 && fail "a tile for someone who does not speak"

wait_for '"user_id":"100000000000000002"},"evt":"SPEAKING_START"' 30 "$work/sim.log" || fail "no SPEAKING_START sent"
sleep 1
img=$(shot options_speaking)
drawn "$img" 100 || fail "no tile for the speaker"
ringed "$img" 106 || fail "the speaker is not ringed"
drawn "$img" 156 && fail "the hidden member was drawn"

wait_for '"user_id":"100000000000000002"},"evt":"SPEAKING_STOP"' 30 "$work/sim.log" || fail "no SPEAKING_STOP sent"
stopped=$(date +%s%N)
img=$(shot options_lingering)
elapsed=$((($(date +%s%N) - stopped) / 1000000))
[ "$elapsed" -lt 1200 ] && { drawn "$img" 100 || fail "the tile left at once (${elapsed} ms after the stop)"; }
gone=0
for _ in $(seq 20); do
  img=$(shot options_stopped)
  drawn "$img" 100 || { gone=1; break; }
  sleep 0.2
done
[ $gone -eq 1 ] || fail "the tile stayed after its speaker stopped"
elapsed=$((($(date +%s%N) - stopped) / 1000000))
[ "$elapsed" -ge 1300 ] || fail "the tile left ${elapsed} ms after the stop, before the 1.5 s linger"

wait_for '"user_id":"100000000000000004"},"evt":"SPEAKING_START"' 30 "$work/sim.log" || fail "no SPEAKING_START for the long name"
sleep 1
img=$(shot options_long_name)
# The label starts 10 pixels right of the tile (x 78); twelve bold 12-point
# characters end well before x 260, forty would reach past x 330.
[ "$(brightest "$img" 78 88 150 24)" -gt 150 ] || fail "no label beside the long-named tile"
[ "$(brightest "$img" 260 88 200 24)" -lt 40 ] || fail "the long name was not cut"
echo "display options: only speakers and oneself shown, the hidden member never, the speaker kept 1.5 s, names cut"
stop_all

# Names as Discord shows them: with only the set-up's fonts and the files
# shipped beside the executable, names in Japanese, Arabic and Devanagari and
# with emoji are drawn, the emoji in colour.
cp "$build/bin/scenarios/many_scripts.txt" "$work/scenario.txt"
start_run '{"allow_multi_instance": true, "language": "en", "overlay_x": 20, "overlay_y": 20}'
wait_for 'SetVoiceUsers: 7 users (6 users, 1 bots)' 30 "$work/debug.log" || fail "no members reached the overlay"
wait_for '\[Renderer\] Text font: ' 5 "$work/debug.log" || fail "no text font chosen"
grep -q 'Emoji font not loaded' "$work/debug.log" && fail "the bundled emoji font did not load"
sleep 2
img=$(shot scripts)
# Label rows beside the tiles: alice, bob, carol (Japanese), ali (Arabic),
# erin, priya (Devanagari); the bot's below them is in dim blurple.
for y in 44 100 156 212 268 324; do
  [ "$(brightest "$img" 78 $((y - 10)) 200 22)" -gt 80 ] || fail "no label beside the tile at y $y"  # silent: dimmed
done
# Bob's flame: red-orange pixels, which white text on a dark pill never has.
flame=$(convert "$img" -crop 120x22+78+90 -fx 'r > 0.6 && b < 0.35 ? 1 : 0' -format '%[fx:int(mean*w*h)]' info:)
[ "$flame" -gt 10 ] || fail "the emoji in Bob's name is not in colour ($flame pixels)"
echo "names in many scripts and emoji drawn, the emoji in colour (text font: $(grep -a -o 'Text font: .*' "$work/debug.log" | tr -d '\r'))"
stop_all

# The plugin's feed (the plugin under the stand-in of Discord, with Discord's
# Origin) while a registered application is configured and the simulator
# offers another channel over RPC: the feed's members are shown and Discord is
# never asked for authorization; once the plugin stops, RPC takes over.
driver="$(dirname "$0")/../../plugin/tests/voice_driver.js"
if ! command -v node >/dev/null || [ ! -d "$(dirname "$driver")/../node_modules/ws" ]; then
  echo "voice feed: skipped, node or the plugin's ws package (npm ci in plugin/) is missing"
  exit 0
fi
enabled="$build/wineprefix/drive_c/users/$(id -un)/AppData/Roaming/BetterDiscord/data/stable/plugins.json"
mkdir -p "$(dirname "$enabled")"
echo '{"Tallybell": true}' >"$enabled"
trap 'exec 3>&-; stop_all; rm -f "$enabled"; rm -rf "$work"' EXIT
cat >"$work/scenario.txt" <<'SCENARIO'
user 100 me_user global=Me
channel 300000000000000009 Lobby
member 100 me_user global=Me avatar=abc123
member 400 dave global=Dave avatar=d4d4d4d4
select 300000000000000009
SCENARIO
ms_since() { echo $((($(date +%s%N) - $1) / 1000000)); }
# Pictures arrive after a tile's entry animation, as across the internet; the
# simulator's channel below is quiet, so nothing else redraws its tiles.
cdn_delay_ms=1500
# start_plugin_run CONFIG_JSON: Voxmere on a WebSocket port of its own, then
# the plugin's driver, which takes commands through file descriptor 3.
start_plugin_run() {
  exec 3>&-
  rm -f "$work/driver.in" "$work/driver.log"
  ws_port=$(node -e 'const s = require("net").createServer().listen(0, "127.0.0.1", () => { console.log(s.address().port); s.close(); })')
  start_run "$1"
  voxmere_started=$(date +%s%N)
  wait_for 'its feed is awaited' 30 "$work/debug.log" || fail "the enabled plugin was not noticed"
  wait_for 'WebSocket server listening' 30 "$work/debug.log" || fail "no WebSocket endpoint"
  mkfifo "$work/driver.in"
  started=$(date +%s%N)
  node "$driver" "$ws_port" <"$work/driver.in" >"$work/driver.log" 2>&1 &
  pids+=($!)
  exec 3>"$work/driver.in"
}
# send COMMAND: the driver has dispatched it.
send() { local n; n=$(grep -c '^DONE' "$work/driver.log" || true); echo "$1" >&3
  for _ in $(seq 50); do [ "$(grep -c '^DONE' "$work/driver.log" || true)" -gt "$n" ] && return 0; sleep 0.1; done; fail "the driver did not take $1"; }
# until_shot NAME TEST [ARG...]: screenshots until TEST IMAGE ARG... holds (10 s at most).
until_shot() { local name=$1 check=$2; shift 2
  for _ in $(seq 40); do img=$(shot "$name"); "$check" "$img" "$@" && return 0; sleep 0.25; done; return 1; }
not_ringed() { ! ringed "$1" "$2"; }
# The plugin's list: Me (44), Pilot (100, server-muted), Quinn (156), the bot
# (212). Me is looked for at y 50, clear of the border of Wine's tray window.
four_tiles() { drawn "$1" 50 && drawn "$1" 100 && drawn "$1" 156 && drawn "$1" 212; }

# With the built-in client id Discord's RPC is never knocked on, past the
# 10 s wait too, while the feed is live.
start_plugin_run '{"allow_multi_instance": true, "language": "en", "overlay_x": 20, "overlay_y": 20}'
until_shot placeholder_feed four_tiles || fail "the plugin's members were not drawn (built-in id)"
# An absence is watched for a while: past the wait, counted from Voxmere's start.
while [ "$(ms_since "$voxmere_started")" -lt 13000 ]; do sleep 0.5; done
grep -q '^CONNECTED' "$work/sim.log" && fail "Discord's RPC was knocked on with the built-in id while the feed was live"
grep -q 'Balloon shown' "$work/debug.log" && fail "a balloon while the plugin's feed was live"
echo "voice feed, built-in id: the plugin's members shown, no connection to Discord's RPC in $(ms_since "$voxmere_started") ms"
exec 3>&-
stop_all

start_plugin_run '{"allow_multi_instance": true, "language": "en", "overlay_x": 20, "overlay_y": 20,
  "client_id": "1234567890123456789", "client_secret": "TestSecret123"}'
until_shot feed_members four_tiles || fail "the plugin's members were not drawn"
echo "voice feed: tiles on screen $(ms_since "$started") ms after the plugin started"
grep -q 'SetVoiceUsers: 4 users (3 users, 1 bots)' "$work/debug.log" || fail "the plugin's list did not reach the overlay"
sleep 1  # the entry animation ends
img=$(shot feed_members_settled)
badged "$img" 100 || fail "the server-muted member has no badge"
badged "$img" 44 && fail "a badge for a member nobody muted"
wait_for 'HTTP GET /guilds/g3/users/200/avatars/7e57.png' 15 "$work/sim.log" || fail "the server avatar was not asked for"
# As Discord's own list shows them: a soundshare rings, a suppressed member
# and one the user muted for themselves carry badges (the member's, the
# user's), and a member who goes live moves first with a LIVE mark.
send "soundshare 250"
until_shot feed_soundshare ringed 162 || fail "Quinn not ringed while soundsharing"
send "silent 250"
until_shot feed_soundshare_over not_ringed 162 || fail "Quinn still ringed after the soundshare"
send "suppress 250"
until_shot feed_suppressed badged 156 || fail "the suppressed member has no badge"
send "suppress 250 off"
send "local-mute 250"
until_shot feed_local_mute locally_muted 156 || fail "no muted-for-you badge for the member the user muted"
badged "$img" 156 && fail "the member's own badge for a mute that is the user's"
send "local-mute 250"
# The LIVE pill's red (237,66,69) right of the name: pixels a white name on
# a dark pill never has.
live_mark() { [ "$(convert "$1" -crop 200x10+100+$2 -fx 'r > 0.75 && g < 0.4 && b < 0.4 ? 1 : 0' \
  -format '%[fx:int(mean*w*h)]' info:)" -gt 30 ]; }
# Quinn streams: first in Discord's order (Quinn, Me, Pilot, the bot), and
# marked LIVE; Pilot's badge moves down with Pilot.
quinn_first_live() { live_mark "$1" 44 && ! live_mark "$1" 100 && ! live_mark "$1" 156 && badged "$1" 156 &&
  ! badged "$1" 100 && ! locally_muted "$1" 44; }
send "live 250"
until_shot feed_live quinn_first_live || fail "the streaming member not first with a LIVE mark"
send "live 250 off"
order_again() { ! live_mark "$1" 44 && ! live_mark "$1" 156 && badged "$1" 100 && ! badged "$1" 156; }
until_shot feed_live_over order_again || fail "the order did not come back once the stream ended"
echo "voice feed: soundshare ringed, the suppressed member's badge, the muted-for-you badge, a LIVE mark, Discord's order"
send "speak 200"
until_shot feed_speaking ringed 106 || fail "Pilot not ringed while speaking"
ringed "$img" 50 && fail "Me ringed without speaking"
send "silent 200"
until_shot feed_silent not_ringed 106 || fail "Pilot still ringed after the speaking stopped"
send "leave 250"
three_tiles() { drawn "$1" 156 && ! drawn "$1" 212; }
until_shot feed_left three_tiles || fail "the member who left is still drawn"
send "leave-voice"
empty() { ! drawn "$1" 50 && ! drawn "$1" 100; }
until_shot feed_empty empty || fail "the overlay did not empty when the user left voice"
authorizes() { grep -c 'RECV op=1 .*"cmd":"AUTHORIZE"' "$work/sim.log" || true; }
grep -q '^CONNECTED' "$work/sim.log" || fail "Voxmere did not connect to Discord's RPC with its registered application"
[ "$(authorizes)" -eq 0 ] || fail "AUTHORIZE sent while the plugin's feed was live"
grep -q 'CONSENT DIALOG' "$work/sim.log" && fail "a consent dialog while the plugin's feed was live"
# The same count was logged when Quinn left: the rejoined list is one more such line.
rejoined='SetVoiceUsers: 3 users (2 users, 1 bots)'
lists=$(grep -c "$rejoined" "$work/debug.log" || true)
send rejoin
for _ in $(seq 50); do [ "$(grep -c "$rejoined" "$work/debug.log" || true)" -gt "$lists" ] && break; sleep 0.2; done
[ "$(grep -c "$rejoined" "$work/debug.log" || true)" -gt "$lists" ] || fail "the list after rejoining did not arrive"
stopped=$(date +%s%N)
send stop
# Me is in both lists: the tile stays through the switch.
shots=0
until grep -q 'Voice source: Discord RPC' "$work/debug.log"; do
  [ "$(ms_since "$stopped")" -lt 20000 ] || fail "RPC did not take over once the plugin stopped"
  drawn "$(shot switching)" 50 || fail "Me's tile dropped during the switch"
  shots=$((shots + 1))
done
echo "voice feed: RPC's list shown $(ms_since "$stopped") ms after the plugin stopped; Me's tile in all $shots screenshots meanwhile"
two_tiles() { drawn "$1" 50 && drawn "$1" 100 && ! drawn "$1" 156; }
until_shot rpc_after_feed two_tiles || fail "the simulator's channel (Me, Dave) was not drawn"
[ "$(authorizes)" -eq 1 ] || fail "$(authorizes) AUTHORIZE requests once RPC took over, not one"
grep -q 'SetVoiceUsers: 2 users (2 users, 0 bots)' "$work/debug.log" || fail "the simulator's two members did not reach the overlay"
# Dave's picture (133,117,179 at the inactive opacity) above his eyes, not the dark placeholder.
pictured() { read -r r g b <<<"$(pixel "$1" 44 $(($2 - 14)))"; [ "$b" -gt 70 ] && [ "$b" -gt $((r + 15)) ] && [ "$r" -gt "$g" ]; }
until_shot rpc_quiet_avatar pictured 100 || fail "Dave's picture never drawn in a quiet channel"
echo "voice feed: the plugin's members shown (badge, ring, leaving, leaving voice) with no AUTHORIZE; RPC took over with one"
