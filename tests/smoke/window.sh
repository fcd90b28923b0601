# Helpers for the tests that play the real game in a real window on a virtual display: start
# it, press keys, take screenshots and check them, wait for its exit. Sourced inside xvfb-run;
# expects GAME (the executable) and TEST_NAME (for messages); START_DIR is where the game starts
# (default: an empty scratch directory, $WORK).

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
  echo "FAILED: ${TEST_NAME}: $*" >&2
  echo "  screenshots and the game's output are in $WORK" >&2
  trap - EXIT  # keep them for a look
  if [[ -n $GAME_PID ]] && kill -0 "$GAME_PID" 2>/dev/null; then kill -KILL "$GAME_PID"; fi
  exit 1
}

WINDOW=
start_game() {
  local run=$1
  # From an empty directory (or START_DIR), so the game finds its font sheet beside itself.
  (cd "${START_DIR:-$WORK}" && exec "$GAME" >"$WORK/$run.out" 2>"$WORK/$run.err") &
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

