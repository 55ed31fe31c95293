#!/usr/bin/env bash
# Installs the Debian 12 packages that building, testing and running the project need.
#
# Idempotent: when every package is already installed, apt is not called at all, so a second run
# is quick and works offline. Runs as root; otherwise uses sudo when there is one.
#
#   bash scripts/install-deps.sh          install what is missing
#   bash scripts/install-deps.sh --list   print the package list and exit
set -euo pipefail

# The one list of the project's system packages.
packages=(
  # compilers and build tools
  build-essential
  g++
  cmake
  ninja-build
  pkg-config
  clang
  libclang-rt-14-dev  # sanitizer and libFuzzer runtimes for clang 14
  llvm                # llvm-symbolizer, for readable sanitizer stacks
  clang-format
  ccache              # keeps compiled objects between the test command's clean builds
  # test and benchmark frameworks
  libgtest-dev
  libgmock-dev
  libbenchmark-dev
  # JSON for the history of runs and --json (header-only, so the Windows cross build uses the
  # same headers)
  nlohmann-json3-dev
  # device access on Linux; logind's sleep block over D-Bus (sd-bus), and a private bus daemon
  # for its tests
  libhidapi-dev
  libudev-dev
  libsystemd-dev
  dbus-daemon
  # the window program (Qt Widgets, its pictures through Qt SVG) and its tests and screenshots
  # under a virtual X server; a CJK face and Arial's metric twin, so that both languages draw
  # without missing glyphs
  qt6-base-dev
  qt6-svg-dev
  libfontconfig-dev  # the window programs read the font configuration ahead of Qt
  libxcb1-dev        # the window start benchmark watches the X server for the window
  xvfb
  xauth
  fonts-wqy-microhei
  fonts-liberation2
  # the Debian package (scripts/make-package.sh: CPack, dpkg-shlibdeps) and its checks
  # (tests/package/): lintian, the AppStream and desktop-entry validators, file to see that the
  # programs are stripped, debootstrap for a clean Debian 12 root to install it in, xwininfo to
  # find its window there
  dpkg-dev
  file
  lintian
  appstream
  desktop-file-utils
  debootstrap
  x11-utils
  # the manual pages: scdoc turns their sources into roff at build time; man-db and groff-base
  # render them with warnings shown, so that a markup slip fails a test; bash-completion for its
  # helpers, which the terminal program's completion uses and its test loads
  scdoc
  man-db
  groff-base
  bash-completion
  # the real-device tests in a QEMU guest (tests/vm/): the emulator, a static busybox for the
  # guest's initramfs, FAT volumes, cpio and depmod to build the initramfs, xz and readelf to
  # cut the uncompressed kernel out of Debian's bzImage, setpriv for the non-root run
  qemu-system-x86
  busybox-static
  dosfstools
  cpio
  kmod
  xz-utils
  binutils
  util-linux
  # the guest's drive-mode runs on a desktop that mounts nothing: UDisks2's daemon mounts the
  # device's volume there, on a system bus of the guest's own (dbus-daemon, above), and polkitd
  # (only recommended by udisks2) decides who may, as on a desktop
  udisks2
  polkitd
  # the Windows cross build (preset windows): mingw-w64 with the posix thread model, GoogleTest's
  # sources to build it for Windows, and wine to run the programs and tests
  g++-mingw-w64-x86-64-posix
  googletest
  wine
  wine64
  # the Windows window: its pictures and icon drawn from the SVG sources at build time (librsvg
  # draws, netpbm writes the bitmaps and turns the screenshots into PNG files, icoutils makes the
  # icon), wine's own fonts for the frames it draws, and the MSI installer (wixl)
  librsvg2-bin
  netpbm
  icoutils
  fonts-wine
  wixl
)

if [[ "${1:-}" == "--list" ]]; then
  printf '%s\n' "${packages[@]}"
  exit 0
elif [[ $# -gt 0 ]]; then
  echo "usage: bash scripts/install-deps.sh [--list]" >&2
  exit 2
fi

is_installed() {
  dpkg-query -W -f='${db:Status-Status}\n' "$1" 2>/dev/null | grep -qx installed
}

missing=()
for package in "${packages[@]}"; do
  is_installed "$package" || missing+=("$package")
done

if [[ ${#missing[@]} -eq 0 ]]; then
  echo "install-deps: all ${#packages[@]} packages are installed."
  exit 0
fi

echo "install-deps: installing ${missing[*]}"

if [[ $(id -u) -eq 0 ]]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1; then
  as_root=(sudo)
else
  echo "install-deps: not root and no sudo; as root, run:" >&2
  echo "  apt-get update && apt-get install -y --no-install-recommends ${missing[*]}" >&2
  exit 1
fi

apt_get() {
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -q -y "$@" </dev/null
}

# A mirror can blip; try the index update a few times before giving up.
for attempt in 1 2 3; do
  if apt_get update; then
    break
  fi
  if [[ $attempt -eq 3 ]]; then
    echo "install-deps: apt-get update failed" >&2
    exit 1
  fi
  sleep 5
done

apt_get install --no-install-recommends "${missing[@]}"

still_missing=()
for package in "${missing[@]}"; do
  is_installed "$package" || still_missing+=("$package")
done
if [[ ${#still_missing[@]} -ne 0 ]]; then
  echo "install-deps: still not installed: ${still_missing[*]}" >&2
  exit 1
fi
echo "install-deps: done."
