#!/usr/bin/env bash
# The run command's notification cards: every few seconds one card, taking
# turns between the named pipe and the WebSocket, from members of the demo
# channel (their avatars come from the simulator's CDN).
#
#   demo-notifications.sh WINE_RUNNER NOTIFY_SEND_EXE
set -uo pipefail
wine=$1
sender=$2
# Wine turns the command line into UTF-16 through the locale's charset.
export LC_ALL=C.UTF-8

send() {
  local endpoint=$1 id=$2 hash=$3 name=$4 channel=$5 content=$6
  "$wine" "$sender" "--$endpoint" --username "${name,,}" --displayName "$name" --content "$content" \
    --channelName "$channel" --serverName "Voxmere Lab" --userId "$id" --avatarHash "$hash" ||
    echo "send over $endpoint failed"
}

sleep 5
while true; do
  send pipe 100000000000000006 e1e1e1e1f2f2f2f2a3a3a3a3b4b4b4b4 Erin "日本語" "ラスボスまであと少し！🎮"
  sleep 4
  send websocket 100000000000000002 b0b0b0b0c1c1c1c1d2d2d2d2e3e3e3e3 Bobby general "gg, that boss fight was close 🔥"
  sleep 4
  send pipe 100000000000000003 c4a7015e2b8d9f3e6c1a4d7b0e9f8a21 Carol raids "Starting the raid in 5 minutes, grab your gear!"
  sleep 4
  send websocket 100000000000000004 d4e5f6a7b8c9d0e1f2a3b4c5d6e7f8a9 dave_the_tank general "brb, pizza 🍕"
  sleep 6
done
