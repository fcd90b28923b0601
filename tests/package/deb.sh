#!/usr/bin/env bash
# The Debian package: builds it (package preset: the game alone with dpkg-buildflags), checks
# it with lintian and its AppStream metainfo with appstreamcli (any error or warning fails),
# checks that it holds both programs and their manual pages, installs it on this machine, starts
# /usr/games/vesperdeep from / under Xvfb, checks the title screen, quits with Escape (status 0),
# does the same with /usr/games/vesperdeep-term in tmux, and removes the package again.
#
#   tests/package/deb.sh
#
# Exit status: 0 passed, 1 failed, 77 skipped (tools missing, or not root for the install;
# a line starting with "SKIPPED:" says why).
set -euo pipefail

REPO_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
HERE=$REPO_ROOT/tests/smoke
TEST_NAME="package test"

if [[ -z ${VESPERDEEP_SMOKE_DISPLAY:-} ]]; then
  missing=()
  for tool in cpack dpkg-deb dpkg-shlibdeps file lintian appstreamcli xvfb-run Xvfb xauth xdotool \
    import convert tmux; do
    command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
  done
  if ((${#missing[@]} > 0)); then
    echo "SKIPPED: $TEST_NAME: ${missing[*]} not found (Debian packages: dpkg-dev file lintian" \
      "appstream xvfb xauth xdotool imagemagick tmux; scripts/test installs them as root)"
    exit 77
  fi

  echo "==> Building the Debian package (build/package)"
  cd "$REPO_ROOT"
  cmake --preset package >/dev/null
  cmake --build --preset package
  rm -f build/package/vesperdeep_*.deb
  (cd build/package && cpack -G DEB >/dev/null)
  DEB=$(ls build/package/vesperdeep_*.deb)

  echo "==> lintian $DEB"
  lintian --fail-on error,warning --info "$DEB" || { echo "FAILED: $TEST_NAME: lintian" >&2; exit 1; }
  echo "==> appstreamcli validate"
  out=$(appstreamcli validate --no-net --pedantic packaging/vesperdeep.metainfo.xml 2>&1) ||
    { echo "$out"; echo "FAILED: $TEST_NAME: appstreamcli validate" >&2; exit 1; }
  if grep -q '^[EW]:' <<<"$out"; then echo "$out"; echo "FAILED: $TEST_NAME: appstreamcli" >&2; exit 1; fi
  echo "$out"

  echo "==> Contents"
  contents=$(dpkg-deb -c "$DEB")
  for file in ./usr/games/vesperdeep ./usr/games/vesperdeep-term \
    ./usr/share/man/man6/vesperdeep.6.gz ./usr/share/man/man6/vesperdeep-term.6.gz \
    ./usr/share/vesperdeep/Slate_curses_12x12.bmp; do
    grep -q " $file\$" <<<"$contents" || { echo "FAILED: $TEST_NAME: $file not in the package" >&2; exit 1; }
  done
  depends=$(dpkg-deb -f "$DEB" Depends)
  grep -q libncursesw6 <<<"$depends" ||
    { echo "FAILED: $TEST_NAME: Depends ($depends) lacks libncursesw6" >&2; exit 1; }

  if [[ $(id -u) -ne 0 ]]; then
    echo "SKIPPED: $TEST_NAME: installing the package needs root (lintian and appstreamcli passed)"
    exit 77
  fi
  if dpkg-query -W -f='${Status}' vesperdeep 2>/dev/null | grep -q 'install ok installed'; then
    echo "SKIPPED: $TEST_NAME: vesperdeep is already installed here; not replacing it" \
      "(lintian and appstreamcli passed)"
    exit 77
  fi
  echo "==> Installing $DEB, starting /usr/games/vesperdeep from /"
  dpkg -i "$DEB" >/dev/null
  status=0
  VESPERDEEP_SMOKE_DISPLAY=1 xvfb-run --auto-servernum \
    --server-args="-screen 0 1024x768x24 -nolisten tcp" "$0" || status=$?
  if ((status == 0)); then
    echo "==> Starting /usr/games/vesperdeep-term from / in tmux"
    bash "$REPO_ROOT/tests/package/term.sh" /usr/games/vesperdeep-term || status=$?
  fi
  dpkg -r vesperdeep >/dev/null
  exit "$status"
fi

# ---- Inside the virtual display ----------------------------------------------------------------
GAME=/usr/games/vesperdeep
START_DIR=/
source "$HERE/window.sh"
start_game installed
expect_screen title "the installed game did not show its title screen" is_title
press Escape
wait_for_exit installed 5
echo "package test: installed game started from / showed the title and quit on Escape: ok"
