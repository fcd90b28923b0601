# Debian packages Vesperdeep needs. Sourced by scripts/play and scripts/test; these lists are
# the one place to add a package.
#
# VESPERDEEP_PLAY_PACKAGES: what building and running the game needs (scripts/play), the
# terminal front end included (libncurses-dev), and vesperdeep-server (libboost1.81-dev: Beast
# and Asio; Debian's default libboost-dev is older).
# VESPERDEEP_PACKAGES: everything the tests need as well (scripts/test); tmux runs the
# terminal tests, ncurses-term gives them the 24-bit colour terminfo entry tmux-direct;
# chromium, chromium-driver and python3-selenium run the browser tests;
# x11-utils (xprop) and x11-xkb-utils (setxkbmap) serve the display edge tests; nginx and
# openssl put two servers behind the example site over https (server/tests/nginx_test.py).
# ensure_packages [package...]: installs the missing ones (default: VESPERDEEP_PACKAGES) with
# apt-get when run as root; otherwise names them and fails.

VESPERDEEP_PLAY_PACKAGES=(
  cmake
  g++
  make
  pkg-config
  libtcod-dev
  libsdl2-dev
  libxcb1-dev
  libx11-dev
  libncurses-dev
  libboost1.81-dev
)

VESPERDEEP_PACKAGES=(
  "${VESPERDEEP_PLAY_PACKAGES[@]}"
  libgtest-dev
  libbenchmark-dev
  xvfb
  xauth
  xdotool
  x11-utils
  x11-xkb-utils
  imagemagick
  python3
  time
  faketime
  valgrind
  clang
  clang-format
  dpkg-dev
  file
  lintian
  systemd
  appstream
  tmux
  ncurses-term
  chromium
  chromium-driver
  python3-selenium
  nginx
  openssl
)

missing_packages() {
  local package
  for package in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
      printf '%s\n' "$package"
    fi
  done
}

ensure_packages() {
  local missing
  (($# > 0)) || set -- "${VESPERDEEP_PACKAGES[@]}"
  mapfile -t missing < <(missing_packages "$@")
  if ((${#missing[@]} == 0)); then
    return 0
  fi
  if [[ $(id -u) -ne 0 ]]; then
    echo "Vesperdeep needs these Debian packages, which are not installed. Installing them" >&2
    echo "needs root: as root (for example after 'su -'), run" >&2
    echo "  apt-get update && apt-get install ${missing[*]}" >&2
    return 1
  fi
  echo "==> Installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
}
