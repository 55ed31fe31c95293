#!/usr/bin/env bash
# Builds the `fuzz` preset (clang, libFuzzer, AddressSanitizer + UndefinedBehaviorSanitizer) and
# runs each fuzz target for FUZZ_SECONDS (default 60) over a scratch copy of its seed corpus
# fuzz/corpus/<target>/, so that a run never grows the repository's corpus.
#
#   bash scripts/run-fuzzers.sh                       every target
#   FUZZ_SECONDS=10 bash scripts/run-fuzzers.sh reply_fuzzer
#
# FUZZ_JOBS targets run at once (default: one per core).
#
# A crash, a leak, a time-out or running out of memory fails the script. The input that caused it
# is copied to fuzz/crashes/<target>-<libFuzzer's name for it>; replay it with
#   build/fuzz/fuzz/<target> fuzz/crashes/<file>
# and once the fault is fixed, move it into fuzz/corpus/<target>/ so that every later run
# replays it. Each target's whole output is kept in build/fuzz/<target>.log.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

seconds=${FUZZ_SECONDS:-60}
jobs=${FUZZ_JOBS:-$(nproc)}
max_len=4096  # 63 input reports, or an image of a few kilobytes

# Every target has its corpus folder; only the targets are built, not the rest of the preset.
targets=("$@")
if [[ ${#targets[@]} -eq 0 ]]; then
  for corpus in fuzz/corpus/*/; do
    targets+=("$(basename "$corpus")")
  done
fi
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target "${targets[@]}"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# Runs one target; its report goes to $scratch/<target>/report, its exit status to .../status.
run_target() {
  local target=$1
  local binary="build/fuzz/fuzz/$target" work="$scratch/$target" log="build/fuzz/$target.log"
  mkdir -p "$work/corpus" "$work/artifacts"
  exec >"$work/report" 2>&1
  if [[ ! -x "$binary" || ! -d "fuzz/corpus/$target" ]]; then
    echo "$target: FAILED (no target with a corpus in fuzz/corpus/$target/)"
    echo 1 >"$work/status"
    return
  fi
  cp "fuzz/corpus/$target/"* "$work/corpus/"
  echo "==> $target: $seconds s over $(ls "fuzz/corpus/$target" | wc -l) seed inputs"
  local status=0
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$binary" -max_total_time="$seconds" -max_len="$max_len" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$work/artifacts/" "$work/corpus" >"$log" 2>&1 ||
    status=$?

  # libFuzzer's last status line and its final statistics: coverage, inputs run, speed.
  grep -E '^#[0-9]+' "$log" | tail -n 1 || true
  grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' "$log" || true
  if [[ $status -ne 0 ]]; then
    grep -E 'ERROR|SUMMARY|runtime error|==[0-9]+==' "$log" | head -n 20 || true
    mkdir -p fuzz/crashes
    local artifact
    for artifact in "$work/artifacts/"*; do
      [[ -e "$artifact" ]] || continue
      cp "$artifact" "fuzz/crashes/$target-$(basename "$artifact")"
      echo "$target: the failing input is fuzz/crashes/$target-$(basename "$artifact")"
    done
    echo "$target: FAILED (exit status $status; whole output in $log)"
  else
    echo "$target: passed"
  fi
  echo "$status" >"$work/status"
}

# Each target is single-threaded: run as many at once as there are cores.
running=0
for target in "${targets[@]}"; do
  if [[ $running -ge $jobs ]]; then
    wait -n || true
    running=$((running - 1))
  fi
  run_target "$target" &
  running=$((running + 1))
done
wait

failed=()
for target in "${targets[@]}"; do
  echo
  cat "$scratch/$target/report"
  [[ "$(cat "$scratch/$target/status" 2>/dev/null)" == "0" ]] || failed+=("$target")
done

if [[ ${#failed[@]} -gt 0 ]]; then
  echo "run-fuzzers: failed: ${failed[*]}" >&2
  exit 1
fi
