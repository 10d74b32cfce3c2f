#!/usr/bin/env bash
# Builds Voxmere and runs it under Wine with the Discord simulator as its
# peer (a channel of members named in many scripts and with emoji, its token
# endpoint and avatars on a loopback port), and sends it a few notification
# cards through its real endpoints.
#
#   tools/run.sh [--duration SECONDS] [--screenshot FILE.png] [--no-build]
#
# Without --duration it runs until Ctrl+C. Either way every process it started
# ends with it. The run's files (debug.log, the simulator's output) are in
# build/demo/.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/dev/build.sh"
source "$here/dev/virtual-display.sh"

duration=0
screenshot=""
build=1
while [ $# -gt 0 ]; do
  case "$1" in
    --duration) duration=$2; shift 2 ;;
    --screenshot) screenshot=$(realpath -m "$2"); shift 2 ;;
    --no-build) build=0; shift ;;
    *) echo "usage: $0 [--duration SECONDS] [--screenshot FILE.png] [--no-build]" >&2; exit 2 ;;
  esac
done

if [ $build -eq 1 ]; then
  "$here/dev/install-deps.sh"
  # Only what this run starts, so the first picture does not wait for the tests.
  build_windows Voxmere tallybell_plugin discord_sim notify_send
fi

bin="$VOXMERE_BUILD/bin"
demo="$VOXMERE_BUILD/demo"
wine="$VOXMERE_BUILD/wine-run.sh"
export WINEPREFIX="$VOXMERE_BUILD/wineprefix-demo"

take_screenshot() {
  [ -n "$screenshot" ] || return 0
  mkdir -p "$(dirname "$screenshot")"
  import -display "$DISPLAY" -window root "$screenshot" && echo "Screenshot: $screenshot"
}

cleanup() {
  take_screenshot || true
  jobs -p | xargs -r kill 2>/dev/null || true
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  stop_virtual_display
}
trap cleanup EXIT
# What it starts runs in sessions of their own, so a terminal's Ctrl+C reaches
# this script alone, which takes the screenshot and then stops them.
trap 'exit 130' INT TERM

start_virtual_display
# Xvfb has no tray area, so Wine would put a stand-in tray window over the
# member column; the setting is read when Wine's desktop process starts.
if ! grep -q '"ShowSystray"="N"' "$WINEPREFIX/user.reg" 2>/dev/null; then
  "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v ShowSystray /d N /f >/dev/null 2>&1
  /usr/lib/wine/wineserver -w
fi
rm -rf "$demo"
mkdir -p "$demo"
cp "$bin/Voxmere.exe" "$bin/Twemoji.ttf" "$demo/"

setsid "$wine" "$bin/discord_sim.exe" --pipe 0 --scenario many_scripts --http-port 0 >"$demo/discord_sim.log" 2>&1 &
for _ in $(seq 100); do
  grep -q '^LISTENING' "$demo/discord_sim.log" 2>/dev/null && break
  sleep 0.2
done
base=$(tr -d '\r' <"$demo/discord_sim.log" | sed -n 's/^HTTP \(http:[^ ]*\)$/\1/p' | head -1)
if [ -z "$base" ]; then
  echo "The Discord simulator did not start; its output:" >&2
  cat "$demo/discord_sim.log" >&2
  exit 1
fi
echo "Discord simulator on \\\\.\\pipe\\discord-ipc-0, token endpoint and avatars at $base"

VOXMERE_API_BASE=$base VOXMERE_CDN_BASE=$base setsid "$wine" "$demo/Voxmere.exe" &
voxmere=$!
echo "Voxmere is running on display $DISPLAY; its log is $demo/debug.log"

setsid "$here/dev/demo-notifications.sh" "$wine" "$bin/notify_send.exe" >"$demo/notifications.log" 2>&1 &

if [ "$duration" -gt 0 ]; then
  sleep "$duration"
else
  echo "Press Ctrl+C to stop."
  wait "$voxmere"
fi
