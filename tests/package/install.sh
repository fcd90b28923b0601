#!/usr/bin/env bash
# Installing after building the game alone, as the README tells a player: `cmake --build
# --target vesperdeep` then `cmake --install` into a scratch prefix. What was not built
# (vesperdeep-term) is simply not installed; the game, its font sheet, the desktop entry, the
# icon, the metainfo, both manual pages, the copyright file and the changelog are.
#
#   tests/package/install.sh [PRESET]     (default: package; builds in build/PRESET)
set -euo pipefail

REPO_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
PRESET=${1:-package}
BUILD=$REPO_ROOT/build/$PRESET
PREFIX=$(mktemp -d)
trap 'rm -rf "$PREFIX"' EXIT

cd "$REPO_ROOT"
cmake --preset "$PRESET" >/dev/null
rm -f "$BUILD/bin/vesperdeep-term"  # left by an earlier full build: this one builds the game alone
cmake --build --preset "$PRESET" --target vesperdeep >/dev/null
cmake --install "$BUILD" --prefix "$PREFIX" >"$PREFIX.log" 2>&1 ||
  { cat "$PREFIX.log" >&2; rm -f "$PREFIX.log"; echo "FAILED: install after building the game alone" >&2; exit 1; }
rm -f "$PREFIX.log"

games=$(sed -n 's/^VESPERDEEP_INSTALL_GAMESDIR:[A-Z]*=//p' "$BUILD/CMakeCache.txt")
expected=("$games/vesperdeep" share/vesperdeep/Slate_curses_12x12.bmp
  share/applications/vesperdeep.desktop share/icons/hicolor/64x64/apps/vesperdeep.png
  share/metainfo/net.vesperdeep.vesperdeep.metainfo.xml share/man/man6/vesperdeep.6.gz
  share/man/man6/vesperdeep-term.6.gz share/doc/vesperdeep/copyright share/doc/vesperdeep/changelog.gz)
for file in "${expected[@]}"; do
  [[ -f $PREFIX/$file ]] || { echo "FAILED: install after building the game alone: no $file" >&2; exit 1; }
done
[[ ! -e $PREFIX/$games/vesperdeep-term ]] ||
  { echo "FAILED: install after building the game alone: vesperdeep-term installed, never built" >&2; exit 1; }
echo "install after building the game alone: ${#expected[@]} files in place, no vesperdeep-term: ok"
