# Shared build steps for scripts/play and scripts/test. Sourced; expects REPO_ROOT.

JOBS=${JOBS:-2}

# configure_and_build <build dir> [extra cmake arguments...]
configure_and_build() {
  local dir=$1
  shift
  echo "==> Configuring $dir"
  cmake -S "$REPO_ROOT" -B "$REPO_ROOT/$dir" "$@"
  echo "==> Building $dir"
  cmake --build "$REPO_ROOT/$dir" --parallel "$JOBS"
}
