# Sanitized build of the play driver and random-key runs across many games. Sourced by
# scripts/soak and scripts/test; expects REPO_ROOT and scripts/lib/build.sh.

JOBS=${JOBS:-2}

# build_sanitized_driver: the play driver of the fuzz preset (AddressSanitizer +
# UndefinedBehaviorSanitizer, optimised for speed, with the standard library's own checks);
# sets DRIVER_BIN.
build_sanitized_driver() {
  build_preset fuzz vesperdeep-driver
  DRIVER_BIN="$REPO_ROOT/build/fuzz/bin"
}

# run_fuzz <keys> <games> <keys per process> <first seed> <parallel processes>
# Runs ceil(keys / chunk) driver processes with consecutive seeds, each playing `chunk` random
# keys over at least ceil(games * chunk / keys) games, and prints the totals. Every fourth run
# starts its games with 31 kills counted, so that the note, the fade and the end screen come
# within reach of random keys. Returns non-zero when any process failed.
run_fuzz() {
  local keys=$1 games=$2 chunk=$3 seed=$4 parallel=$5
  ((chunk > keys)) && chunk=$keys
  local runs=$(((keys + chunk - 1) / chunk))
  local games_per_run=$(((games + runs - 1) / runs))
  local logs
  logs=$(mktemp -d)
  echo "==> Fuzzing: $runs driver runs of $chunk keys (>= $games_per_run games each), seeds $seed.. (logs in $logs)"
  local start=$SECONDS
  export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:halt_on_error=1}
  export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
  local i
  for ((i = 0; i < runs; i++)); do
    local s=$((seed + i))
    local story=()
    ((s % 4 == 0)) && story=(--kills 31)
    (
      cd "$DRIVER_BIN"
      set +e
      ./vesperdeep-driver --fuzz "$s" --keys "$chunk" --games "$games_per_run" --no-flush "${story[@]}" \
        >"$logs/$s.out" 2>"$logs/$s.err"
      echo $? >"$logs/$s.rc"
    ) &
    while (($(jobs -rp | wc -l) >= parallel)); do wait -n || true; done
  done
  wait
  summarise_fuzz "$logs" $((SECONDS - start))
}

# summarise_fuzz <log dir> <seconds>: totals over every run's output; non-zero on any failure.
summarise_fuzz() {
  local logs=$1 seconds=$2
  local fed=0 random=0 games=0 turns=0 reports=0 invariants=0 hangs=0 others=0
  local f s rc line
  for f in "$logs"/*.rc; do
    s=$(basename "$f" .rc)
    rc=$(cat "$f")
    line=$(grep -E '^vesperdeep-driver: [0-9]+ keys' "$logs/$s.out" || true)
    if [[ $line =~ ([0-9]+)\ keys\ \(([0-9]+)\ random\),\ ([0-9]+)\ games,\ ([0-9]+)\ turns ]]; then
      fed=$((fed + BASH_REMATCH[1])); random=$((random + BASH_REMATCH[2]))
      games=$((games + BASH_REMATCH[3])); turns=$((turns + BASH_REMATCH[4]))
    fi
    if grep -qE 'ERROR: (Address|Leak)Sanitizer|runtime error:|SUMMARY: (Address|Undefined|Leak)' "$logs/$s.err"; then
      reports=$((reports + 1)); echo "!! seed $s: sanitizer report (exit $rc):"; head -30 "$logs/$s.err"
    elif ((rc == 2)); then
      invariants=$((invariants + 1)); echo "!! seed $s: broken invariant:"; head -30 "$logs/$s.err"
    elif ((rc == 3)); then
      hangs=$((hangs + 1)); echo "!! seed $s: hang:"; cat "$logs/$s.err"
    elif ((rc != 0)); then
      others=$((others + 1)); echo "!! seed $s: exit $rc:"; head -30 "$logs/$s.err"
    fi
  done
  echo "==> Fuzz totals: $random random keys ($fed fed), $games games, $turns turns in ${seconds}s;" \
    "sanitizer reports $reports, invariant failures $invariants, hangs $hangs, other failures $others"
  cat "$logs"/*.out | grep 'keys read per screen' | sed 's/[^0-9 ]//g' | awk '
    { for (i = 1; i <= NF; i++) sum[i] += $i }
    END { printf "==> Keys read on each screen: normal %d, inventory %d, drop %d, note %d, end screen %d, after death %d; deaths %d, notes found %d\n", sum[1], sum[2], sum[3], sum[4], sum[5], sum[6], sum[7], sum[8] }' || true
  ((reports + invariants + hangs + others == 0))
}
