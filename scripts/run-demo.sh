#!/usr/bin/env bash
# Builds the terminal program with the `default` preset and runs one whole update against the
# built-in virtual device, using the sample image that the build generates. Exits with the
# program's own status (0 success, 1 update failed, 2 bad usage or image refused, 3 cancelled).
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

echo "==> Building the terminal program and the sample image"
cmake --build --preset default --target tarvex-update-cli tarvex_sample_image

cli=build/default/cli/tarvex-update-cli
image=build/default/sample/sample-firmware-v1.15.dat
echo "==> Running: $cli --virtual --yes $image"
exec "$cli" --virtual --yes "$image"
