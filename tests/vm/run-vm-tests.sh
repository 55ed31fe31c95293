#!/usr/bin/env bash
# Runs the real-device tests in a QEMU guest: Debian's stock kernel with uhid, dummy_hcd and USB
# gadgets, so that the updater meets real hidraw nodes, real USB device entries and a real
# mass-storage volume. The guest chroots into this machine's root (shared read-only over 9p) and
# runs tests/vm/guest-tests.sh against the programs of an existing build.
#
#   bash tests/vm/run-vm-tests.sh [--build DIR] [--windows-build DIR] [--timeout SECONDS]
#                                 [--prepare-only] [--only=NAME[,NAME...]]
#
# --build DIR          the build folder whose programs are tested (default: build/ci)
# --windows-build DIR  the Windows cross build (preset windows) whose terminal program a second
#                      boot runs under wine against the USB HID gadget (default: build/windows
#                      when it holds the program; given and missing is a failure)
# --timeout S          give up on a guest after S seconds (default: 600)
# --prepare-only       download and prepare the guest, do not boot it
# --only=NAMES         run only these scenarios of guest-tests.sh (comma-separated), and boot
#                      no Windows guest: for working on a few of them
#
# The prepared kernel and initramfs are kept in DIR/vm/, so only the first run downloads (the
# kernel package through apt); a run's files are in DIR/vm/run/ (console.log, results).
# The last line is always "N passed, M failed"; the exit status is non-zero when a test failed or
# the guest did not finish.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/../.." && pwd)

build="$repo/build/ci"
windows_build=""
windows_build_required=true
limit=600
prepare_only=false
only=""
while [[ $# -gt 0 ]]; do
    case "$1" in
        --build) build=$2; shift 2 ;;
        --build=*) build=${1#*=}; shift ;;
        --timeout) limit=$2; shift 2 ;;
        --timeout=*) limit=${1#*=}; shift ;;
        --prepare-only) prepare_only=true; shift ;;
        --only=*) only=${1#*=}; windows_build_required=false; windows_build=/nonexistent; shift ;;
        --windows-build) windows_build=$2; shift 2 ;;
        --windows-build=*) windows_build=${1#*=}; shift ;;
        -h | --help) sed -n '2,20p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "run-vm-tests: unknown argument '$1'" >&2; exit 2 ;;
    esac
done

# The drivers the guest needs; their dependencies are found with modprobe.
guest_modules=(virtio_pci 9pnet_virtio 9p configfs loop hid-generic uhid usbhid dummy_hcd
    libcomposite usb_f_hid usb_f_mass_storage usb-storage sd_mod vfat nls_cp437 nls_ascii overlay)

closing_line_printed=false
finish() {  # finish PASSED FAILED
    echo "$1 passed, $2 failed"
    closing_line_printed=true
}
trap '[[ $closing_line_printed == true ]] || echo "0 passed, 1 failed"' EXIT

log() {
    echo "run-vm-tests: $*" >&2
}

for tool in qemu-system-x86_64 apt-get dpkg depmod cpio xz readelf timeout; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        log "missing '$tool': run bash scripts/install-deps.sh"
        exit 1
    fi
done
if [[ ! -x /bin/busybox ]] || ! file_info=$(LC_ALL=C readelf -d /bin/busybox 2>&1) ||
    [[ $file_info != *"no dynamic section"* ]]; then
    log "missing a static /bin/busybox: run bash scripts/install-deps.sh (busybox-static)"
    exit 1
fi
build=$(cd "$build" 2>/dev/null && pwd) || {
    log "no build folder '$build'; build first (cmake --preset ci && cmake --build --preset ci)"
    exit 1
}

if [[ -z $windows_build ]]; then
    windows_build="$repo/build/windows"
    windows_build_required=false
fi
windows_cli="$windows_build/cli/tarvex-update-cli.exe"
run_windows=true
if [[ ! -f $windows_cli ]]; then
    run_windows=false
    if $windows_build_required; then
        log "no Windows terminal program at $windows_cli (cmake --workflow --preset windows)"
    else
        log "no Windows build at $windows_build: the scenarios under wine are left out"
    fi
elif ! command -v wine >/dev/null 2>&1; then
    log "missing 'wine': run bash scripts/install-deps.sh"
    exit 1
fi
windows_build=$(cd "$windows_build" 2>/dev/null && pwd || echo "$windows_build")

cache="$build/vm"
mkdir -p "$cache"

apt_download() {  # apt_download PACKAGE INTO-FOLDER
    local options=()
    # apt drops to its own user for downloads, which cannot write into a root-owned folder.
    [[ $(id -u) -eq 0 ]] && options=(-o APT::Sandbox::User=root)
    (cd "$2" && apt-get download -q "${options[@]}" "$1" >&2)
}

# linux-image-amd64 names the current kernel package; its ABI number moves with Debian's updates.
resolve_kernel_package() {
    apt-cache depends linux-image-amd64 2>/dev/null |
        sed -n 's/^ *Depends: \(linux-image-[0-9][^ ]*-amd64\)$/\1/p' | head -n 1
}

# The bzImage holds an xz stream; the uncompressed kernel boots through PVH, which skips the slow
# decompression under emulation.
extract_vmlinux() {  # extract_vmlinux BZIMAGE OUT
    local offset
    offset=$(LC_ALL=C grep -obUaP '\xFD7zXZ\x00' "$1" | head -n 1 | cut -d: -f1)
    [[ -n $offset ]] || return 1
    tail -c +"$((offset + 1))" "$1" | xz -dc --single-stream >"$2.part" 2>/dev/null || true
    # Note 0x12 is the PVH entry point; without it QEMU cannot boot the ELF file directly.
    if LC_ALL=C readelf -n "$2.part" 2>/dev/null | grep -q 'note type: (0x00000012)'; then
        mv "$2.part" "$2"
    else
        rm -f "$2.part"
        return 1
    fi
}

build_initramfs() {  # build_initramfs KERNEL-TREE VERSION OUT
    local tree=$1 version=$2 out=$3 root
    root=$(mktemp -d "$cache/initramfs.XXXXXX")
    mkdir -p "$root"/{bin,dev,proc,sys,host,lib/modules/"$version"}
    cp /bin/busybox "$root/bin/busybox"
    install -m 0755 "$here/guest-init.sh" "$root/init"
    local module file
    for module in "${guest_modules[@]}"; do
        while read -r kind file _; do
            [[ $kind == insmod ]] || continue
            mkdir -p "$root/$(dirname "${file#"$tree"}")"
            cp -n "$file" "$root/${file#"$tree"}"
        done < <(modprobe -d "$tree" -S "$version" --show-depends "$module")
    done
    cp "$tree/lib/modules/$version"/modules.{builtin,builtin.modinfo,order} \
        "$root/lib/modules/$version/"
    depmod -b "$root" "$version"
    (cd "$root" && find . -mindepth 1 | LC_ALL=C sort | cpio -o -H newc --quiet) >"$out.part"
    mv "$out.part" "$out"
    rm -rf "$root"
}

# systemd-udevd for the runs that need it; unpacked only, the guest starts it from here.
prepare_udev() {  # prepare_udev OUT-FOLDER
    local out=$1 work
    [[ -x $out/bin/udevadm ]] && return 0
    work=$(mktemp -d "$cache/udev.XXXXXX")
    apt_download udev "$work"
    rm -rf "$out"
    dpkg -x "$work"/udev_*.deb "$out"
    rm -rf "$work"
}

prepare_guest() {
    local package version folder
    package=$(resolve_kernel_package)
    if [[ -z $package ]]; then
        # Offline or no package index: a guest prepared earlier still does.
        if [[ -e $cache/current ]]; then
            log "cannot resolve linux-image-amd64; using the guest prepared earlier"
            return 0
        fi
        log "cannot resolve linux-image-amd64 (apt-get update?)"
        return 1
    fi
    version=${package#linux-image-}
    folder="$cache/guest-$version"
    # The initramfs is rebuilt when its /init or the module list changed.
    local stamp
    stamp=$(cat "$here/guest-init.sh" <(printf '%s\n' "${guest_modules[@]}") | sha256sum | cut -c1-16)
    if [[ ! -f $folder/vmlinux || ! -f $folder/initramfs-$stamp.cpio ]]; then
        log "preparing the guest from $package"
        mkdir -p "$folder"
        # The package is kept (70 MB) rather than its unpacked tree (several hundred).
        if ! compgen -G "$folder/${package}_*.deb" >/dev/null; then
            apt_download "$package" "$folder"
        fi
        local tree
        tree=$(mktemp -d "$cache/kernel.XXXXXX")
        dpkg -x "$folder"/"$package"_*.deb "$tree"
        # The package's post-install step makes modules.dep; unpacking does not.
        depmod -b "$tree" "$version"
        if [[ ! -f $folder/vmlinux ]] &&
            ! extract_vmlinux "$tree/boot/vmlinuz-$version" "$folder/vmlinux"; then
            log "no PVH kernel in the bzImage; booting the bzImage (slower)"
            cp "$tree/boot/vmlinuz-$version" "$folder/vmlinux"
        fi
        rm -f "$folder"/initramfs-*.cpio
        build_initramfs "$tree" "$version" "$folder/initramfs-$stamp.cpio"
        rm -rf "$tree"
        # Guests of kernels that Debian has since replaced are not booted again.
        find "$cache" -mindepth 1 -maxdepth 1 -name 'guest-*' ! -name "guest-$version" \
            -exec rm -rf {} +
    fi
    ln -sfn "$folder/initramfs-$stamp.cpio" "$folder/initramfs.cpio"
    prepare_udev "$cache/udev"
    ln -sfn "$folder" "$cache/current"
}

# The wine prefix that the Windows scenarios start from, made on this machine (where it takes
# seconds, not minutes) and laid read-only under an overlay in the guest. Wine 8 finds no hidraw
# device while its SDL bus is on and libSDL2 is absent, so that bus is switched off.
prepare_wine_prefix() {  # prepare_wine_prefix FOLDER
    local prefix=$1
    [[ -f $prefix/.tarvex-ready ]] && return 0
    rm -rf "$prefix"
    WINEPREFIX=$prefix bash "$repo/scripts/wine-run.sh" --prefix "$windows_cli" >/dev/null &&
        WINEPREFIX=$prefix bash "$repo/scripts/wine-run.sh" reg add \
            'HKLM\System\CurrentControlSet\Services\winebus' /v 'Enable SDL' /t REG_DWORD /d 0 /f \
            >/dev/null 2>&1 &&
        WINEPREFIX=$prefix wineserver -w &&
        touch "$prefix/.tarvex-ready"
}

if ! prepare_guest; then
    log "the guest could not be prepared"
    exit 1
fi
if $run_windows && ! prepare_wine_prefix "$cache/wineprefix"; then
    log "the wine prefix for the guest could not be prepared"
    exit 1
fi
if $prepare_only; then
    closing_line_printed=true
    exit 0
fi

passed=0
failed=0

# boot_guest RUN-FOLDER CPU MEMORY [ENV-LINE...]: one guest boot running guest-tests.sh, with
# ENV-LINEs added to its guest.env; its results are added to passed and failed.
boot_guest() {
    local run=$1 cpu=$2 memory=$3
    shift 3
    rm -rf "$run"
    mkdir -p "$run"
    {
        echo "TARVEX_REPO='$repo'"
        echo "TARVEX_BUILD='$build'"
        echo "TARVEX_UDEV_ROOT='$cache/udev'"
        printf '%s\n' "$@"
    } >"$run/guest.env"

    log "booting the guest (TCG, -cpu $cpu)"
    local started=$SECONDS qemu_status
    set +e
    timeout --kill-after=10 "$limit" qemu-system-x86_64 \
        -accel tcg -machine pc -cpu "$cpu" -m "$memory" -smp 1 \
        -nodefaults -display none -no-reboot -serial stdio -monitor none -net none \
        -kernel "$cache/current/vmlinux" -initrd "$cache/current/initramfs.cpio" \
        -append "console=ttyS0 panic=-1 quiet loglevel=3 tarvex.run=$run tarvex.entry=$here/guest-tests.sh" \
        -virtfs "local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap" \
        -virtfs "local,path=$run,mount_tag=results,security_model=none" \
        </dev/null 2>&1 | tee "$run/console.log"
    qemu_status=${PIPESTATUS[0]}
    set -e
    log "guest ran $((SECONDS - started)) s (qemu status $qemu_status)"

    local results="$run/results"
    if [[ -f $results ]]; then
        passed=$((passed + $(grep -c '^ok ' "$results" || true)))
        failed=$((failed + $(grep -c '^FAIL ' "$results" || true)))
    fi
    if [[ ! -f $results ]] || ! grep -qx 'done' "$results"; then
        if [[ $qemu_status -eq 124 || $qemu_status -eq 137 ]]; then
            log "the guest did not finish within $limit s"
        else
            log "the guest did not finish its tests"
        fi
        failed=$((failed + 1))
    fi
}

# KVM is not used on purpose: here it aborts or crawls, and probing for it can hang. Under TCG
# "-cpu max" is safe and runs what the builds use (the ThreadSanitizer runtime needs more than
# the default CPU model offers).
boot_guest "$cache/run" max 512 "TARVEX_ONLY='$only'"
# Wine's processes die at start under "-cpu max" (a page fault in user mode); the default CPU
# model runs them. The guest's memory holds the overlay over the prefix and the copied program.
if $run_windows; then
    boot_guest "$cache/run-windows" qemu64 1024 TARVEX_SCENARIOS=windows \
        "TARVEX_WINDOWS_BUILD='$windows_build'" "TARVEX_WINE_PREFIX='$cache/wineprefix'"
elif $windows_build_required; then
    failed=$((failed + 1))
fi
finish "$passed" "$failed"
[[ $failed -eq 0 ]]
