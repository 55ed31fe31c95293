#!/usr/bin/env bash
# Takes screenshots of the Windows window's states from the demo program under wine on a virtual
# X server (no window manager: wine draws the frames) into BUILD/screenshots/: the main dialog
# idle, with the device attached (V1.05), mid-transfer and waiting for a drive-mode device's
# volume, and the prompt as a question, with its OK button under the pointer, as the failure
# notice, the permission notice, the device-busy notice and with a failed drive copy's reason;
# each in English (-en) and Chinese (-zh). The same states as scripts/screenshots.sh takes of the
# Qt window.
#
#   bash scripts/screenshots-windows.sh [BUILD]     BUILD defaults to build/windows
#
# Builds what it needs in that build (the windows preset's) if it is missing or out of date.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

build=${1:-build/windows}
if [[ ! -f "$build/CMakeCache.txt" ]]; then
  echo "screenshots-windows: $build is not a configured build folder" >&2
  exit 2
fi
cmake --build "$build" --target window_tests_win32 tarvex-update-demo tarvex_sample_image

out="$build/screenshots"
rm -rf "$out"
mkdir -p "$out"
TARVEX_SHOTS_DIR=$(realpath "$out") bash tests/win32/run-window-tests.sh \
  "$build/tests/win32/window_tests_win32.exe" "$build/app/win32/tarvex-update-demo.exe" \
  "$build/sample/sample-firmware-v1.15.dat" --gtest_filter='WindowShots.*' --gtest_brief=1

# The program saves what the screen showed as bitmaps; PNG files are what people look at.
for bitmap in "$out"/*.bmp; do
  [[ -e "$bitmap" ]] || continue
  bmptopnm -quiet "$bitmap" | pnmtopng -quiet >"${bitmap%.bmp}.png"
  rm -f "$bitmap"
done
count=$(find "$out" -name '*.png' | wc -l)
echo "screenshots-windows: $count pictures in $out"
[[ $count -eq 20 ]] || { echo "screenshots-windows: expected 20 pictures" >&2; exit 1; }
