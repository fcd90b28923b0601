#!/usr/bin/env bash
# The real game against an X server that is not a friendly desktop, on a virtual display of its
# own (Xvfb, started by xvfb-run with an authority file):
#  - without that file (env -u XAUTHORITY) the server refuses: one line naming the refusal and
#    the fix (XAUTHORITY, xhost), status 1;
#  - a WAYLAND_DISPLAY with no XDG_RUNTIME_DIR and no DISPLAY: one line, status 1;
#  - the window carries the game's 64 x 64 icon;
#  - the window destroyed from outside (xdotool windowclose): the game ends, status 0, silent;
#  - French, German and US keyboard layouts (setxkbmap): '.' typed four times waits four turns
#    (the fourth brings a message), 'i' opens the inventory and 'z' closes it, as xdotool types
#    them on that layout.
#
#   tests/smoke/display_edges.sh PATH/TO/vesperdeep
#
# Exit status: 0 passed, 1 failed, 77 skipped (tools missing; "SKIPPED:" says which).
set -euo pipefail

GAME=$(realpath "$1")
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if [[ -z ${VESPERDEEP_SMOKE_DISPLAY:-} ]]; then
  missing=()
  for tool in xvfb-run Xvfb xauth xdotool xprop setxkbmap import convert compare; do
    command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
  done
  if ((${#missing[@]} > 0)); then
    echo "SKIPPED: display edge tests: ${missing[*]} not found" \
      "(Debian packages: xvfb xauth xdotool x11-utils x11-xkb-utils imagemagick)"
    exit 77
  fi
  VESPERDEEP_SMOKE_DISPLAY=1 exec xvfb-run --auto-servernum \
    --server-args="-screen 0 1024x768x24 -nolisten tcp" "$0" "$GAME"
fi

TEST_NAME="display edge tests"
source "$HERE/window.sh"

# one_line_refusal WHAT PATTERN ENV...: the game under ENV prints one line matching PATTERN to
# stderr, nothing to stdout, and ends with status 1.
one_line_refusal() {
  local what=$1 pattern=$2 status=0
  shift 2
  (cd "$WORK" && env "$@" "$GAME" >"$WORK/$what.out" 2>"$WORK/$what.err") || status=$?
  ((status == 1)) || fail "$what: status $status, not 1"
  [[ ! -s $WORK/$what.out && $(wc -l <"$WORK/$what.err") == 1 ]] ||
    fail "$what: not one line: $(cat "$WORK/$what.out" "$WORK/$what.err")"
  grep -Eq -- "$pattern" "$WORK/$what.err" || fail "$what: the line does not match /$pattern/"
  echo "display edge tests: $what: one line, status 1: $(cat "$WORK/$what.err")"
}
one_line_refusal refused 'not authorised to use the X display.*XAUTHORITY.*xhost' -u XAUTHORITY
one_line_refusal wayland 'WAYLAND_DISPLAY=wayland-bogus' -u DISPLAY -u XDG_RUNTIME_DIR \
  WAYLAND_DISPLAY=wayland-bogus

# The icon, then the window destroyed from outside.
start_game icon
icon=
for _ in $(seq 50); do
  icon=$(xprop -id "$WINDOW" _NET_WM_ICON 2>/dev/null || true)
  [[ $icon == *"Icon (64 x 64)"* ]] && break
  sleep 0.1
done
[[ $icon == *"Icon (64 x 64)"* ]] || fail "icon: no 64 x 64 icon on the window"
echo "display edge tests: the window carries the game's 64 x 64 icon: ok"
xdotool windowclose "$WINDOW"
wait_for_exit icon 3
[[ ! -s $WORK/icon.err ]] || fail "windowclose: the game printed $(head -c 400 "$WORK/icon.err")"
echo "display edge tests: the window destroyed from outside: status 0, nothing printed: ok"

# typed TEXT: xdotool types it on the current layout, a key at a time.
typed() {
  xdotool type --delay 300 "$1"
  sleep "$KEY_GAP"
}
for layout in fr de us; do
  setxkbmap "$layout"
  start_game "$layout"
  expect_screen title "$layout: the title screen did not show" is_title
  press space
  expect_screen game "$layout: no game started" is_game
  typed "...."
  expect_screen waited "$layout: four '.' typed did not pass four turns" differs_from_game
  typed i
  expect_screen inventory "$layout: 'i' typed did not open the inventory" is_inventory
  typed z
  expect_screen closed "$layout: 'z' typed did not close the inventory" is_game
  press Escape Escape
  wait_for_exit "$layout" 5
  echo "display edge tests: $layout layout: '.', 'i' and 'z' as typed: ok"
done
setxkbmap us
