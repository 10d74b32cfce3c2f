# Sourced by the dev scripts: when no X display is set, starts Xvfb on a free
# display number and exports DISPLAY; the caller's exit trap stops it.
start_virtual_display() {
  if [ -n "${DISPLAY:-}" ]; then
    return 0
  fi
  local number=${VIRTUAL_DISPLAY_FIRST:-90}  # a helper may be given a range of its own
  while [ -e "/tmp/.X11-unix/X$number" ] || [ -e "/tmp/.X$number-lock" ]; do
    number=$((number + 1))
  done
  # A session of its own: a terminal's Ctrl+C must not end the display before the caller's cleanup.
  setsid Xvfb ":$number" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
  VIRTUAL_DISPLAY_PID=$!
  export DISPLAY=":$number"
  local tries=0
  until xdpyinfo >/dev/null 2>&1; do
    tries=$((tries + 1))
    if [ $tries -gt 100 ]; then
      echo "Xvfb did not start on $DISPLAY" >&2
      return 1
    fi
    sleep 0.1
  done
}

stop_virtual_display() {
  if [ -n "${VIRTUAL_DISPLAY_PID:-}" ]; then
    kill "$VIRTUAL_DISPLAY_PID" 2>/dev/null || true
    wait "$VIRTUAL_DISPLAY_PID" 2>/dev/null || true
  fi
}
