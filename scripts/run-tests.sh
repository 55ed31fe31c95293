#!/usr/bin/env bash
# Installs the dependencies, builds with warnings as errors (`ci` preset) and runs the whole test
# suite. With --all, or when CI=true, it then builds and runs the suite again under
# AddressSanitizer with UndefinedBehaviorSanitizer (`asan`) and under ThreadSanitizer (`tsan`).
#
#   bash scripts/run-tests.sh          ci preset only
#   bash scripts/run-tests.sh --all    ci, asan and tsan presets
#
# Every preset runs even when an earlier one failed, so that one run shows all the failures; the
# exit status is non-zero if any stage failed. ctest's output of each run is also kept in
# build/<preset>/ctest-output.log.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

usage() {
  echo "usage: bash scripts/run-tests.sh [--all]"
  echo "  --all   also build and test the asan and tsan presets (the default when CI=true)"
}

with_sanitizers=false
[[ "${CI:-}" == "true" ]] && with_sanitizers=true
for arg in "$@"; do
  case "$arg" in
    --all) with_sanitizers=true ;;
    -h | --help) usage; exit 0 ;;
    *) usage >&2; exit 2 ;;
  esac
done

presets=(ci)
if $with_sanitizers; then
  presets+=(asan tsan)
fi

banner() {
  printf '\n==> %s\n' "$*"
}

banner "Stages: install dependencies, then preset(s) ${presets[*]}"
bash scripts/install-deps.sh

# Clang 14's ThreadSanitizer cannot map its shadow memory when the kernel randomises mmap with
# more bits than it expects (newer desktop kernels); running without address randomisation avoids
# that. Used only where the personality change is allowed.
tsan_runner=()
if command -v setarch >/dev/null 2>&1 && setarch "$(uname -m)" -R true 2>/dev/null; then
  tsan_runner=(setarch "$(uname -m)" -R)
fi

results=()
total_passed=0
total_failed=0
total_skipped=0
all_counted=true
any_failed=false

for preset in "${presets[@]}"; do
  started=$SECONDS
  banner "[$preset] configure"
  if ! cmake --preset "$preset"; then
    results+=("$preset: FAILED to configure")
    any_failed=true all_counted=false
    continue
  fi

  banner "[$preset] build"
  if ! cmake --build --preset "$preset"; then
    results+=("$preset: FAILED to build")
    any_failed=true all_counted=false
    continue
  fi

  banner "[$preset] test"
  log="build/$preset/ctest-output.log"
  runner=()
  [[ "$preset" == "tsan" ]] && runner=("${tsan_runner[@]}")
  verdict="passed"
  if ! "${runner[@]}" ctest --preset "$preset" 2>&1 | tee "$log"; then
    verdict="FAILED"
    any_failed=true
  fi

  # ctest closes with "N% tests passed, F tests failed out of T" and lists skipped tests after
  # "The following tests did not run:" as "  ID - name (Skipped)".
  summary=$(grep -E '[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1 || true)
  if [[ "$summary" =~ ([0-9]+)\ tests\ failed\ out\ of\ ([0-9]+) ]]; then
    failed=${BASH_REMATCH[1]}
    total=${BASH_REMATCH[2]}
    skipped=$(grep -cE '^[[:space:]]*[0-9]+ - .*\((Skipped|Disabled)\)[[:space:]]*$' "$log" || true)
    passed=$((total - failed - skipped))
    total_passed=$((total_passed + passed))
    total_failed=$((total_failed + failed))
    total_skipped=$((total_skipped + skipped))
    results+=("$preset: tests $verdict ($passed passed, $failed failed, $skipped skipped; $((SECONDS - started)) s)")
  else
    results+=("$preset: tests $verdict (no ctest summary found)")
    all_counted=false
  fi
done

banner "Summary"
printf '  %s\n' "${results[@]}"
if $all_counted; then
  # Sums over all presets run: each test is counted once per preset.
  echo "tests: $total_passed passed, $total_failed failed, $total_skipped skipped"
fi
if $any_failed; then
  exit 1
fi
