#!/usr/bin/env bash
# Takes screenshots of the window's states from a real X server (Xvfb, no window manager) into
# BUILD/screenshots/: the main dialog idle, with the device attached (V1.05), mid-transfer,
# waiting for a drive-mode device's volume and mounting it, and the prompt as a question, with
# its OK button under the pointer, as a notice, with the longest notice, with the device-busy
# notice and with a failed copy's reason; each in English (-en) and Chinese (-zh).
#
#   bash scripts/screenshots.sh [BUILD]     BUILD defaults to build/ci
#
# Builds the window_shots program of that build if it is missing or out of date.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

build=${1:-build/ci}
if [[ ! -f "$build/CMakeCache.txt" ]]; then
  echo "screenshots: $build is not a configured build folder" >&2
  exit 2
fi
cmake --build "$build" --target window_shots

out="$build/screenshots"
rm -rf "$out"
mkdir -p "$out"
# xvfb-run picks a free display number (-a) and gives the program its own X authority.
xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" \
  env QT_QPA_PLATFORM=xcb TARVEX_SHOTS_DIR="$out" "$build/tests/app/window_shots" \
  --gtest_brief=1

count=$(find "$out" -name '*.png' | wc -l)
echo "screenshots: $count pictures in $out"
[[ $count -eq 22 ]] || { echo "screenshots: expected 22 pictures" >&2; exit 1; }
