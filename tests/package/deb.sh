#!/usr/bin/env bash
# The Debian packages: builds them (package preset: the game and the server with
# dpkg-buildflags), checks both with lintian and the game's AppStream metainfo with appstreamcli
# (any error or warning fails), checks that the game's holds both programs and their manual
# pages and the server's its programs, unit and example site, installs the game's on this
# machine, starts /usr/games/vesperdeep from / under Xvfb, checks the title screen, quits with
# Escape (status 0), does the same with /usr/games/vesperdeep-term in tmux, and removes the
# package again; then tests/package/server.sh installs, runs and purges the server's.
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
  rm -f build/package/vesperdeep_*.deb build/package/vesperdeep-server_*.deb
  (cd build/package && cpack -G DEB >/dev/null)
  DEB=$(ls build/package/vesperdeep_*.deb)
  SERVER_DEB=$(ls build/package/vesperdeep-server_*.deb)

  for package in "$DEB" "$SERVER_DEB"; do
    echo "==> lintian $package"
    lintian --fail-on error,warning --info "$package" ||
      { echo "FAILED: $TEST_NAME: lintian $package" >&2; exit 1; }
  done
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
  contents=$(dpkg-deb -c "$SERVER_DEB")
  for file in ./usr/sbin/vesperdeep-server ./usr/lib/vesperdeep-server/vesperdeep-pipe \
    ./usr/lib/vesperdeep-server/Slate_curses_12x12.bmp ./usr/share/man/man8/vesperdeep-server.8.gz \
    ./usr/lib/systemd/system/vesperdeep-server.service \
    ./usr/share/doc/vesperdeep-server/examples/vesperdeep-server.conf; do
    grep -q " $file\$" <<<"$contents" || { echo "FAILED: $TEST_NAME: $file not in $SERVER_DEB" >&2; exit 1; }
  done
  if grep -q '/usr/games/vesperdeep-server\|/usr/games/vesperdeep-pipe' <<<"$(dpkg-deb -c "$DEB")"; then
    echo "FAILED: $TEST_NAME: the server's programs are in the game's package" >&2
    exit 1
  fi
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
  ((status == 0)) || exit "$status"
  bash "$REPO_ROOT/tests/package/server.sh" "$SERVER_DEB"
  exit $?
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
