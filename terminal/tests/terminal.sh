#!/usr/bin/env bash
# vesperdeep-term played in tmux, each session on a socket of its own:
#  - play: an 80 x 50 session plays the title screen, a new game on partition 0, moves (letters,
#    arrows, Shift, a digit, punctuation, Home), the inventory, Escape back, Escape to the
#    title and Escape to quit; every screen must equal, character for character and colour for
#    colour, what the headless play driver shows for the same keys on the same partition
#    (colours as the terminal's depth sends them: 256 colours, 24-bit where a tmux-direct
#    terminfo entry exists, and 8). Status 0, and the terminal as it was: the same stty
#    modes, cursor shown, the alternate screen and keypad mode left, default colours.
#  - the fade: the test probe with the story shortcut reads the note and fades out; the screen
#    must end on the driver's end screen.
#  - too small: a 60 x 30 session shows "Make the terminal at least 80 x 50" centred; a key
#    pressed then is not acted on, and not lost: it starts the game once the window is 80 x 50.
#    A hang-up (the session killed) ends the program with status 0 within a second.
#  - Ctrl+C on the title screen and SIGTERM in a game end it with status 0; SIGSEGV kills it
#    (status: the signal, or the sanitizer's report under ASan) and the terminal is restored.
#
#   terminal/tests/terminal.sh BIN_DIR      (BIN_DIR holds vesperdeep-term, -term-probe, -driver)
#
# Exit status: 0 passed, 1 failed, 77 skipped (no tmux; the line starting "SKIPPED:" says so).
set -euo pipefail

BIN=$(cd "$1" && pwd)
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
REPO_ROOT=$(cd "$HERE/../.." && pwd)
if ! command -v tmux >/dev/null 2>&1; then
  echo "SKIPPED: terminal tests: tmux not found (Debian package tmux; scripts/test installs it)"
  exit 77
fi
export LANG=C.UTF-8 LC_ALL=C.UTF-8
WORK=$(mktemp -d)
SOCKET=vesperdeep-test-$$
T=(tmux -L "$SOCKET" -f /dev/null)
cleanup() {
  "${T[@]}" kill-server >/dev/null 2>&1 || true
  rm -rf "$WORK"
}
trap cleanup EXIT
TIMEOUT=${VESPERDEEP_TERM_TIMEOUT:-30}  # the longest wait for one screen (sanitized builds are slow)
failures=0

fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
  return 1
}

# start NAME COLUMNS ROWS TERM PROGRAM [ARG...]: PROGRAM in a new detached session.
start() {
  local name=$1 columns=$2 rows=$3 term=$4
  shift 4
  mkdir -p "$WORK/$name"
  "${T[@]}" new-session -d -s "$name" -x "$columns" -y "$rows" \
    "env TERM=$term LANG=C.UTF-8 LC_ALL=C.UTF-8 python3 $HERE/pane.py run $WORK/$name $*"
  "${T[@]}" set-option -t "$name" status off >/dev/null
}

screen_of() {  # the pane's text, trailing blanks dropped
  "${T[@]}" capture-pane -p -N -t "$1" | sed 's/ *$//'
}

# wait_screen NAME FILE WHAT: until the pane shows FILE (trailing blanks dropped).
wait_screen() {
  local name=$1 file=$2 what=$3 deadline=$((SECONDS + TIMEOUT))
  local want
  want=$(sed 's/ *$//' "$file")
  while ((SECONDS < deadline)); do
    [[ $(screen_of "$name") == "$want" ]] && return 0
    sleep 0.02
  done
  diff <(echo "$want") <(screen_of "$name") | head -20 >&2 || true
  fail "$name: $what: the pane does not show the expected screen"
}

# wait_text NAME REGEX WHAT: until a line of the pane matches.
wait_text() {
  local name=$1 pattern=$2 what=$3 deadline=$((SECONDS + TIMEOUT))
  while ((SECONDS < deadline)); do
    screen_of "$name" | grep -Eq -- "$pattern" && return 0
    sleep 0.02
  done
  screen_of "$name" | head -50 >&2
  fail "$name: $what: no line matches /$pattern/"
}

wait_file() {  # wait_file FILE WHAT
  local deadline=$((SECONDS + TIMEOUT))
  while ((SECONDS < deadline)); do
    [[ -s $1 ]] && return 0
    sleep 0.01
  done
  fail "$2: $1 never appeared"
}

# restored NAME: the program has ended and left the terminal as it found it.
restored() {
  local name=$1 dir=$WORK/$1
  wait_file "$dir/stty.after" "$name" || return 1
  [[ $(cat "$dir/stty.before") == "$(cat "$dir/stty.after")" ]] ||
    fail "$name: the terminal modes (stty -g) differ after the game" || return 1
  local flags
  flags=$("${T[@]}" display-message -p -t "$name" \
    '#{cursor_flag} #{alternate_on} #{keypad_cursor_flag} #{keypad_flag}')
  [[ $flags == "1 0 0 0" ]] ||
    fail "$name: cursor shown, alternate screen, keypad modes: '$flags', not '1 0 0 0'" || return 1
  wait_text "$name" '^after-exit$' "the line printed after the game" || return 1
  "${T[@]}" capture-pane -e -p -t "$name" | grep -q $'^after-exit$' ||
    fail "$name: the line printed after the game is not in the default colours" || return 1
}

status_is() {  # status_is NAME "exit 0"
  wait_file "$WORK/$1/status" "$1" || return 1
  local status
  status=$(cut -d' ' -f1-2 "$WORK/$1/status")
  [[ $status == "$2" ]] || fail "$1: status '$status', not '$2'"
}

# The driver's screen and colours after SCRIPT on partition 0: $WORK/expected/N.{screen,colours}
expected_count=0
expect() {  # expect SCRIPT [DRIVER OPTION...]: sets $expected to the file stem
  local script=$1
  shift
  expected_count=$((expected_count + 1))
  expected=$WORK/expected/$expected_count
  mkdir -p "$WORK/expected"
  printf '%s\n' "$script" >"$expected.keys"
  (cd "$BIN" && ./vesperdeep-driver --script "$expected.keys" --partition 0 --watchdog 0 "$@" \
    --screen "$expected.screen" --colours "$expected.colours" >/dev/null)
}

# tmux_keys TOKEN: the send-keys arguments for a key script token (<Enter>, <Esc>, <Left>, x).
tmux_keys() {
  case $1 in
    "<Enter>") echo Enter ;;
    "<Esc>") echo Escape ;;
    "<Left>" | "<Right>" | "<Up>" | "<Down>" | "<Home>") echo "${1:1:-1}" ;;
    *) echo "-l $1" ;;
  esac
}
key() {  # key NAME TOKEN: presses it
  # shellcheck disable=SC2046
  "${T[@]}" send-keys -t "$1" $(tmux_keys "$2")
}

# play NAME TERM DEPTH: the whole walk through the game, each screen and its colours against
# the driver's after the same keys (pane.py waits for each).
KEYS=("<Enter>" l j "<Left>" "<Up>" H 5 . "<Home>" i "<Esc>" k)
play() {
  local name=$1 term=$2 depth=$3 script="" steps=()
  start "$name" 80 50 "$term" "$BIN/vesperdeep-term" --partition 0
  wait_text "$name" '^ +Press any key to start a new game\.$' "title screen" || return 1
  for token in "${KEYS[@]}"; do
    script+=$token
    expect "$script"
    steps+=("$(tmux_keys "$token")" "$expected")
  done
  python3 "$HERE/pane.py" play "$SOCKET" "$name" "$depth" "$TIMEOUT" "${steps[@]}" ||
    fail "$name: the screens ($depth colours)" || return 1
  key "$name" "<Esc>"  # back to the title screen
  wait_text "$name" '^ +Press any key to start a new game\.$' "title screen again" || return 1
  key "$name" "<Esc>"  # quit
  status_is "$name" "exit 0" && restored "$name" &&
    echo "terminal play ($term, $depth colours): ${#KEYS[@]} keys, every screen as the driver's: ok"
}

play play-256 tmux-256color 256 || true
if infocmp tmux-direct >/dev/null 2>&1; then
  play play-direct tmux-direct direct || true
else
  echo "note: no tmux-direct terminfo entry (Debian package ncurses-term): 24-bit colour not tried"
fi
play play-8 screen 8 || true

# in_a_game NAME: an 80 x 50 session NAME with a game on cave 0 begun from the title screen.
in_a_game() {
  start "$1" 80 50 tmux-256color "$BIN/vesperdeep-term" --partition 0
  wait_text "$1" 'Press any key' "title screen" || return 1
  key "$1" "<Enter>"
  wait_text "$1" '20/20' "a game"
}

# ---- The keypad and Escape bursts ----------------------------------------------------------------
# bursts NAME TERM DEPTH: (DEPTH "text": the characters only) keypad keys as the raw SS3 sequences of an application keypad (known
# to TERM's terminfo entry or not) and as tmux's own keypad keys do nothing on the map, as in the
# window; Escape arriving in one write with the next key is Escape, then that key: it closes the
# inventory and the key moves; on the map it returns to the title and the space starts a game.
BURSTS=("<Enter>" Enter "<KP7><KP9><KP5>" "-H 1b 4f 77 1b 4f 79 1b 4f 75" "<KP1>" KP1
  "<KP0><KP8>" "-H 1b 4f 70 1b 4f 78" i "-l i" "<Esc>l" "-H 1b 6c" "<Esc> " "-H 1b 20")
bursts() {
  local name=$1 term=$2 depth=$3 script="" steps=() i
  start "$name" 80 50 "$term" "$BIN/vesperdeep-term" --partition 0
  wait_text "$name" '^ +Press any key to start a new game\.$' "title screen" || return 1
  for ((i = 0; i < ${#BURSTS[@]}; i += 2)); do
    script+=${BURSTS[i]}
    expect "$script"
    steps+=("${BURSTS[i + 1]}" "$expected")
  done
  if [[ $depth == text ]]; then  # the characters alone (capture-pane misreads xterm's colours)
    for ((i = 0; i < ${#steps[@]}; i += 2)); do
      # shellcheck disable=SC2086
      "${T[@]}" send-keys -t "$name" ${steps[i]}
      wait_screen "$name" "${steps[i + 1]}.screen" "after '${steps[i]}' ($term)" || return 1
    done
  else
    python3 "$HERE/pane.py" play "$SOCKET" "$name" "$depth" "$TIMEOUT" "${steps[@]}" ||
      fail "$name: the keypad and Escape bursts ($term)" || return 1
  fi
  "${T[@]}" send-keys -t "$name" -H 1b 1b  # Escape Escape in one write: the title, then quit
  status_is "$name" "exit 0" && restored "$name" &&
    echo "terminal keypad and Escape bursts ($term): every screen as the driver's: ok"
}
bursts bursts-tmux tmux-256color 256 || true
bursts bursts-screen screen 8 || true
bursts bursts-xterm xterm-256color text || true

# ---- Terminals that cannot play, and a size guard that is not fooled ------------------------------
# refused NAME TERM: one line, status 1, the terminal as it was.
refused() {
  start "$1" 80 50 "$2" "$BIN/vesperdeep-term"
  status_is "$1" "exit 1" && restored "$1" || return 1
  local lines
  lines=$("${T[@]}" capture-pane -p -J -t "$1" | grep -c .)
  ((lines == 2)) || fail "$1: $((lines - 1)) lines before the prompt, not one" || return 1
  echo "terminal TERM=$2: refused with one line and status 1: $("${T[@]}" capture-pane -p -J -t "$1" | head -n 1)"
}
refused dumb dumb || true
refused unknown no-such-terminal || true
fooled() {
  start fooled 60 30 "tmux-256color LINES=50 COLUMNS=80" "$BIN/vesperdeep-term"
  wait_text fooled "^ +Make the terminal at least 80 x 50\$" "the resize message" || return 1
  "${T[@]}" kill-session -t fooled
  status_is fooled "exit 0" || return 1
  echo "terminal LINES=50 COLUMNS=80 in a 60 x 30 pane: the real size wins: ok"
}
fooled || true

# ---- A paste ----------------------------------------------------------------------------------------
# Every key is played, none dropped: PASTE_KEYS - 1 keys that do nothing (far more than the 256
# the terminal once kept), then 'i', must open the inventory. Prints how long the game took from
# the paste to the last frame (sanitized builds are many times slower: the wait is longer).
PASTE_KEYS=${VESPERDEEP_PASTE_KEYS:-5000}
paste() {
  local name=paste
  in_a_game "$name" || return 1
  printf 'x%.0s' $(seq $((PASTE_KEYS - 1))) >"$WORK/paste.txt"
  printf 'i' >>"$WORK/paste.txt"
  expect "<Enter>i"
  "${T[@]}" load-buffer -b paste "$WORK/paste.txt"
  local before=$EPOCHREALTIME
  "${T[@]}" paste-buffer -b paste -t "$name"
  TIMEOUT=$((TIMEOUT * 4)) wait_screen "$name" "$expected.screen" "the inventory after the paste" ||
    return 1
  python3 -c "print(f'terminal paste of $PASTE_KEYS keys: all played, the last frame after {($EPOCHREALTIME - $before) * 1000:.0f} ms: ok')"
  "${T[@]}" send-keys -t "$name" Escape Escape Escape
  status_is "$name" "exit 0"
}
paste || true

# ---- The fade ends on the end screen ----------------------------------------------------------
fade() {
  local name=fade
  local script="<Enter>...................................ib<Esc>"
  start "$name" 80 50 tmux-256color "$BIN/vesperdeep-term-probe" --partition 0 --kills 31
  wait_text "$name" 'Press any key' "title screen" || return 1
  key "$name" "<Enter>"
  for ((i = 0; i < 35; ++i)); do key "$name" .; done
  key "$name" i
  key "$name" b
  expect "<Enter>...................................ib" --kills 31
  wait_screen "$name" "$expected.screen" "the note" || return 1
  expect "$script" --kills 31
  python3 "$HERE/pane.py" play "$SOCKET" "$name" 256 "$TIMEOUT" Escape "$expected" ||
    fail "fade: the end screen after the fade" || return 1
  key "$name" "<Esc>"
  wait_text "$name" 'Press any key' "title screen after the end" || return 1
  key "$name" "<Esc>"
  status_is "$name" "exit 0" && restored "$name" && echo "terminal fade: ends on the end screen: ok"
}
fade || true

# ---- Too small, resized, hung up ----------------------------------------------------------------
small() {
  local name=small
  start "$name" 60 30 tmux-256color "$BIN/vesperdeep-term" --partition 0
  local line
  line=$(printf '%*s%s' 13 '' "Make the terminal at least 80 x 50")
  wait_text "$name" "^$line\$" "the resize message" || return 1
  [[ $(screen_of "$name" | sed -n 16p) == "$line" ]] || fail "small: the message is not on row 15" || return 1
  [[ $(screen_of "$name" | grep -c .) == 1 ]] || fail "small: more than the message on the screen" || return 1
  key "$name" "<Enter>"
  sleep 0.3  # time for a key that would wrongly act
  [[ $(screen_of "$name" | grep -c .) == 1 ]] || fail "small: a key acted while the message was up" || return 1
  "${T[@]}" resize-window -t "$name" -x 80 -y 50
  expect "<Enter>"
  wait_screen "$name" "$expected.screen" "the first frame, once resized to 80 x 50" || return 1
  local before=$EPOCHREALTIME
  "${T[@]}" kill-session -t "$name"
  wait_file "$WORK/$name/status" "small: hang-up" || return 1
  status_is "$name" "exit 0" || return 1
  local ended
  ended=$(cut -d' ' -f3 "$WORK/$name/status")
  python3 -c "import sys; d = $ended - $before; print(f'terminal hang-up: status 0 after {d * 1000:.0f} ms'); sys.exit(d >= 1)" ||
    fail "small: the hang-up took a second or more"
}
small || true

# ---- Signals ------------------------------------------------------------------------------------
signals() {
  start sigint 80 50 tmux-256color "$BIN/vesperdeep-term"
  wait_text sigint 'Press any key' "title screen" || return 1
  "${T[@]}" send-keys -t sigint C-c
  status_is sigint "exit 0" && restored sigint && echo "terminal Ctrl+C: status 0, terminal restored: ok"

  in_a_game sigterm || return 1
  kill -TERM "$(cat "$WORK/sigterm/pid")"
  status_is sigterm "exit 0" && restored sigterm && echo "terminal SIGTERM: status 0, terminal restored: ok"

  in_a_game crash || return 1
  kill -SEGV "$(cat "$WORK/crash/pid")"
  wait_file "$WORK/crash/status" crash || return 1
  local status
  status=$(cut -d' ' -f1-2 "$WORK/crash/status")
  # Under AddressSanitizer its own handler reports the signal and exits with status 1.
  [[ $status == "signal 11" || $status == "exit 1" ]] || fail "crash: status '$status'" || return 1
  restored crash && echo "terminal SIGSEGV: $status, terminal restored: ok"
}
signals || true

# ---- --record FILE ---------------------------------------------------------------------------------
# recorded NAME PARTITION: the game of session NAME recorded in $WORK/NAME.vdrec, ended by a
# hang-up, replays in the driver to SCREEN_FILE (what the pane showed last) and says hang-up.
replayed() {
  local name=$1 shown=$2 file=$WORK/$1.vdrec out
  "${T[@]}" kill-session -t "$name"
  wait_file "$WORK/$name/status" "$name: hang-up" || return 1
  [[ -s $file && ! -e $file.part ]] || fail "$name: no recording at $file" || return 1
  out=$(cd "$BIN" && ./vesperdeep-driver --recording "$file" --watchdog 0 \
    --screen "$WORK/$name.replayed" 2>&1) || fail "$name: the recording does not replay: $out" ||
    return 1
  grep -q "the recording says hang-up" <<<"$out" || fail "$name: no hang-up in: $out" || return 1
  [[ $(sed 's/ *$//' "$shown") == "$(sed 's/ *$//' "$WORK/$name.replayed")" ]] ||
    fail "$name: the replay ends on another screen than the terminal's" || return 1
  echo "terminal --record ($name): $(wc -c <"$file") bytes, replays to the terminal's screen: ok"
}
record() {
  local script="" steps=()
  start rec-fixed 80 50 tmux-256color "$BIN/vesperdeep-term" --partition 0 --record "$WORK/rec-fixed.vdrec"
  wait_text rec-fixed 'Press any key' "title screen" || return 1
  for token in "${KEYS[@]}"; do
    script+=$token
    expect "$script"
    steps+=("$(tmux_keys "$token")" "$expected")
  done
  python3 "$HERE/pane.py" play "$SOCKET" rec-fixed 256 "$TIMEOUT" "${steps[@]}" ||
    fail "rec-fixed: the screens" || return 1
  replayed rec-fixed "$expected.screen" || return 1
  # No partition given: the recording holds the one drawn for the game.
  start rec-drawn 80 50 tmux-256color "$BIN/vesperdeep-term" --record "$WORK/rec-drawn.vdrec"
  wait_text rec-drawn 'Press any key' "title screen" || return 1
  key rec-drawn "<Enter>"
  wait_text rec-drawn '20/20' "a game" || return 1
  screen_of rec-drawn >"$WORK/rec-drawn.shown"
  replayed rec-drawn "$WORK/rec-drawn.shown"
}
record || true

if ((failures > 0)); then
  echo "terminal tests: $failures failed" >&2
  exit 1
fi
echo "terminal tests: all passed"
