#!/usr/bin/env bash
# Shows how much CPU the real game uses while it waits for a key: starts it in a window on a
# virtual display (Xvfb), and adds up its user and system time from /proc/<pid>/stat over
# SECONDS on the title screen and SECONDS in a new game, with no key pressed in between.
#
#   bench/idle_cpu.sh PATH/TO/vesperdeep [SECONDS (10)]
#
# Needs xvfb-run and xdotool; prints a line starting with "SKIPPED:" and exits 77 without them.
set -euo pipefail

GAME=$(realpath "$1")
SECONDS_PER_SCREEN=${2:-10}

if [[ -z ${VESPERDEEP_IDLE_DISPLAY:-} ]]; then
  for tool in xvfb-run xdotool; do
    if ! command -v "$tool" >/dev/null 2>&1; then
      echo "SKIPPED: idle CPU: $tool not found (Debian packages: xvfb xauth xdotool)"
      exit 77
    fi
  done
  VESPERDEEP_IDLE_DISPLAY=1 exec xvfb-run --auto-servernum \
    --server-args="-screen 0 1024x768x24 -nolisten tcp" "$0" "$GAME" "$SECONDS_PER_SCREEN"
fi

"$GAME" >/dev/null 2>&1 &
PID=$!
trap 'kill "$PID" 2>/dev/null || true' EXIT
WINDOW=$(xdotool search --sync --onlyvisible --name '^Vesperdeep$' | head -n 1)
xdotool mousemove --window "$WINDOW" 100 100 || true
xdotool windowfocus --sync "$WINDOW" 2>/dev/null || true
TICKS_PER_SECOND=$(getconf CLK_TCK)

# utime + stime of the game so far, in clock ticks (fields 14 and 15 of /proc/<pid>/stat; the
# name in field 2 has no spaces here).
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$PID/stat"; }

measure() {
  local screen=$1 before after
  sleep 1  # let the screen settle
  before=$(cpu_ticks)
  sleep "$SECONDS_PER_SCREEN"
  after=$(cpu_ticks)
  awk -v screen="$screen" -v ticks=$((after - before)) -v hz="$TICKS_PER_SECOND" \
    -v secs="$SECONDS_PER_SCREEN" 'BEGIN {
      printf "idle on the %s: %d ticks of CPU (%.3f s, %.2f%% of one core) in %d s; resolution %.3f s\n",
             screen, ticks, ticks / hz, 100 * ticks / hz / secs, secs, 1 / hz }'
}

sleep 1
echo "start-up (font, window, first frame): $(cpu_ticks) ticks of CPU"
measure "title screen"
xdotool key space
measure "game screen"
xdotool key Escape
sleep 0.5
xdotool key Escape
wait "$PID"
trap - EXIT
