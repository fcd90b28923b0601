# Debian packages Vesperdeep needs to build, test and play. Sourced by scripts/play and
# scripts/test; this list is the one place to add a package.
#
# ensure_packages: installs the missing ones with apt-get when run as root; otherwise names
# them and fails.

VESPERDEEP_PACKAGES=(
  cmake
  g++
  make
  pkg-config
  libtcod-dev
  libsdl2-dev
  libgtest-dev
  libbenchmark-dev
  xvfb
  xauth
  xdotool
  imagemagick
  python3
  time
  valgrind
  clang
  clang-format
)

missing_packages() {
  local package
  for package in "${VESPERDEEP_PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
      printf '%s\n' "$package"
    fi
  done
}

ensure_packages() {
  local missing
  mapfile -t missing < <(missing_packages)
  if ((${#missing[@]} == 0)); then
    return 0
  fi
  if [[ $(id -u) -ne 0 ]]; then
    echo "Vesperdeep needs these Debian packages, which are not installed:" >&2
    echo "  sudo apt-get install ${missing[*]}" >&2
    return 1
  fi
  echo "==> Installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
}
