#!/usr/bin/env bash
# Ending the real programs from outside:
#   - SIGTERM to a waiting vesperdeep and to the play driver waiting for the real keyboard in
#     every screen (title, normal play, inventory, drop, note, after death, end screen) ends it
#     with status 0 within one second;
#   - a missing, unreadable, hostile or oversized font sheet, no display, or a display that
#     does not answer makes vesperdeep print one line naming the cause and exit with status 1
#     within one second, without a process left behind or memory spent on a hostile header.
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

# check_idle <pid> <what>: a program waiting for a key uses (next to) no CPU over a second. The
# second starts half a second in: putting the last frame on a busy virtual display is drawing,
# not waiting.
check_idle() {
  local before after
  sleep 0.5
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

# ---- No font sheet, no display --------------------------------------------------------------
# check_start_failure <what> <reason> <command...>: the game, started by the command from an
# empty directory, prints one line naming the reason, exits with status 1 within a second,
# leaves no process behind; a refused font sheet also stays within a few MB of the memory a
# plain "not found" takes (callers set `bounded`).
check_start_failure() {
  local what=$1 reason=$2
  shift 2
  local start took status lines peak
  start=$(now_ms)
  (cd "$work/elsewhere" && timeout 10 /usr/bin/time -f %M -o "$work/peak" "$@") \
    >"$work/start.out" 2>"$work/start.err"
  status=$?
  took=$(($(now_ms) - start))
  peak=$(tail -n 1 "$work/peak")
  grep -v '^Command exited' "$work/start.err" >"$work/start.line"
  lines=$(wc -l <"$work/start.line")
  if ((status != 1)); then
    fail "$what: exit status $status, expected 1: $(cat "$work/start.err")"
  elif ((took >= 1000)); then
    fail "$what: took ${took} ms"
  elif ((lines != 1)) || ! grep -qF "$reason" "$work/start.line"; then
    fail "$what: expected one line saying \"$reason\" on stderr, got: $(cat "$work/start.line")"
  elif pgrep -f "$work/alone/vesperdeep" >/dev/null; then
    fail "$what: a vesperdeep process was left behind"
  elif ((${bounded:-0} && baseline_kb > 0 && peak > baseline_kb + 8192)); then
    fail "$what: peak resident size $peak kB, over $baseline_kb kB + 8 MB"
  else
    pass "$what: status 1 after ${took} ms, peak $peak kB: $(cat "$work/start.line")"
  fi
}

# check_font_failure <what> <reason>: the sheet beside the executable is as the caller left it.
check_font_failure() {
  local bounded=1
  check_start_failure "$1" "$2" "$work/alone/vesperdeep"
}

# A free display number: no X server has a socket for it.
free_display() {
  local n=90
  while [[ -e /tmp/.X11-unix/X$n || -e /tmp/.X$n-lock ]]; do n=$((n + 1)); done
  echo ":$n"
}

# write_bmp_header <file> <side> <bytes>: a 24-bit BMP of <bytes> bytes whose header claims
# <side> x <side> pixels, with no pixels behind it.
write_bmp_header() {
  python3 - "$@" <<'PY'
import struct, sys
path, side, size = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
header = b"BM" + struct.pack("<IHHI", size, 0, 0, 54)
header += struct.pack("<IiiHHIIiiII", 40, side, side, 1, 24, 0, 0, 2835, 2835, 0, 0)
open(path, "wb").write(header + bytes(size - len(header)))
PY
}

mkdir -p "$work/alone" "$work/elsewhere"
chmod 755 "$work" "$work/alone" "$work/elsewhere"
cp "$BIN/vesperdeep" "$work/alone/"
sheet="$work/alone/$FONT"
baseline_kb=0
check_font_failure "no font sheet anywhere" "not found; looked in"
baseline_kb=$(tail -n 1 "$work/peak")
head -c 3000 /dev/urandom >"$sheet"
check_font_failure "a font sheet that is no image" "not a readable BMP image"
printf 'BM' >"$sheet"
check_font_failure "a truncated font sheet" "not a readable BMP image"
rm -f "$sheet" && mkfifo "$sheet"
check_font_failure "a named pipe for a font sheet" "not a regular file: a named pipe"
rm -f "$sheet" && mkdir "$sheet"
check_font_failure "a directory for a font sheet" "is a directory"
rmdir "$sheet" && ln -s /dev/zero "$sheet"
check_font_failure "a device for a font sheet" "not a regular file: a device"
rm -f "$sheet" && ln -s "$FONT" "$sheet"
check_font_failure "a loop of symbolic links" "a loop of symbolic links"
rm -f "$sheet" && ln -s nowhere "$sheet"
check_font_failure "a symbolic link to nothing" "a symbolic link to nothing"
rm -f "$sheet"
# A 70-byte BMP whose header claims 60000 x 60000 pixels, and a real-looking header of a sheet
# with 256 x 256-pixel glyphs (a window of 20480 x 12800): refused before any pixel memory.
write_bmp_header "$sheet" 60000 70
check_font_failure "a 70-byte header claiming 60000 x 60000" "too large: 60000 x 60000 pixels"
write_bmp_header "$sheet" 4096 4096
check_font_failure "a sheet of 256 x 256-pixel glyphs" "too large: 4096 x 4096 pixels"
cp "$BIN/$FONT" "$sheet" && chmod 000 "$sheet"
if ((EUID != 0)); then
  check_font_failure "a font sheet without read permission" "permission denied"
elif command -v setpriv >/dev/null && setpriv --reuid=nobody --regid=nogroup --clear-groups true; then
  bounded=1 check_start_failure "a font sheet without read permission" "permission denied" \
    setpriv --reuid=nobody --regid=nogroup --clear-groups "$work/alone/vesperdeep"
else
  echo "SKIP a font sheet without read permission: cannot switch to a user without access"
fi
chmod 644 "$sheet"

# With the sheet in place: no display at all, or a display that no X server answers. The
# windowless fallback SDL would pick by itself must not start a game nobody can see.
check_start_failure "no display (DISPLAY unset)" "cannot open a window: no display (DISPLAY is not set)" \
  env -u SDL_VIDEODRIVER -u DISPLAY -u WAYLAND_DISPLAY "$work/alone/vesperdeep"
display=$(free_display)
check_start_failure "a display no X server answers ($display)" "no X server answers at DISPLAY=$display" \
  env -u SDL_VIDEODRIVER -u WAYLAND_DISPLAY DISPLAY="$display" "$work/alone/vesperdeep"
check_start_failure "the X driver asked for, no X server" "cannot open a window: SDL cannot start its video driver x11" \
  env -u WAYLAND_DISPLAY SDL_VIDEODRIVER=x11 DISPLAY="$display" "$work/alone/vesperdeep"

((failures == 0)) && echo "all process exits behaved" || echo "$failures failures"
exit $((failures > 0))
