#!/usr/bin/env bash
# Installs the Debian package with apt into a clean Debian 12 root and checks that it works there
# and that removing it leaves nothing behind.
#
#   bash tests/package/install-test.sh PACKAGE.deb [SAMPLE-IMAGE.dat]
#
# The root is made once with debootstrap (minbase) and kept as a tar file in
# /var/cache/tarvex-ci/, keyed by release, variant and month, so that CI makes it at most once a
# month; the packages apt downloads are kept there too. Each run unpacks a fresh copy and works on
# it inside a private mount namespace, so nothing mounted for the root outlives the run. Needs
# root and the network to the Debian mirror (the first time of a month for the root, every time
# for apt's package lists).
#
# What is checked, in order:
#  1. apt installs the package into the clean root and pulls its dependencies (without
#     recommended packages, so that the package's own dependencies are shown to be enough);
#  2. the programs' libraries all resolve (ldd); the terminal program shows its help and its
#     version and updates its built-in virtual device with the sample image; the manual pages and
#     the bash completion are where man and bash-completion look (the root has neither); the window program starts on a real X
#     server (Xvfb on this machine, its socket shared with the root) and stays up;
#  3. with no udevd (no /run/udev) the maintainer scripts call no udevadm and do not fail; with
#     one, they reload the rules and re-trigger the vendor's USB devices and only those (a
#     recording udevadm and a small sysfs tree stand in for the real ones);
#  4. apt purge leaves no file behind and takes nothing away: after the purge the root holds
#     exactly the files of a second clean root into which only the package's dependencies were
#     installed (apt-get satisfy with its Depends field), so that what the dependencies and their
#     triggers make cannot hide a leftover.
set -euo pipefail

cache=/var/cache/tarvex-ci
suite=bookworm
variant=minbase
mirror=http://deb.debian.org/debian

die() {
  echo "install-test: FAIL: $*" >&2
  exit 1
}
step() {
  printf '\n--- [%d s] %s\n' "$((SECONDS - ${started:-$SECONDS}))" "$*"
}

if [[ "${1:-}" != --in-namespace ]]; then
  [[ $# -ge 1 && $# -le 2 ]] || { echo "usage: bash $0 PACKAGE.deb [SAMPLE-IMAGE.dat]" >&2; exit 2; }
  [[ $(id -u) -eq 0 ]] || die "needs root (debootstrap, chroot, mounts)"
  [[ -f "$1" ]] || die "no package at $1"
  exec unshare --mount --propagation private -- bash "$0" --in-namespace "$(realpath "$1")" \
    "$(if [[ -n "${2:-}" ]]; then realpath "$2"; fi)"
fi
deb=$2
sample=${3:-}
started=$SECONDS

# --- the cached clean root -----------------------------------------------------------------------

mkdir -p "$cache/debootstrap-debs" "$cache/apt-archives/partial"
root_tar="$cache/debian-12-$variant-$(date +%Y-%m).tar"

make_clean_root() {
  local work
  work=$(mktemp -d "$cache/make-root.XXXXXX")
  # In memory, like the roots below: debootstrap's dpkg runs are many small synchronous writes.
  mount -t tmpfs -o size=2g tarvex-make-root "$work"
  debootstrap --variant="$variant" --cache-dir="$cache/debootstrap-debs" "$suite" "$work/root" \
    "$mirror" >"$work/debootstrap.log" 2>&1 || {
    tail -n 20 "$work/debootstrap.log" >&2
    umount "$work" && rmdir "$work"
    die "debootstrap failed"
  }
  # Debian's own sources of a fresh installation: the release, its updates and security updates.
  rm -f "$work/root/etc/apt/sources.list"
  cat >"$work/root/etc/apt/sources.list.d/debian.sources" <<SOURCES
Types: deb
URIs: $mirror
Suites: $suite $suite-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb
URIs: http://deb.debian.org/debian-security
Suites: $suite-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
  rm -rf "$work/root/var/cache/apt/archives/"*.deb "$work/root/var/lib/apt/lists/"*
  tar -C "$work/root" -cf "$root_tar.partial" .
  mv "$root_tar.partial" "$root_tar"
  umount "$work" && rmdir "$work"
  # Roots of earlier months are not used again.
  find "$cache" -maxdepth 1 -name 'debian-12-*.tar' ! -path "$root_tar" -delete
}

# One run at a time makes the root; the others wait for it and then share it (each unpacks its
# own copy).
exec 9>"$cache/lock"
flock 9
if [[ ! -f "$root_tar" ]]; then
  step "making the clean Debian 12 root (debootstrap $variant $suite; once a month)"
  make_clean_root
  echo "made $root_tar in $((SECONDS - started)) s"
fi
flock -u 9

# The roots live in memory (about 1 GiB for both): unpacking, dpkg's many small writes and the
# removal at the end then take seconds instead of minutes on a busy disk.
scratch=$(mktemp -d /var/tmp/tarvex-install-test.XXXXXX)
mount -t tmpfs -o size=3g,mode=700 tarvex-install-test "$scratch"
xvfb_pid=""
cleanup() {
  if [[ -n "$xvfb_pid" ]]; then
    kill "$xvfb_pid" 2>/dev/null || true
  fi
  # The mounts go with the namespace, but rm must never walk into a bind mount of this machine's
  # own folders: unmount first, and stay on the scratch file system.
  umount -R "$scratch" 2>/dev/null || true
  findmnt -R -n -o TARGET "$scratch" >/dev/null 2>&1 || rmdir "$scratch"
}
trap cleanup EXIT

# Unpacks a fresh copy of the clean root into $scratch/NAME and makes it the current one: a
# private /dev with the few nodes apt and the programs use, /proc, a private /run, /tmp and
# /sys, the host's name resolution and the shared cache of downloaded packages.
enter_fresh_root() {
  root="$scratch/$1"
  mkdir "$root"
  tar -C "$root" -xf "$root_tar"
  mount --bind "$root" "$root"
  mount -t proc proc "$root/proc"
  mount -t tmpfs -o mode=755 dev "$root/dev"
  local node name kind major minor
  for node in "null c 1 3" "zero c 1 5" "full c 1 7" "random c 1 8" "urandom c 1 9" "tty c 5 0"; do
    read -r name kind major minor <<<"$node"
    mknod -m 666 "$root/dev/$name" "$kind" "$major" "$minor"
  done
  ln -s /proc/self/fd "$root/dev/fd"
  mkdir "$root/dev/pts" "$root/dev/shm"
  mount -t devpts -o newinstance,ptmxmode=0666,mode=620 devpts "$root/dev/pts"
  ln -s pts/ptmx "$root/dev/ptmx"
  mount -t tmpfs -o mode=755 run "$root/run"
  mount -t tmpfs -o mode=1777 tmp "$root/tmp"
  mount -t tmpfs -o mode=755 sys "$root/sys"
  cp /etc/resolv.conf "$root/etc/resolv.conf"
  mount --bind "$cache/apt-archives" "$root/var/cache/apt/archives"
  local attempt
  for attempt in 1 2 3; do
    in_root apt-get -q update >"$scratch/apt-update.log" 2>&1 && return 0
    sleep 5
  done
  cat "$scratch/apt-update.log" >&2
  die "apt-get update failed in the root"
}

in_root() {
  chroot "$root" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    HOME=/root LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive "$@"
}

apt_in_root() {
  local log=$1
  shift
  if ! in_root apt-get -q -y --no-install-recommends "$@" >"$scratch/$log.log" 2>&1; then
    cat "$scratch/$log.log" >&2
    die "apt-get $* failed"
  fi
}

installed_packages() {
  in_root dpkg-query -W -f='${db:Status-Abbrev} ${Package}\n' | awk '$1 == "ii" { print $2 }' |
    LC_ALL=C sort
}

# Every file and folder of the root with its type, apart from the mounted ones and the records
# that change with any apt run (package lists, download cache, logs, dpkg's and apt's own).
file_list() {
  (cd "$root" && find . -xdev \
    \( -path ./proc -o -path ./dev -o -path ./sys -o -path ./run -o -path ./tmp \
    -o -path ./var/cache -o -path ./var/lib/apt -o -path ./var/lib/dpkg -o -path ./var/log \) -prune \
    -o -printf '%y %p\n' | LC_ALL=C sort)
}

enter_fresh_root installed
cp "$deb" "$root/tmp/"
deb_in_root="/tmp/$(basename "$deb")"
installed_packages >"$scratch/packages-clean"

# Two attached USB devices, one of the vendor, and a udevadm (where udev would put it: the
# maintainer scripts run with dpkg's PATH) that records its calls and, like one whose udevd just
# went away, fails every trigger. No /run/udev yet: no udevd runs.
[[ ! -e "$root/usr/bin/udevadm" ]] || die "the clean root already has a udevadm"
usb_devices=/sys/devices/pci0000:00/0000:00:14.0/usb1
mkdir -p "$root/sys/bus/usb/devices"
for device in "1-1 3a7e" "1-2 046d"; do
  read -r name vendor <<<"$device"
  mkdir -p "$root$usb_devices/$name"
  echo "$vendor" >"$root$usb_devices/$name/idVendor"
  ln -s "../../../devices/pci0000:00/0000:00:14.0/usb1/$name" "$root/sys/bus/usb/devices/$name"
done
cat >"$root/usr/bin/udevadm" <<'FAKE'
#!/bin/sh
echo "$*" >>/tmp/udevadm-calls
[ "$1" != trigger ]
FAKE
chmod 755 "$root/usr/bin/udevadm"

# --- 1. apt installs the package and what it needs -----------------------------------------------

step "apt-get install ./$(basename "$deb") into a clean root (no recommended packages)"
apt_in_root apt-install install "$deb_in_root"
installed_packages >"$scratch/packages-installed"
pulled=$(comm -13 "$scratch/packages-clean" "$scratch/packages-installed" | grep -vx tarvex-update || true)
echo "apt installed the package and $(wc -l <<<"$pulled") other packages"
grep -qx tarvex-update "$scratch/packages-installed" || die "the package is not installed"
[[ ! -e "$root/tmp/udevadm-calls" ]] ||
  die "postinst called udevadm without udevd: $(cat "$root/tmp/udevadm-calls")"
echo "ok   installed; no udevadm call without udevd"

# --- 2. the programs work ------------------------------------------------------------------------

step "the programs' libraries resolve"
for program in /usr/bin/tarvex-update /usr/bin/tarvex-update-cli; do
  libraries=$(in_root ldd "$program") || die "ldd $program failed"
  if grep -q 'not found' <<<"$libraries"; then
    echo "$libraries" >&2
    die "$program: libraries missing"
  fi
  echo "ok   $program: $(wc -l <<<"$libraries") libraries"
done

step "tarvex-update-cli --help"
help=$(in_root tarvex-update-cli --help) || die "tarvex-update-cli --help failed"
grep -q '^Usage: tarvex-update-cli ' <<<"$help" || { echo "$help" >&2; die "no usage text"; }
echo "ok   usage shown"
version=$(in_root tarvex-update-cli --version) || die "tarvex-update-cli --version failed"
[[ "$version" == "tarvex-update-cli $(dpkg-deb -f "$deb" Version)" ]] ||
  die "tarvex-update-cli --version says '$version'"
echo "ok   $version"

step "the manual pages and the bash completion"
for file in /usr/share/man/man1/tarvex-update.1.gz /usr/share/man/man1/tarvex-update-cli.1.gz \
  /usr/share/bash-completion/completions/tarvex-update-cli; do
  [[ -s "$root$file" ]] || die "$file is not installed"
done
echo "ok   both pages in /usr/share/man/man1, the completion in /usr/share/bash-completion"

if [[ -n "$sample" ]]; then
  step "tarvex-update-cli --virtual --yes $(basename "$sample")"
  cp "$sample" "$root/tmp/sample.dat"
  if ! in_root tarvex-update-cli --virtual --yes /tmp/sample.dat >"$scratch/cli-update.log" 2>&1; then
    cat "$scratch/cli-update.log" >&2
    die "the virtual update failed"
  fi
  echo "ok   $(tail -n 1 "$scratch/cli-update.log")"
  # The run is recorded in the user's own state folder. That is the user's data, which a purge
  # rightly leaves alone, so it goes once checked: the file comparison after the purge is about
  # what the package left.
  history="$root/root/.local/state/tarvex-update/history.jsonl"
  [[ $(wc -l <"$history" 2>/dev/null) -eq 1 ]] && grep -q '"outcome":"succeeded"' "$history" ||
    die "the run left no record of its success in ${history#"$root"}"
  echo "ok   the run recorded in ~/.local/state/tarvex-update/history.jsonl"
  rm -rf "$root/root/.local"
fi

step "the window on an X server"
# The X server's socket folder, shared with the root (made as X makes it, where no X server ran
# on this machine yet).
[[ -d /tmp/.X11-unix ]] || install -d -m 1777 /tmp/.X11-unix
mkdir -p "$root/tmp/.X11-unix"
mount --bind /tmp/.X11-unix "$root/tmp/.X11-unix"
Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$scratch/display" >"$scratch/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
  [[ -s "$scratch/display" ]] && break
  sleep 0.2
done
display=$(cat "$scratch/display")
[[ -n "$display" ]] || die "Xvfb did not start: $(cat "$scratch/xvfb.log")"
# The window is looked for on the X server by its caption; it must still be open then.
in_root env DISPLAY=":$display" QT_QPA_PLATFORM=xcb tarvex-update >"$scratch/window.log" 2>&1 &
window_pid=$!
shown=false
for _ in $(seq 100); do
  if ! kill -0 "$window_pid" 2>/dev/null; then
    cat "$scratch/window.log" >&2
    die "the window program ended by itself"
  fi
  if xwininfo -display ":$display" -root -tree 2>/dev/null | grep -q '"Tarvex Update V1.0"'; then
    shown=true
    break
  fi
  sleep 0.1
done
kill "$window_pid" 2>/dev/null || true
wait "$window_pid" 2>/dev/null || true
kill "$xvfb_pid" 2>/dev/null || true
wait "$xvfb_pid" 2>/dev/null || true
xvfb_pid=""
umount "$root/tmp/.X11-unix"
if ! $shown; then
  cat "$scratch/window.log" >&2
  die "no window named 'Tarvex Update V1.0' appeared within 10 s"
fi
echo "ok   the window opened: Tarvex Update V1.0"

# --- 3. the maintainer scripts and udev ---------------------------------------------------------

step "the maintainer scripts with udevd running"
mkdir "$root/run/udev"
apt_in_root apt-reinstall install --reinstall "$deb_in_root"
expected_calls="control --reload
trigger --action=change --parent-match=$usb_devices/1-1"
calls=$(cat "$root/tmp/udevadm-calls" 2>/dev/null || true)
[[ "$calls" == "$expected_calls" ]] ||
  die "postinst called udevadm as: '${calls}'; expected: '$expected_calls'"
echo "ok   postinst: rules reloaded, the vendor's device re-triggered, the other left alone," \
  "a failing trigger ignored"

# --- 4. removal --------------------------------------------------------------------------------

step "apt-get purge tarvex-update"
rm -f "$root/tmp/udevadm-calls"
apt_in_root apt-purge purge tarvex-update
calls=$(cat "$root/tmp/udevadm-calls" 2>/dev/null || true)
[[ "$calls" == "$expected_calls" ]] ||
  die "postrm called udevadm as: '${calls}'; expected: '$expected_calls'"
echo "ok   postrm: rules reloaded, the vendor's device re-triggered"
status=$(in_root dpkg-query -W -f='${db:Status-Abbrev}' tarvex-update 2>/dev/null || true)
[[ -z "$status" || "$status" == [pu]n* ]] || die "dpkg still holds the package: state '$status'"
rm "$root/usr/bin/udevadm"
file_list >"$scratch/files-purged"
installed_packages >"$scratch/packages-purged"

step "a second clean root with the package's dependencies alone (apt-get satisfy)"
enter_fresh_root dependencies
apt_in_root apt-satisfy satisfy "$(dpkg-deb -f "$deb" Depends)"
installed_packages >"$scratch/packages-dependencies"
file_list >"$scratch/files-dependencies"
if ! cmp -s "$scratch/packages-purged" "$scratch/packages-dependencies"; then
  diff "$scratch/packages-dependencies" "$scratch/packages-purged" >&2 || true
  die "the dependencies alone are not the packages left after the purge"
fi
left=$(comm -13 "$scratch/files-dependencies" "$scratch/files-purged")
gone=$(comm -23 "$scratch/files-dependencies" "$scratch/files-purged")
if [[ -n "$left" || -n "$gone" ]]; then
  [[ -n "$left" ]] && { echo "left behind by the package:"; echo "$left"; } >&2
  [[ -n "$gone" ]] && { echo "taken away by the package:"; echo "$gone"; } >&2
  die "after the purge the root's files differ from those of the dependencies alone"
fi
echo "ok   after the purge the root holds the same $(wc -l <"$scratch/files-purged") files and" \
  "folders as one with the dependencies alone"

step "cleaning up"
cleanup
trap - EXIT
echo "install-test: passed in $((SECONDS - started)) s"
