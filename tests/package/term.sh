#!/usr/bin/env bash
# An installed vesperdeep-term, started from / in a detached 80 x 50 tmux session on a socket of
# its own: it must show the title screen and end with status 0 on Escape.
#
#   tests/package/term.sh /usr/games/vesperdeep-term
set -euo pipefail
GAME=$1
SOCKET=vesperdeep-package-$$
T=(tmux -L "$SOCKET" -f /dev/null)
STATUS=$(mktemp)
trap '"${T[@]}" kill-server >/dev/null 2>&1 || true; rm -f "$STATUS"' EXIT
"${T[@]}" new-session -d -x 80 -y 50 -c / \
  "env TERM=tmux-256color LANG=C.UTF-8 $GAME; echo \$? >$STATUS.done; mv $STATUS.done $STATUS; sleep 60"
for ((i = 0; i < 500; ++i)); do
  "${T[@]}" capture-pane -p | grep -q 'Press any key to start a new game.' && break
  sleep 0.02
done
"${T[@]}" capture-pane -p | grep -q 'Press any key to start a new game.' ||
  { "${T[@]}" capture-pane -p >&2; echo "FAILED: package test: vesperdeep-term showed no title" >&2; exit 1; }
"${T[@]}" send-keys Escape
for ((i = 0; i < 250; ++i)); do
  [[ -s $STATUS ]] && break
  sleep 0.02
done
[[ $(cat "$STATUS") == 0 ]] ||
  { echo "FAILED: package test: vesperdeep-term ended with status '$(cat "$STATUS")'" >&2; exit 1; }
echo "package test: installed vesperdeep-term started from / showed the title and quit on Escape: ok"
