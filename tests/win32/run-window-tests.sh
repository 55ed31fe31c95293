#!/usr/bin/env bash
# Runs the Win32 window's tests (window_tests_win32.exe) under wine on a virtual X server of
# their own, first in English, then with the Chinese user-interface language.
#
#   run-window-tests.sh TESTS.exe DEMO.exe SAMPLE.dat [GTEST-ARGUMENT...]
#
# The wine prefix is wineprefix-x11/ in the build folder (apart from the headless tests' prefix:
# a wine server stays bound to the display it started with), made on the first run. Wine draws
# the windows' frames itself (no window manager runs). With TARVEX_SHOTS_DIR set (a Linux
# folder), the screenshot cases save their pictures there.
set -uo pipefail
inside=false
if [[ "${1:-}" == "--inside-x" ]]; then
  inside=true
  shift
fi
if [[ $# -lt 3 ]]; then
  echo "usage: run-window-tests.sh TESTS.exe DEMO.exe SAMPLE.dat [GTEST-ARGUMENT...]" >&2
  exit 2
fi
tests=$(realpath "$1")
demo=$(realpath "$2")
sample=$(realpath "$3")
shift 3

build=$(dirname "$tests")
while [[ "$build" != / && ! -f "$build/CMakeCache.txt" ]]; do
  build=$(dirname "$build")
done
[[ "$build" == / ]] && build=$(dirname "$tests")
export WINEPREFIX="${TARVEX_WINDOW_PREFIX:-$build/wineprefix-x11}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-winemenubuilder.exe=d;mscoree=d;mshtml=d}"

if [[ -n "${CI:-}" ]] && ! command -v xvfb-run >/dev/null; then
  echo "run-window-tests: xvfb-run is missing" >&2
  exit 1
fi

# Everything inside one X server; the wine server is ended before and after, so that it never
# outlives the display it was bound to.
inside() {
  wineserver -k >/dev/null 2>&1
  wineserver -w >/dev/null 2>&1
  if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
    mkdir -p "$WINEPREFIX"
    wineboot --init >/dev/null 2>&1
  fi
  # Frames and captions drawn by wine itself: there is no window manager to draw them.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  export TARVEX_DEMO TARVEX_SAMPLE
  TARVEX_DEMO=$(winepath -w "$demo" 2>/dev/null)
  TARVEX_SAMPLE=$(winepath -w "$sample" 2>/dev/null)
  if [[ -n "${TARVEX_SHOTS_DIR:-}" ]]; then
    TARVEX_SHOTS_DIR=$(winepath -w "$TARVEX_SHOTS_DIR" 2>/dev/null)
    export TARVEX_SHOTS_DIR
  fi
  local status=0
  echo "== English"
  LANG=C.UTF-8 LC_ALL=C.UTF-8 wine "$tests" "$@" </dev/null || status=1
  echo "== Chinese (zh_CN.UTF-8)"
  LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 wine "$tests" "$@" </dev/null || status=1
  wineserver -k >/dev/null 2>&1
  wineserver -w >/dev/null 2>&1
  return $status
}
if $inside; then
  inside "$@"
  exit
fi
# Output to a file, not a pipe: a wine server started here would hold a pipe open.
log=$(mktemp)
trap 'rm -f "$log"' EXIT
# One run at a time on the prefix: each run ends the prefix's wine server before it starts, and
# that ends (SIGTERM) every program of a run still going on it, such as the screenshots' run
# (scripts/screenshots-windows.sh) beside the tests. The lock is held by flock itself, not by
# the programs (-o): a wine server that outlived its run must not keep it.
mkdir -p "$(dirname "$WINEPREFIX")"
flock -o "$WINEPREFIX.lock" \
  xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96 -nolisten tcp" \
  bash "$0" --inside-x "$tests" "$demo" "$sample" "$@" >"$log" 2>&1
status=$?
cat "$log"
exit $status
