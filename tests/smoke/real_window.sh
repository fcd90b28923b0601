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

TEST_NAME="real-window smoke test"
source "$HERE/window.sh"

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
