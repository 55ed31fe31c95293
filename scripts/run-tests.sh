#!/usr/bin/env bash
# Installs the dependencies, checks that every include runs downward (scripts/check-includes.sh),
# builds with warnings as errors (`ci` preset), runs the whole test
# suite and takes the window's screenshots under Xvfb (build/ci/screenshots/). With --all, or when CI=true, it then builds and runs the suite again under
# AddressSanitizer with UndefinedBehaviorSanitizer (`asan`) and under ThreadSanitizer (`tsan`),
# cross-builds for Windows with mingw-w64 and runs that build's suite under wine (`windows`: the
# window driven from outside on Xvfb and the installer's test among it) and takes the Windows
# window's screenshots,
# runs the benchmarks of the `ci` build briefly (their figures are printed, never compared with
# anything; the window's start among them, under Xvfb), runs every fuzz target for FUZZ_SECONDS
# (default 60; 30 when CI=true) through scripts/run-fuzzers.sh, and runs the real-device tests
# of the `ci` build in a QEMU guest (tests/vm/run-vm-tests.sh, a few minutes). Every run also builds the Debian package from the
# ci build and checks it; with --all it is installed into a clean Debian 12 root too.
#
#   bash scripts/run-tests.sh          ci preset only
#   bash scripts/run-tests.sh --all    ci, asan, tsan and windows presets, benchmarks, fuzzers,
#                                      guest
#
# Every preset runs even when an earlier one failed, so that one run shows all the failures; the
# exit status is non-zero if any stage failed. ctest's output of each run is also kept in
# build/<preset>/ctest-output.log.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

usage() {
  echo "usage: bash scripts/run-tests.sh [--all]"
  echo "  --all   also build and test the asan, tsan and windows presets, run the benchmarks"
  echo "          briefly and the fuzz targets for FUZZ_SECONDS each, then the real-device tests"
  echo "          in a QEMU guest (the default when CI=true)"
}

with_sanitizers=false
[[ "${CI:-}" == "true" ]] && with_sanitizers=true
# CI replays every corpus and explores briefly; longer runs are for FUZZ_SECONDS by hand.
if [[ -z "${FUZZ_SECONDS:-}" ]]; then
  FUZZ_SECONDS=60
  [[ "${CI:-}" == "true" ]] && FUZZ_SECONDS=30
fi
export FUZZ_SECONDS
for arg in "$@"; do
  case "$arg" in
    --all) with_sanitizers=true ;;
    -h | --help) usage; exit 0 ;;
    *) usage >&2; exit 2 ;;
  esac
done

presets=(ci)
if $with_sanitizers; then
  presets+=(asan tsan windows)
fi

banner() {
  printf '\n==> %s\n' "$*"
}

stages="include floors, preset(s) ${presets[*]}, screenshots, package"
$with_sanitizers && stages+=", package install, benchmarks, fuzzers (${FUZZ_SECONDS} s each), guest"
banner "Stages: install dependencies, then $stages"
bash scripts/install-deps.sh

# Every clean clone builds the same sources five times over (ci, asan, tsan, windows, fuzz);
# ccache keeps the objects between runs, keyed by the preprocessed source and the compiler's
# arguments, so an unchanged file is not compiled again. Paths are taken relative to the clone
# (CCACHE_BASEDIR) and the build folder is left out of the key (CCACHE_NOHASHDIR; it only names
# where the debug information says the sources were), so that a clone in another folder hits the
# same entries; the sloppiness lets the precompiled test headers and freshly checked-out headers
# be cached. Applies when a build folder is first configured; TARVEX_CCACHE=0 builds without it.
# As root (CI) the cache lives beside the install test's root in /var/cache/tarvex-ci/, bounded
# in size.
if [[ "${TARVEX_CCACHE:-1}" != 0 ]] && command -v ccache >/dev/null 2>&1; then
  export CMAKE_C_COMPILER_LAUNCHER="${CMAKE_C_COMPILER_LAUNCHER:-ccache}"
  export CMAKE_CXX_COMPILER_LAUNCHER="${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}"
  export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}"
  export CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-true}"
  export CCACHE_SLOPPINESS="${CCACHE_SLOPPINESS:-pch_defines,time_macros,include_file_mtime,include_file_ctime}"
  if [[ $(id -u) -eq 0 && -z "${CCACHE_DIR:-}" ]]; then
    export CCACHE_DIR=/var/cache/tarvex-ci/ccache CCACHE_MAXSIZE=6G
  fi
  ccache --zero-stats >/dev/null 2>&1 || true
fi
# clang's precompiled headers are made with their build folder's absolute path inside, which
# ccache cannot take out of the key, so every test file of the clang presets missed the cache in
# a new clone; without them a clean clang build takes about as long and a later one hits.
clang_configure_args=()
[[ "${CMAKE_CXX_COMPILER_LAUNCHER:-}" == ccache ]] &&
  clang_configure_args=(-DCMAKE_DISABLE_PRECOMPILE_HEADERS=ON)

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

# The floors (docs/architecture.md): no include runs from a lower folder to a higher one. Fails
# the run, but every preset still builds and tests, so that one run shows all the failures.
banner "[includes] scripts/check-includes.sh"
if includes_verdict=$(bash scripts/check-includes.sh); then
  echo "$includes_verdict"
  results+=("includes: ${includes_verdict#check-includes: }")
else
  echo "$includes_verdict"
  results+=("includes: FAILED (an include runs upward; see above)")
  any_failed=true
fi

for preset in "${presets[@]}"; do
  started=$SECONDS
  banner "[$preset] configure"
  configure_args=()
  [[ "$preset" == asan || "$preset" == tsan ]] && configure_args=("${clang_configure_args[@]}")
  if ! cmake --preset "$preset" "${configure_args[@]}"; then
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

# Screenshots of the window's states under Xvfb, from the ci build, so that the pictures exist
# after every run (a few seconds).
if [[ -f build/ci/CMakeCache.txt ]]; then
  banner "[screenshots] the window under Xvfb (scripts/screenshots.sh build/ci)"
  started=$SECONDS
  if bash scripts/screenshots.sh build/ci; then
    results+=("screenshots: taken ($((SECONDS - started)) s; build/ci/screenshots/)")
  else
    results+=("screenshots: FAILED")
    any_failed=true
  fi
fi

# The same screenshots of the Windows window, from the windows build's demo under wine on Xvfb
# (about 40 s; build/windows/screenshots/). The window's own tests and the installer's test under
# wine are part of that preset's ctest run above.
if [[ " ${presets[*]} " == *" windows "* && -f build/windows/CMakeCache.txt ]]; then
  banner "[screenshots-windows] the Win32 window under wine (scripts/screenshots-windows.sh)"
  started=$SECONDS
  if bash scripts/screenshots-windows.sh build/windows; then
    results+=("screenshots-windows: taken ($((SECONDS - started)) s; build/windows/screenshots/)")
  else
    results+=("screenshots-windows: FAILED")
    any_failed=true
  fi
fi

# The Debian package, made from the ci build (its programs are the ones just tested), and its
# contents, metadata and lintian's verdict (tests/package/check-package.sh). With --all and under
# CI it is also installed with apt into a clean Debian 12 root, run there and purged again
# (tests/package/install-test.sh; the root is cached in /var/cache/tarvex-ci/).
if [[ -f build/ci/CMakeCache.txt ]]; then
  banner "[package] scripts/make-package.sh --build build/ci, then its checks"
  started=$SECONDS
  package_log=build/ci/package.log
  if deb=$(bash scripts/make-package.sh --build build/ci 2>"$package_log"); then
    echo "package: $deb (built in $((SECONDS - started)) s)"
    if bash tests/package/check-package.sh "$deb" .; then
      results+=("package: $(basename "$deb") built and checked ($((SECONDS - started)) s)")
    else
      results+=("package: checks FAILED")
      any_failed=true
    fi
    if $with_sanitizers; then
      banner "[package] installed into a clean Debian 12 root (tests/package/install-test.sh)"
      started=$SECONDS
      if bash tests/package/install-test.sh "$deb" build/ci/sample/sample-firmware-v1.15.dat; then
        results+=("package install: passed ($((SECONDS - started)) s)")
      else
        results+=("package install: FAILED")
        any_failed=true
      fi
    fi
  else
    cat "$package_log"
    results+=("package: FAILED to build (build/ci/package.log)")
    any_failed=true
  fi
fi

if $with_sanitizers; then
  # A benchmark that cannot run fails the stage; its figures never do. About 12 s: the paced
  # update and the device alone at 1 ms run one fixed iteration each whatever the minimum time.
  banner "[bench] tarvex_bench of the ci build, briefly"
  started=$SECONDS
  if [[ ! -x build/ci/bench/tarvex_bench ]]; then
    results+=("bench: not run (the ci build did not produce it)")
    any_failed=true
  elif build/ci/bench/tarvex_bench --benchmark_min_time=0.05; then
    results+=("bench: ran ($((SECONDS - started)) s; figures above, not gated)")
  else
    results+=("bench: FAILED to run")
    any_failed=true
  fi

  # The window's start beside a bare Qt dialog under Xvfb: ms_to_window for each, their ratio
  # (a few seconds; a fixed number of alternating starts whatever the minimum time).
  banner "[bench] tarvex_window_bench of the ci build under Xvfb"
  started=$SECONDS
  if [[ ! -x build/ci/bench/tarvex_window_bench ]]; then
    results+=("window bench: not run (the ci build did not produce it)")
    any_failed=true
  elif xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" build/ci/bench/tarvex_window_bench; then
    results+=("window bench: ran ($((SECONDS - started)) s; figures above, not gated)")
  else
    results+=("window bench: FAILED to run")
    any_failed=true
  fi

  banner "[fuzz] every fuzz target, ${FUZZ_SECONDS} s each"
  started=$SECONDS
  if bash scripts/run-fuzzers.sh; then
    results+=("fuzz: passed ($((SECONDS - started)) s)")
  else
    results+=("fuzz: FAILED (failing inputs in fuzz/crashes/)")
    any_failed=true
  fi

  # The ci build's programs and tests against real kernel devices (uhid, USB gadgets, a
  # mass-storage volume) in a QEMU guest; the harness ends with "N passed, M failed".
  banner "[vm] real HID and USB devices in a QEMU guest (tests/vm/run-vm-tests.sh)"
  started=$SECONDS
  vm_log=build/ci/vm-tests.log
  mkdir -p build/ci
  # The Windows build of the windows preset above: its terminal program runs under wine in a
  # second boot of the guest against the USB HID gadget.
  if bash tests/vm/run-vm-tests.sh --build build/ci --windows-build build/windows 2>&1 |
    tee "$vm_log"; then
    results+=("vm: passed ($(tail -n 1 "$vm_log"); $((SECONDS - started)) s)")
  else
    results+=("vm: FAILED ($(tail -n 1 "$vm_log"); console in build/ci/vm/run/)")
    any_failed=true
  fi
fi

banner "Summary"
if [[ "${CMAKE_CXX_COMPILER_LAUNCHER:-}" == ccache ]]; then
  # Hits and misses of this run: a low hit rate on a second run means something defeats the cache.
  results+=("ccache: $(ccache --print-stats 2>/dev/null | awk -F'\t' '
    $1 ~ /^(direct_cache_hit|preprocessed_cache_hit)$/ { hits += $2 }
    $1 == "cache_miss" { misses = $2 }
    END { printf "%d hits, %d misses", hits, misses }')")
fi
printf '  %s\n' "${results[@]}"
if $all_counted; then
  # Sums over all presets run: each test is counted once per preset.
  echo "tests: $total_passed passed, $total_failed failed, $total_skipped skipped"
fi
if $any_failed; then
  exit 1
fi
