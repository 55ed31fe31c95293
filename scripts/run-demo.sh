#!/usr/bin/env bash
# With a display (DISPLAY or WAYLAND_DISPLAY set): builds the window demo with the `default`
# preset and opens it on the built-in virtual device, in the sample image's folder, with a reply
# latency that makes the progress visible; it exits when the window is closed.
# Without a display: builds the terminal program and runs one whole update against the virtual
# device with the sample image that the build generates. Exits with the program's own status
# (0 success, 1 update failed, 2 bad usage or image refused, 3 cancelled).
#
#   bash scripts/run-demo.sh
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

if [[ $# -gt 0 ]]; then
  echo "usage: bash scripts/run-demo.sh   (takes no arguments)" >&2
  exit 2
fi

echo "==> Installing dependencies"
bash scripts/install-deps.sh

echo "==> Configuring (preset default)"
cmake --preset default

sample_folder=build/default/sample
if [[ -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ]]; then
  echo "==> Building the window demo and the sample image"
  cmake --build --preset default --target tarvex-update-demo tarvex_sample_image
  demo=$PWD/build/default/app/tarvex-update-demo
  echo "==> Opening the window in $sample_folder: press USB_Update and pick sample-firmware-v1.15.dat"
  cd "$sample_folder"
  exec "$demo" --latency=40
fi

echo "==> Building the terminal program and the sample image"
cmake --build --preset default --target tarvex-update-cli tarvex_sample_image

cli=build/default/cli/tarvex-update-cli
image=$sample_folder/sample-firmware-v1.15.dat
echo "==> Running: $cli --virtual --yes $image"
exec "$cli" --virtual --yes "$image"
