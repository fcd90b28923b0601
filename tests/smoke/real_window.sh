#!/usr/bin/env bash
# Real-window smoke test: the game in a real X window on its own virtual display (Xvfb), played
# with real key presses (xdotool, through the XTEST extension), so that every key goes through X,
# SDL and libtcod to the game exactly as a player's does.
#
#   tests/smoke/real_window.sh PATH/TO/vesperdeep
#
# Run 1: the title screen; a key starts a game; a few moves and waits; 'i' opens the inventory
#        and 'z' closes it; Escape returns to the title screen, Escape again quits: status 0.
# Run 2: a game is started and its window closed the way a window manager's close button does
#        (WM_DELETE_WINDOW): the game ends by itself within two seconds with status 0.
# Run 3: SIGTERM on the title screen ends the game the same way.
# Each screen is checked on a screenshot of the window: the title screen has no health bar, a
# game shows the dark red health bar, the inventory its light blue frame, and the title screen
# seen again is pixel for pixel the first one.
#
# Exit status: 0 passed, 1 failed, 77 skipped (no Xvfb, xdotool, ImageMagick or python3; a line
# starting with "SKIPPED:" says which).
set -euo pipefail

if (($# != 1)); then
  echo "usage: $0 PATH/TO/vesperdeep" >&2
  exit 2
fi
GAME=$(realpath "$1")
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# ---- Outside: check the tools, then run again inside a fresh virtual display -----------------

if [[ -z ${VESPERDEEP_SMOKE_DISPLAY:-} ]]; then
  missing=()
  for tool in xvfb-run Xvfb xauth xdotool import convert compare python3; do
    command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
  done
  if ((${#missing[@]} > 0)); then
    echo "SKIPPED: real-window smoke test: ${missing[*]} not found" \
      "(Debian packages: xvfb xauth xdotool imagemagick python3)"
    exit 77
  fi
  if [[ ! -x $GAME ]]; then
    echo "FAILED: real-window smoke test: no game executable at $GAME" >&2
    exit 1
  fi
  # Always a display of its own, even on a desktop: the keys typed must reach only this game.
  VESPERDEEP_SMOKE_DISPLAY=1 exec xvfb-run --auto-servernum \
    --server-args="-screen 0 1024x768x24 -nolisten tcp" "$0" "$GAME"
fi

# ---- Inside the virtual display ---------------------------------------------------------------

WORK=$(mktemp -d)
GAME_PID=
cleanup() {
  if [[ -n $GAME_PID ]] && kill -0 "$GAME_PID" 2>/dev/null; then kill -KILL "$GAME_PID"; fi
  rm -rf "$WORK"
}
trap cleanup EXIT

# TCODColor::darkRed, the health bar under the player's hit points, and TCODColor::lightBlue,
# the frame of the inventory window.
HEALTH_BAR='rgb(191,0,0)'
MENU_FRAME='rgb(63,63,255)'
KEY_GAP=0.3  # the game drops keys pressed while it is busy, so give it time between keys

fail() {
  echo "FAILED: real-window smoke test: $*" >&2
  echo "  screenshots and the game's output are in $WORK" >&2
  trap - EXIT  # keep them for a look
  if [[ -n $GAME_PID ]] && kill -0 "$GAME_PID" 2>/dev/null; then kill -KILL "$GAME_PID"; fi
  exit 1
}

WINDOW=
start_game() {
  local run=$1
  # From an empty directory, so the game finds its font sheet beside itself, as installed.
  (cd "$WORK" && exec "$GAME" >"$WORK/$run.out" 2>"$WORK/$run.err") &
  GAME_PID=$!
  WINDOW=
  for _ in $(seq 100); do
    WINDOW=$(xdotool search --onlyvisible --name '^Vesperdeep$' 2>/dev/null | head -n 1 || true)
    [[ -n $WINDOW ]] && break
    kill -0 "$GAME_PID" 2>/dev/null || fail "$run: the game ended before its window opened"
    sleep 0.1
  done
  [[ -n $WINDOW ]] || fail "$run: no window captioned Vesperdeep within 10 s"
  # Key presses go to the focused window; with no window manager, focus it by hand.
  xdotool mousemove --window "$WINDOW" 100 100 || true
  xdotool windowfocus --sync "$WINDOW" 2>/dev/null || true
  sleep "$KEY_GAP"
}

press() {
  local key
  for key in "$@"; do
    xdotool key "$key"
    sleep "$KEY_GAP"
  done
}

shoot() {  # shoot NAME: the game window's picture as $WORK/NAME.png
  import -window "$WINDOW" "$WORK/$1.png" 2>/dev/null || fail "could not take a screenshot ($1)"
}

count_colour() {  # count_colour NAME COLOUR: pixels of exactly COLOUR in $WORK/NAME.png
  convert "$WORK/$1.png" -alpha off -fill black +opaque "$2" -fill white -opaque "$2" \
    -colorspace Gray -format '%[fx:round(mean*w*h)]' info:
}

# expect_screen NAME DESCRIPTION TEST...: takes screenshots until TEST (run with NAME) holds,
# for up to five seconds.
expect_screen() {
  local name=$1 description=$2
  shift 2
  for _ in $(seq 25); do
    shoot "$name"
    if "$@" "$name"; then return 0; fi
    sleep 0.2
  done
  fail "$description"
}

is_title() { (($(count_colour "$1" "$HEALTH_BAR") == 0 && $(count_colour "$1" white) > 0)); }
is_game() { (($(count_colour "$1" "$HEALTH_BAR") > 0 && $(count_colour "$1" "$MENU_FRAME") == 0)); }
is_inventory() { (($(count_colour "$1" "$MENU_FRAME") > 0)); }
differs_from_game() { ! compare -metric AE "$WORK/game.png" "$WORK/$1.png" null: 2>/dev/null; }
is_first_title() { compare -metric AE "$WORK/title.png" "$WORK/$1.png" null: 2>/dev/null; }

# wait_for_exit RUN SECONDS: the game must end by itself within SECONDS with status 0.
wait_for_exit() {
  local run=$1 limit=$2 waited=0 status=0
  while kill -0 "$GAME_PID" 2>/dev/null; do
    if ((waited >= limit * 10)); then fail "$run: the game was still running ${limit} s later"; fi
    sleep 0.1
    waited=$((waited + 1))
  done
  wait "$GAME_PID" || status=$?
  GAME_PID=
  ((status == 0)) || fail "$run: the game ended with status $status ($(head -c 300 "$WORK/$run.err"))"
}

# Run 1: title, a game, moves, the inventory, back to the title, quit.
start_game keys
expect_screen title "keys: the title screen did not show" is_title
press space
expect_screen game "keys: no game started after a key on the title screen" is_game
# The fourth turn always brings a message, so the screen changes even if every step hits a wall.
press l j h k period period period period
expect_screen moved "keys: moves and waits changed nothing on the screen" differs_from_game
press i
expect_screen inventory "keys: 'i' did not open the inventory window" is_inventory
press z
expect_screen closed "keys: 'z' did not close the inventory window" is_game
press Escape
expect_screen title-again "keys: Escape did not return to the same title screen" is_first_title
press Escape
wait_for_exit keys 5
echo "real-window smoke test: title, new game, moves, inventory open and closed, Escape twice: ok"

# Run 2: closing the window in the middle of a game.
start_game close
expect_screen title "close: the title screen did not show" is_title
press space
expect_screen game "close: no game started after a key on the title screen" is_game
press l
"$HERE/close_window.py" "$WINDOW" || fail "close: could not ask the window to close"
wait_for_exit close 2
echo "real-window smoke test: closing the window during a game ends it with status 0: ok"

# Run 3: SIGTERM on the title screen.
start_game term
expect_screen title "term: the title screen did not show" is_title
kill -TERM "$GAME_PID"
wait_for_exit term 2
echo "real-window smoke test: SIGTERM ends the game with status 0: ok"
