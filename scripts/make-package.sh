#!/usr/bin/env bash
# Builds the Debian package tarvex-update_<version>_<arch>.deb with CPack's DEB generator: the
# window program, the terminal program, the udev rule, the desktop entry, the icon, the AppStream
# metadata and the documents Debian asks for, under /usr. Its library dependencies are computed
# from the programs by dpkg-shlibdeps.
#
#   bash scripts/make-package.sh                 configure and build the `package` preset
#                                                (build/package, no tests), package it there
#   bash scripts/make-package.sh --build DIR     package an existing build folder instead (CI
#                                                packages build/ci, which its tests just ran on)
#
# The last line of the output is the path of the package.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

usage() {
  echo "usage: bash scripts/make-package.sh [--build DIR]"
}

build=""
while [[ $# -gt 0 ]]; do
  case "$1" in
    --build) [[ $# -ge 2 ]] || { usage >&2; exit 2; }; build=$2; shift 2 ;;
    --build=*) build=${1#--build=}; shift ;;
    -h | --help) usage; exit 0 ;;
    *) usage >&2; exit 2 ;;
  esac
done

bash scripts/install-deps.sh >&2

if [[ -z "$build" ]]; then
  build=build/package
  cmake --preset package >&2
fi
if [[ ! -f "$build/CPackConfig.cmake" ]]; then
  echo "make-package: $build is not a configured build folder" >&2
  exit 2
fi
cmake --build "$build" >&2

out="$build/deb"
rm -rf "$out"
mkdir -p "$out"
cpack --config "$build/CPackConfig.cmake" -B "$out" >&2
# CPack leaves its staging tree beside the package; only the package is wanted.
rm -rf "$out/_CPack_Packages"

shopt -s nullglob
packages=("$out"/tarvex-update_*.deb)
if [[ ${#packages[@]} -ne 1 ]]; then
  echo "make-package: expected one package in $out, found ${#packages[@]}" >&2
  exit 1
fi
echo "${packages[0]}"
