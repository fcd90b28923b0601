#!/usr/bin/env bash
# Ending the real programs from outside:
#   - SIGTERM to a waiting vesperdeep and to the play driver waiting for the real keyboard in
#     every screen (title, normal play, inventory, drop, note, after death, end screen) ends it
#     with status 0 within one second;
#   - a missing or unreadable font sheet makes vesperdeep print one line naming the file and
#     exit non-zero within one second.
# Headless by default (SDL's dummy video driver). With --x11 it runs against the X server in
# DISPLAY (e.g. under xvfb-run): real windows, real key presses (xdotool) to leave the title
# screen of the game, and a check that a program waiting for a key uses no CPU.
#
#   tests/process-exits.sh [--x11] <directory holding vesperdeep, vesperdeep-driver, the font>
set -uo pipefail

x11=0
if [[ ${1:-} == --x11 ]]; then
  x11=1
  shift
fi
BIN=$(cd "${1:?usage: process-exits.sh [--x11] <bin dir>}" && pwd)
FONT=Slate_curses_12x12.bmp
if ((x11)); then
  [[ -n ${DISPLAY:-} ]] || { echo "SKIP: --x11 needs an X server (DISPLAY)"; exit 77; }
  command -v xdotool >/dev/null || { echo "SKIP: --x11 needs xdotool"; exit 77; }
  export SDL_VIDEODRIVER=x11 SDL_AUDIODRIVER=dummy
else
  export SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

pass() { echo "PASS $*"; }
fail() { echo "FAIL $*"; failures=$((failures + 1)); }
now_ms() { date +%s%3N; }

# wait_for_line <file> <text> <seconds>: true once the file holds the text.
wait_for_line() {
  local deadline=$(($(now_ms) + $3 * 1000))
  while (($(now_ms) < deadline)); do
    grep -qF "$2" "$1" 2>/dev/null && return 0
    sleep 0.05
  done
  return 1
}

# cpu_ticks <pid>: user + system time used so far, in clock ticks.
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }

# check_idle <pid> <what>: a program waiting for a key uses (next to) no CPU over a second.
check_idle() {
  local before after
  before=$(cpu_ticks "$1") || return
  sleep 1
  after=$(cpu_ticks "$1") || return
  if ((after - before > 5)); then
    fail "$2: used $((after - before)) clock ticks of CPU in one second while waiting for a key"
  else
    pass "$2: waits for a key without using CPU ($((after - before)) clock ticks in a second)"
  fi
}

# terminate <pid> <what> [expected output file + text]: SIGTERM, then status 0 within 1 s.
terminate() {
  local pid=$1 what=$2
  local sent
  sent=$(now_ms)
  kill -TERM "$pid"
  local waited=0
  while kill -0 "$pid" 2>/dev/null && ((waited < 50)); do sleep 0.02; waited=$((waited + 1)); done
  local took=$(($(now_ms) - sent))
  if kill -0 "$pid" 2>/dev/null; then
    kill -KILL "$pid"; wait "$pid" 2>/dev/null
    fail "$what: still running ${took} ms after SIGTERM"
    return
  fi
  wait "$pid"
  local status=$?
  if ((status != 0)); then
    fail "$what: exit status $status after SIGTERM (${took} ms)"
  elif ((took >= 1000)); then
    fail "$what: took ${took} ms to end after SIGTERM"
  else
    pass "$what: ended with status 0 ${took} ms after SIGTERM"
  fi
}

# ---- The game itself, waiting on its title screen ----------------------------------------------
(cd "$BIN" && exec ./vesperdeep) >"$work/game.out" 2>&1 &
game=$!
sleep 1.5  # start-up: the window opens and the title screen waits for a key
if kill -0 "$game" 2>/dev/null; then
  if ((x11)); then
    check_idle "$game" "vesperdeep on the title screen"
    window=$(xdotool search --sync --name '^Vesperdeep$' | head -1)
    xdotool windowfocus --sync "$window" key Return sleep 0.3 key i sleep 0.3
    kill -0 "$game" 2>/dev/null && pass "vesperdeep: still running after real key presses (Return, i)"
    check_idle "$game" "vesperdeep in its inventory"
    terminate "$game" "vesperdeep in its inventory"
  else
    terminate "$game" "vesperdeep on the title screen"
  fi
else
  wait "$game"; fail "vesperdeep ended by itself before SIGTERM (status $?): $(cat "$work/game.out")"
fi

# ---- The driver, waiting for the real keyboard in each screen ---------------------------------
dots=$(printf '.%.0s' $(seq 35))
# screen | keys | partition | kills counted at the start | what the driver saw when closed
screens=(
  "title screen||0||on the title screen"
  "normal play|<Enter>|0||mode 0"
  "inventory|<Enter>i|0||mode 1"
  "drop screen|<Enter>d|0||mode 2"
  "note|<Enter>${dots}ib|0|31|mode 3"
  "dead player's level|<Enter>nnjjjjjjj|38||player dead"
  "end screen|<Enter>${dots}ib<Esc>|0|31|mode 5"
)
for entry in "${screens[@]}"; do
  IFS='|' read -r what keys partition kills seen <<<"$entry"
  script="$work/${what//[ \']/-}.keys"
  printf '%s\n' "$keys" >"$script"
  # --no-flush: the script's frames need not be shown (the fade alone is 256 presents, many
  # seconds in a sanitized build on a busy virtual display); the wait for the keyboard that
  # follows is the real one either way.
  options=(--script "$script" --partition "$partition" --then-keyboard --no-flush --watchdog 10000)
  [[ -n $kills ]] && options+=(--kills "$kills")
  out="$work/${what//[ \']/-}.out"
  (cd "$BIN" && exec ./vesperdeep-driver "${options[@]}") >"$out" 2>&1 &
  driver=$!
  if wait_for_line "$out" "waiting for the keyboard" 20; then
    ((x11)) && check_idle "$driver" "driver waiting on the $what"
    terminate "$driver" "driver waiting on the $what"
    grep "the window was closed" "$out" | grep -qF "$seen" ||
      fail "$what: the driver did not see the window close there: $(cat "$out")"
  else
    kill -KILL "$driver" 2>/dev/null; wait "$driver" 2>/dev/null
    fail "$what: the driver never reached the keyboard: $(cat "$out")"
  fi
done

if ((x11)); then
  ((failures == 0)) && echo "all process exits behaved" || echo "$failures failures"
  exit $((failures > 0))
fi

# ---- No font sheet ------------------------------------------------------------------------------
# check_font_failure <what> <directory to run in>: one line naming the sheet, non-zero, < 1 s.
check_font_failure() {
  local what=$1 dir=$2
  local start took status lines
  start=$(now_ms)
  (cd "$dir" && timeout 10 "$work/alone/vesperdeep") >"$work/font.out" 2>"$work/font.err"
  status=$?
  took=$(($(now_ms) - start))
  lines=$(wc -l <"$work/font.err")
  if ((status == 0 || status == 124)); then
    fail "$what: exit status $status"
  elif ((took >= 1000)); then
    fail "$what: took ${took} ms"
  elif ((lines != 1)) || ! grep -q "$FONT" "$work/font.err"; then
    fail "$what: expected one line naming $FONT on stderr, got: $(cat "$work/font.err")"
  else
    pass "$what: status $status after ${took} ms: $(cat "$work/font.err")"
  fi
}

mkdir -p "$work/alone" "$work/elsewhere"
cp "$BIN/vesperdeep" "$work/alone/"
check_font_failure "no font sheet anywhere" "$work/elsewhere"
head -c 3000 /dev/urandom >"$work/alone/$FONT"
check_font_failure "a font sheet that is no image" "$work/elsewhere"
printf 'BM' >"$work/alone/$FONT"
check_font_failure "a truncated font sheet" "$work/elsewhere"

((failures == 0)) && echo "all process exits behaved" || echo "$failures failures"
exit $((failures > 0))
