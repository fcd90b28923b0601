# Shared build step for the scripts. Sourced; expects REPO_ROOT. Every build directory is
# defined once, by its preset in CMakePresets.json: preset NAME builds in build/NAME.

JOBS=${JOBS:-2}

# build_preset <preset> [target...]: configures and builds the preset's build directory (all
# targets when none are named).
build_preset() {
  local preset=$1
  shift
  local targets=()
  (($# > 0)) && targets=(--target "$@")
  echo "==> Configuring and building the $preset preset${*:+ ($*)}"
  (cd "$REPO_ROOT" && cmake --preset "$preset" >/dev/null &&
    cmake --build --preset "$preset" --parallel "$JOBS" "${targets[@]}")
}
