#!/usr/bin/env bash
# The real-device scenarios, run as root inside the test guest that tests/vm/run-vm-tests.sh
# boots: the terminal program and the test binaries of a host build against devices that the
# guest's own kernel makes (uhid, USB gadgets on dummy_hcd, a mass-storage volume).
#
#   guest-tests.sh RUN-FOLDER          every scenario; one line per result in RUN-FOLDER/results
#   guest-tests.sh RUN-FOLDER NAME     one scenario, its verdict as exit status (the runner's way
#                                      of putting each scenario under its own time limit)
#
# RUN-FOLDER/guest.env names the repository, the build folder and the unpacked udev; for the
# Windows scenarios (TARVEX_SCENARIOS=windows) also the Windows build and the wine prefix that
# the host prepared.
set -u -o pipefail
run=$1
scenario=${2:-}
# shellcheck source=/dev/null
source "$run/guest.env"
self=$TARVEX_REPO/tests/vm/guest-tests.sh
build=$TARVEX_BUILD
cli=$build/cli/tarvex-update-cli
device=$build/sim/tarvex-virtual-device
vm_tests=$build/tests/vm/vm_tests
image=$build/sample/sample-firmware-v1.15.dat
results=$run/results

export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
export LANG=C.UTF-8 LANGUAGE= LC_ALL= LC_MESSAGES=
export HOME=/tmp
# What the sanitizer test presets set, for a sanitizer build under test; ignored otherwise.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
text_success="Firmware upgraded successful!"
text_failure="Firmware update failure"
text_permission="The update device was found but cannot be opened: permission denied."
text_busy="The device is busy with another update: another program is updating it. Try again once that update has finished."

# Bounds on waits: guards against hangs under emulation, never measurements. Wine's first start
# in the guest alone takes 15-25 s.
scenario_limit=120
wine_run_limit=150
device_ready_limit=30
run_end_limit=30

# --- helpers for one scenario ---------------------------------------------------------------

work=""
device_pids=()

fail() {
    echo "$*"
    exit 1
}

# Waits until FILE exists (or holds TEXT); false after SECONDS.
wait_for_file() {  # wait_for_file FILE SECONDS [TEXT]
    local deadline=$((SECONDS + $2))
    while ((SECONDS < deadline)); do
        if [[ -e $1 ]] && { [[ -z ${3:-} ]] || grep -qF -- "$3" "$1"; }; then
            return 0
        fi
        sleep 0.05
    done
    return 1
}

# Starts tarvex-virtual-device as NAME; sets node to the host's node for it (/dev/hidrawN or
# /dev/sdX). Its payload and counters land in $work/NAME.payload and $work/NAME.summary.
start_device() {  # start_device NAME ARGS...
    local name=$1
    shift
    "$device" --serial="$name" --ready-file="$work/$name.ready" \
        --payload-out="$work/$name.payload" --summary-out="$work/$name.summary" "$@" \
        >"$work/$name.log" 2>&1 &
    device_pids+=($!)
    eval "pid_$name=$!"
    if ! wait_for_file "$work/$name.ready" "$device_ready_limit"; then
        cat "$work/$name.log"
        fail "device $name did not come up"
    fi
    node=$(cat "$work/$name.ready")
}

# Ends device NAME (its gadget unbinds, its uhid device goes) and waits for its files.
stop_device() {  # stop_device NAME
    local pid_var="pid_$1"
    kill -TERM "${!pid_var}" 2>/dev/null
    wait "${!pid_var}" 2>/dev/null
    return 0
}

# summary_value NAME KEY: one counter of a stopped device.
summary_value() {
    sed -n "s/^$2=//p" "$work/$1.summary"
}

# The payload section of an image: after the lead section (big-endian LeadSize at bytes 12-13,
# plus 512) and the 28-byte header, PayloadLength (little-endian at header byte 8) bytes.
image_payload() {  # image_payload IMAGE > OUT
    local bytes lead length
    read -r -a bytes <<<"$(od -An -tu1 -j 12 -N 2 "$1")"
    lead=$((bytes[0] * 256 + bytes[1] + 512))
    read -r -a bytes <<<"$(od -An -tu1 -j $((lead + 8)) -N 4 "$1")"
    length=$((bytes[0] + bytes[1] * 256 + bytes[2] * 65536 + bytes[3] * 16777216))
    tail -c +$((lead + 28 + 1)) "$1" | head -c "$length"
}

image_lead() {  # image_lead IMAGE > OUT
    local bytes
    read -r -a bytes <<<"$(od -An -tu1 -j 12 -N 2 "$1")"
    head -c $((bytes[0] * 256 + bytes[1] + 512)) "$1"
}

# An image of LEAD-SIZE + 512 lead bytes and PAYLOAD random payload bytes, version 1.15.
make_image() {  # make_image OUT LEAD-SIZE PAYLOAD
    local out=$1 lead_size=$2 payload=$3
    head -c 12 /dev/urandom >"$out"
    printf "\\x$(printf %02x $((lead_size >> 8)))\\x$(printf %02x $((lead_size & 255)))" >>"$out"
    head -c $((lead_size + 512 - 14)) /dev/urandom >>"$out"
    le32() { printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) \
        $(($1 >> 16 & 255)) $(($1 >> 24 & 255)); }
    # version 115, beta 0, pad, target address, payload length, 16 device bytes
    printf '\x73\x00\x00\x00' >>"$out"
    printf "$(le32 $((0x08004000)))$(le32 "$payload")" >>"$out"
    printf 'SIM-DEV\x00\x01\x02\x03\x04\xee\xff\xc0\x00' >>"$out"
    head -c "$payload" /dev/urandom >>"$out"
}

# Runs the terminal program with a hang guard; its status in cli_status, output in
# $work/NAME.out and $work/NAME.err.
run_cli() {  # run_cli NAME ARGS...
    local name=$1
    shift
    timeout --kill-after=5 "$run_end_limit" "$cli" "$@" >"$work/$name.out" 2>"$work/$name.err" \
        </dev/null
    cli_status=$?
}

expect_cli() {  # expect_cli NAME STATUS LAST-LINE
    if [[ $cli_status -ne $2 ]]; then
        cat "$work/$1.out" "$work/$1.err"
        fail "$1: exit status $cli_status, wanted $2"
    fi
    local last
    last=$(tail -n 1 "$work/$1.out")
    if [[ -n $3 && $last != "$3" ]]; then
        cat "$work/$1.out" "$work/$1.err"
        fail "$1: last line '$last', wanted '$3'"
    fi
}

expect_payload() {  # expect_payload DEVICE IMAGE
    image_payload "$2" >"$work/expected.payload"
    [[ -s $work/expected.payload ]] || fail "no payload in $2"
    cmp "$work/expected.payload" "$work/$1.payload" ||
        fail "the payload assembled by $1 differs from the image's"
}

# --- scenarios ------------------------------------------------------------------------------

# --list names the HID update device and the drive-mode device, and nothing for a foreign HID
# device of another vendor.
scenario_list_real_devices() {
    start_device foreign --uhid --vendor=0x1234 --product=0x5678
    local foreign_node=$node
    start_device hidgadget --gadget
    local hid_node=$node
    truncate -s 64K "$work/plain.img"
    start_device drive --drive="$work/plain.img"
    run_cli list --list
    expect_cli list 0 ""
    cat "$work/list.out"
    grep -qx "hid 3a7e:6a11 $hid_node serial=hidgadget" "$work/list.out" ||
        fail "the HID gadget is not listed with its node and serial number"
    grep -q '^drive 3a7e:6a01 /sys/[^ ]* serial=drive$' "$work/list.out" ||
        fail "the drive-mode gadget is not listed with its serial number"
    grep -q "$foreign_node\|1234" "$work/list.out" && fail "the foreign device is listed"
    [[ $(wc -l <"$work/list.out") -eq 2 ]] || fail "more than the two devices listed"
}

# A whole update over hidraw to a uhid device: the payload the device assembled is the image's.
scenario_update_over_uhid() {
    start_device dev --uhid
    run_cli update --yes "$image"
    expect_cli update 0 "$text_success"
    stop_device dev
    expect_payload dev "$image"
    [[ $(summary_value dev finish) -eq 1 ]] || fail "the device saw no finish command"
}

# The same through a USB gadget, with a foreign HID device that the system lists before ours,
# and an image whose payload ends in a part chunk.
scenario_update_over_gadget_after_foreign_device() {
    # Both gadgets on dummy_hcd: the foreign one takes the first controller, so its hidraw node
    # comes first in the order hidapi lists (udev sorts by sysfs path).
    start_device foreign --gadget --udc=dummy_udc.0 --vendor=0x1234 --product=0x5678
    local foreign_node=$node
    start_device dev --gadget --udc=dummy_udc.1
    local first
    first=$(for entry in /sys/class/hidraw/*; do readlink -f "$entry"; done | sort | head -n 1)
    [[ $first == */${foreign_node#/dev/} ]] || fail "the foreign device is not listed first"
    make_image "$work/odd.dat" 0x0100 5000
    run_cli update --yes "$work/odd.dat"
    expect_cli update 0 "$text_success"
    stop_device dev
    stop_device foreign
    expect_payload dev "$work/odd.dat"
    [[ $(summary_value foreign output_reports) -eq 0 ]] ||
        fail "reports went to the foreign device"
}

# The device unplugged in the middle of the transfer (at data packet 40): the run ends with the
# failure text, and no poll follows the unplugging (nothing keeps polling a dead handle).
unplug_mid_transfer() {  # unplug_mid_transfer --uhid|--gadget
    start_device dev "$1" --disappear-at=42
    run_cli unplug --yes --trace "$image"
    local ended_ms
    ended_ms=$(date +%s%3N)
    expect_cli unplug 1 "$text_failure"
    stop_device dev
    [[ $(summary_value dev unplugged) -eq 1 ]] || fail "the device did not unplug itself"
    # The device program notes when it unplugged (within its 50 ms slice); for the log only.
    echo "the program ended $((ended_ms - $(summary_value dev ended_at_ms))) ms after the unplug"
    # The trace holds every report written; after the last data packet (command 0) the program
    # may send at most one poll (the pass that found the device gone). (mawk has no {n}.)
    local counts data after
    counts=$(awk '/^> 81 [0-9A-F][0-9A-F] 00 16 .. .. 00 / { data++; polls = 0; next }
                  /^> 81 05 00 1D / { polls++ } END { print data + 0, polls + 0 }' \
        "$work/unplug.err")
    read -r data after <<<"$counts"
    [[ $data -ge 40 ]] || fail "only $data data packets in the trace"
    [[ $after -le 1 ]] || fail "$after polls after the device went away"
}
scenario_unplug_uhid_mid_transfer() { unplug_mid_transfer --uhid; }
scenario_unplug_gadget_mid_transfer() { unplug_mid_transfer --gadget; }

# --wait: started before the device exists, it updates the device once the gadget is bound;
# with udevd the notices come from udevd, without it from the kernel.
wait_then_update() {
    timeout --kill-after=5 "$run_end_limit" "$cli" --wait=60 --yes "$image" \
        >"$work/wait.out" 2>"$work/wait.err" </dev/null &
    local cli_pid=$!
    wait_for_file "$work/wait.out" 10 "Waiting" || {
        cat "$work/wait.out" "$work/wait.err"
        fail "the program did not say it waits"
    }
    start_device dev --gadget
    wait "$cli_pid"
    cli_status=$?
    expect_cli wait 0 "$text_success"
    stop_device dev
    expect_payload dev "$image"
}
scenario_wait_then_update() { wait_then_update; }
scenario_wait_then_update_with_udevd() {
    start_udevd
    wait_then_update
}
# udevd's control socket without a udevd whose events reach us, as in a container that sees
# the host's /run: the kernel's own events must still be heard.
scenario_wait_then_update_with_silent_udevd() {
    mkdir -p /run/udev
    : >/run/udev/control
    wait_then_update
}

# The udev rule gives the seat's user the hidraw nodes of the vendor's own devices only: the
# update device's node gets the uaccess tag, a foreign device's does not.
scenario_udev_rule_tags_own_devices() {
    mkdir -p /run/udev/rules.d
    cp "$TARVEX_REPO/packaging/udev/60-tarvex-update.rules" /run/udev/rules.d/
    start_udevd
    start_device foreign --gadget --udc=dummy_udc.0 --vendor=0x1234 --product=0x5678
    local foreign_node=$node
    start_device dev --gadget --udc=dummy_udc.1
    SYSTEMD_IGNORE_CHROOT=1 "$TARVEX_UDEV_ROOT/bin/udevadm" settle --timeout=20
    local tags
    tags=$(SYSTEMD_IGNORE_CHROOT=1 "$TARVEX_UDEV_ROOT/bin/udevadm" info -q property -n "$node" |
        grep '^TAGS=')
    echo "$node: $tags"
    [[ $tags == *:uaccess:* ]] || fail "the update device's node has no uaccess tag"
    tags=$(SYSTEMD_IGNORE_CHROOT=1 "$TARVEX_UDEV_ROOT/bin/udevadm" info -q property \
        -n "$foreign_node" | grep '^TAGS=')
    echo "$foreign_node: $tags"
    [[ $tags != *:uaccess:* ]] || fail "the foreign device's node has the uaccess tag"
}

# --wait=1 with nothing attached gives up after its time with the no-device message.
scenario_wait_gives_up() {
    run_cli waitnone --wait=1 --yes "$image"
    expect_cli waitnone 1 ""
    grep -q "No updatable device" "$work/waitnone.err" || fail "no 'no device' message"
}

# Runs ARGS as the unprivileged user (nobody, no groups) from the scenario's work folder, with a
# hang guard; its status in cli_status, output in $work/NAME.out and $work/NAME.err. setpriv
# starts its program while root's capabilities are still in effect, so it would start a program
# in a folder that user cannot search: env starts it as the user, as the user's shell would.
run_as_nobody() {  # run_as_nobody NAME ARGS...
    local name=$1
    shift
    cli_status=0
    (cd "$work" && timeout --kill-after=5 "$run_end_limit" \
        setpriv --reuid=65534 --regid=65534 --clear-groups env -- "$@") \
        >"$work/$name.out" 2>"$work/$name.err" </dev/null || cli_status=$?
}

# A user without access to the hidraw node gets the permission text, not silence.
scenario_permission_text() {
    # The checkout may live where that user cannot reach (below /root, mode 0700): the program
    # and the image it is given are copied into the work folder, so that the node's permission
    # is the only thing the run can trip over.
    local own_cli=$work/bin/tarvex-update-cli own_image=$work/image.dat
    install -D -m 0755 "$cli" "$own_cli"
    install -m 0644 "$image" "$own_image"
    start_device dev --gadget
    [[ $(stat -c %a "$node") == 600 ]] || fail "$node is not private to root"
    run_as_nobody reach cat "$own_image"
    cmp -s "$own_image" "$work/reach.out" || {
        cat "$work/reach.err"
        fail "the unprivileged user cannot read the image"
    }
    # Listing needs no access to the node: the program runs for that user and sees the device.
    run_as_nobody perm-list "$own_cli" --list
    expect_cli perm-list 0 ""
    grep -qx "hid 3a7e:6a11 $node serial=dev" "$work/perm-list.out" || {
        cat "$work/perm-list.out" "$work/perm-list.err"
        fail "the unprivileged user's listing does not show $node"
    }
    run_as_nobody perm "$own_cli" --yes "$own_image"
    expect_cli perm 1 ""
    grep -qF "$text_permission" "$work/perm.err" || {
        cat "$work/perm.out" "$work/perm.err"
        fail "no permission text"
    }
    stop_device dev
    [[ $(summary_value dev output_reports) -eq 0 ]] || fail "reports reached the device"
}

# One program per device: while a first program updates a real kernel device, a second one
# started against it says that the device is busy and writes nothing, not even a version query;
# the first one's update arrives whole. Every report the device took is one the first program's
# trace shows it sent.
scenario_second_program_is_refused() {
    start_device dev --uhid --latency=20
    make_image "$work/long.dat" 0x0100 8000
    timeout --kill-after=5 "$run_end_limit" "$cli" --yes --trace "$work/long.dat" \
        >"$work/first.out" 2>"$work/first.err" </dev/null &
    local first_pid=$!
    # The update request is on its way: the first program holds the device from before it.
    wait_for_file "$work/first.err" 20 "> 81 05 00 1A" || {
        cat "$work/first.out" "$work/first.err"
        fail "the first program sent no update request"
    }
    run_cli second --yes "$work/long.dat"
    expect_cli second 1 ""
    grep -qF "$text_busy" "$work/second.err" || {
        cat "$work/second.out" "$work/second.err"
        fail "the second program did not say that the device is busy"
    }
    wait "$first_pid"
    cli_status=$?
    expect_cli first 0 "$text_success"
    stop_device dev
    expect_payload dev "$work/long.dat"
    local sent
    sent=$(grep -c '^> ' "$work/first.err")
    [[ $(summary_value dev output_reports) -eq $sent ]] ||
        fail "the device took $(summary_value dev output_reports) reports, the first program sent $sent"
    # Once the first one is done, the same device can be updated by another program.
    start_device again --uhid
    run_cli third --yes "$image"
    expect_cli third 0 "$text_success"
}

# Two update devices at once: --list shows both with node and serial number; without --device
# the program lists them, exits with 2 and sends nothing; --device picks one by its node or its
# serial number, and the other gets nothing.
scenario_two_update_devices() {
    start_device first --uhid
    local first_node=$node
    start_device second --gadget
    local second_node=$node
    run_cli list --list
    expect_cli list 0 ""
    cat "$work/list.out"
    grep -qx "hid 3a7e:6a11 $first_node serial=first" "$work/list.out" || fail "first not listed"
    grep -qx "hid 3a7e:6a11 $second_node serial=second" "$work/list.out" ||
        fail "second not listed"
    [[ $(wc -l <"$work/list.out") -eq 2 ]] || fail "not exactly the two devices listed"

    run_cli nochoice --yes "$image"
    expect_cli nochoice 2 ""
    cmp -s "$work/list.out" "$work/nochoice.out" || {
        cat "$work/nochoice.out" "$work/nochoice.err"
        fail "without --device the devices were not listed as --list lists them"
    }
    run_cli listone --list --device=first
    expect_cli listone 0 "hid 3a7e:6a11 $first_node serial=first"
    [[ $(wc -l <"$work/listone.out") -eq 1 ]] || fail "--list --device listed more than one"

    run_cli bynode --yes --device="$second_node" "$image"
    expect_cli bynode 0 "$text_success"
    stop_device first
    [[ $(summary_value first output_reports) -eq 0 ]] || fail "reports reached the device not chosen"
    stop_device second
    expect_payload second "$image"

    start_device third --uhid
    start_device fourth --uhid
    run_cli byserial --yes --device=fourth "$image"
    expect_cli byserial 0 "$text_success"
    stop_device third
    stop_device fourth
    [[ $(summary_value third output_reports) -eq 0 ]] || fail "reports reached the device not chosen"
    expect_payload fourth "$image"
}

# A FAT volume image that the drive-copy rule takes for a device's: 213 sectors, one sector per
# cluster, no alignment: 209 clusters of 512 bytes = 107,008 bytes through statvfs, inside the
# 104 KiB rule once the low 10 bits are cleared.
make_device_volume() {  # make_device_volume IMAGE
    truncate -s $((213 * 512)) "$1"
    mkfs.fat -a -s 1 -S 512 -r 16 -f 2 "$1" >/dev/null || fail "mkfs.fat failed"
}

# Two volumes of the device's size that are not the device's, mounted where they sort before
# the device's: a tmpfs, and a FAT volume on a loop device (block-backed, as the device's is).
mount_decoys() {
    mkdir -p "$work/a-decoy" "$work/a-decoy-fat" "$work/b-volume"
    mount -t tmpfs -o size=104k tmpfs "$work/a-decoy" || fail "cannot mount the tmpfs decoy"
    make_device_volume "$work/decoy.img"
    mount -o loop "$work/decoy.img" "$work/a-decoy-fat" || fail "cannot mount the FAT decoy"
    local capacity
    capacity=$(($(stat -f -c '%b * %S' "$work/a-decoy-fat")))
    ((capacity >= 106496 && capacity <= 107519)) || fail "the FAT decoy holds $capacity bytes"
}

expect_decoys_untouched() {
    [[ ! -e $work/a-decoy/1.dat ]] || fail "1.dat went onto the tmpfs decoy"
    [[ ! -e $work/a-decoy-fat/1.dat ]] || fail "1.dat went onto the FAT decoy"
    umount "$work/a-decoy" "$work/a-decoy-fat"
}

# Starts the terminal program with --wait=SECONDS and the kept copy in $work/cache, in the
# background (cli_pid), and waits until it says that it waits for a device.
start_waiting_drive_copy() {  # start_waiting_drive_copy NAME SECONDS IMAGE
    XDG_CACHE_HOME=$work/cache timeout --kill-after=5 "$run_end_limit" "$cli" --wait="$2" --yes \
        "$3" >"$work/$1.out" 2>"$work/$1.err" </dev/null &
    cli_pid=$!
    wait_for_file "$work/$1.out" 10 "Waiting" || {
        cat "$work/$1.out" "$work/$1.err"
        fail "the program did not say it waits"
    }
}

# After the device's volume was unmounted and the device stopped: its backing image holds the
# image's lead section as 1.dat.
expect_lead_on_device() {  # expect_lead_on_device IMAGE
    mkdir -p "$work/check"
    mount -o loop,ro "$work/drive.img" "$work/check" || fail "cannot mount the backing image"
    image_lead "$1" >"$work/expected.lead"
    cmp "$work/expected.lead" "$work/check/1.dat" || fail "1.dat is not the lead section"
    umount "$work/check"
}

# The drive-copy update onto the mass-storage gadget's volume, mounted before the program runs.
scenario_drive_copy() {
    make_device_volume "$work/drive.img"
    mount_decoys
    start_device drive --drive="$work/drive.img"
    mount "$node" "$work/b-volume" || fail "cannot mount $node"
    make_image "$work/drive.dat" 0x2000 4096
    XDG_CACHE_HOME=$work/cache run_cli copy --yes "$work/drive.dat"
    expect_cli copy 0 "$text_success"
    expect_decoys_untouched
    image_lead "$work/drive.dat" >"$work/expected.lead"
    cmp "$work/expected.lead" "$work/cache/tarvex-update/1.dat" ||
        fail "the copy kept in the cache is not the lead section"
    umount "$work/b-volume" || fail "cannot unmount the volume"
    stop_device drive
    expect_lead_on_device "$work/drive.dat"
}

# --wait, then the drive-mode device: the program starts before the device is plugged in, the
# device's volume is mounted a few seconds after it arrived, and only that volume is written.
scenario_drive_copy_after_wait() {
    make_device_volume "$work/drive.img"
    mount_decoys
    make_image "$work/drive.dat" 0x1000 2048
    start_waiting_drive_copy wait 60 "$work/drive.dat"
    start_device drive --drive="$work/drive.img"
    wait_for_file "$work/wait.out" 10 "volume to be mounted" || {
        cat "$work/wait.out" "$work/wait.err"
        fail "the program did not wait for the device's volume"
    }
    sleep 3
    mount "$node" "$work/b-volume" || fail "cannot mount $node"
    wait "$cli_pid"
    cli_status=$?
    expect_cli wait 0 "$text_success"
    cat "$work/wait.out"
    expect_decoys_untouched
    umount "$work/b-volume" || fail "cannot unmount the volume"
    stop_device drive
    expect_lead_on_device "$work/drive.dat"
}

# The device's volume never gets mounted: the wait ends with --wait's limit, the failure text
# and a word on mounting it, and nothing is written anywhere.
scenario_drive_copy_volume_never_mounted() {
    make_device_volume "$work/drive.img"
    mount_decoys
    make_image "$work/drive.dat" 0x1000 2048
    start_waiting_drive_copy never 12 "$work/drive.dat"
    start_device drive --drive="$work/drive.img"
    wait "$cli_pid"
    cli_status=$?
    expect_cli never 1 "$text_failure"
    cat "$work/never.out" "$work/never.err"
    grep -q "volume was not mounted in time: mount it" "$work/never.err" ||
        fail "the program did not say to mount the volume"
    expect_decoys_untouched
    stop_device drive
    mkdir -p "$work/check"
    mount -o loop,ro "$work/drive.img" "$work/check" || fail "cannot mount the backing image"
    [[ ! -e $work/check/1.dat ]] || fail "1.dat reached the device"
    umount "$work/check"
}

# The engine over the real backends (gtest): version query, button and version text on
# arrival and removal, unplugging mid-run; without udevd the monitor listens to the kernel.
scenario_engine_without_udevd() {
    [[ ! -e /run/udev/control ]] || fail "udevd is running"
    run_gtests
}

scenario_engine_with_udevd() {
    start_udevd
    run_gtests
}

# The rule keeps USB runtime power management off for the devices in update mode, the HID
# update device and a drive-mode device: with udevd and the rule, power/control reads "on", and
# turning it to "auto" does not last past the device's next announcement.
scenario_autosuspend_stays_off() {
    start_udevd "$TARVEX_REPO/packaging/udev/60-tarvex-update.rules"
    truncate -s 64K "$work/plain.img"
    local name product usb
    for name in hid drive; do
        if [[ $name == hid ]]; then
            start_device hid --gadget
            product=6a11
        else
            start_device drive --drive="$work/plain.img"
            product=6a01
        fi
        udevadm_in_guest settle --timeout=10
        usb=$(usb_device 3a7e "$product") || fail "no USB device 3a7e:$product"
        [[ $(cat "$usb/power/control") == on ]] ||
            fail "$name: power/control is $(cat "$usb/power/control")"
        echo auto >"$usb/power/control"
        udevadm_in_guest trigger --action=add "$usb"
        udevadm_in_guest settle --timeout=10
        [[ $(cat "$usb/power/control") == on ]] || fail "$name: the rule did not turn it on again"
        stop_device "$name"
    done
}

# The sysfs folder of the USB device with these IDs (the first, if several).
usb_device() {  # usb_device VENDOR PRODUCT
    local device
    for device in /sys/bus/usb/devices/*; do
        if [[ -f $device/idVendor && $(cat "$device/idVendor") == "$1" &&
            $(cat "$device/idProduct") == "$2" ]]; then
            echo "$device"
            return 0
        fi
    done
    return 1
}

# --- UDisks2: a desktop that mounts nothing by itself ------------------------------------------

# A system bus of the guest's own with UDisks2's daemon on it (the bus starts polkitd for it),
# and udevd, whose properties UDisks2 reads. /media, where UDisks2 mounts root's volumes, is the
# guest's own. Nothing mounts a volume by itself here, as on a desktop without automounting.
start_udisks() {
    start_udevd
    mkdir -p /run/dbus /media
    mount -t tmpfs -o mode=0755 tmpfs /media || fail "cannot mount a tmpfs on /media"
    dbus-daemon --system --fork || fail "the system bus did not start"
    wait_for_file /run/dbus/system_bus_socket 10 || fail "the system bus made no socket"
    # From a subshell, so that the scenario's closing wait for its children does not wait for it.
    (/usr/libexec/udisks2/udisksd >"$work/udisksd.log" 2>&1 &
        echo $! >/run/tarvex-udisksd.pid)
    local deadline=$((SECONDS + 20))
    until dbus-send --system --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner string:org.freedesktop.UDisks2 2>/dev/null |
        grep -q 'boolean true'; do
        ((SECONDS < deadline)) || { cat "$work/udisksd.log"; fail "udisksd did not come up"; }
        sleep 0.1
    done
}

stop_udisks() {
    [[ -f /run/tarvex-udisksd.pid ]] && kill "$(cat /run/tarvex-udisksd.pid)" 2>/dev/null
    [[ -f /run/dbus/pid ]] && kill "$(cat /run/dbus/pid)" 2>/dev/null
    rm -rf /run/dbus /run/tarvex-udisksd.pid
    umount -q /media/*/* /media 2>/dev/null
    return 0
}

# Whether a mount of the block device NODE is left anywhere.
expect_not_mounted() {  # expect_not_mounted NODE WHAT
    ! grep -q "^$1 " /proc/mounts || { grep "^$1 " /proc/mounts; fail "$2 is left mounted"; }
}

# The decoy: a FAT stick of the device's size on the second controller, another product, not
# in drive mode; nobody may mount or write it.
start_decoy_stick() {
    make_device_volume "$work/decoy.img"
    start_device decoy --drive="$work/decoy.img" --vendor=0x1234 --product=0x5678 \
        --udc=dummy_udc.1
    decoy_node=$node
}

expect_decoy_stick_untouched() {
    expect_not_mounted "$decoy_node" "the decoy stick"
    stop_device decoy
    mkdir -p "$work/check"
    mount -o loop,ro "$work/decoy.img" "$work/check" || fail "cannot mount the decoy's image"
    [[ ! -e $work/check/1.dat ]] || fail "1.dat went onto the decoy stick"
    umount "$work/check"
}

# Nobody mounts the device's volume: the program, started with --wait before the device is
# plugged in, mounts the volume through UDisks2, copies, and unmounts it again.
drive_copy_mounted_through_udisks() {
    make_device_volume "$work/drive.img"
    make_image "$work/drive.dat" 0x1000 2048
    # UDisks2 takes the new device in (probes it) before it can mount it: slow under emulation.
    local run_end_limit=60 started=$SECONDS
    start_waiting_drive_copy copy 60 "$work/drive.dat"
    start_device drive --drive="$work/drive.img" --udc=dummy_udc.0
    echo "the device came after $((SECONDS - started)) s"
    wait "$cli_pid"
    cli_status=$?
    echo "the program ran $((SECONDS - started)) s"
    cat "$work/copy.out" "$work/copy.err"
    expect_cli copy 0 "$text_success"
    grep -qx "Mounting the drive-mode device's volume $node..." "$work/copy.out" ||
        fail "the program did not say that it mounts the volume"
    grep -q "^Mounted $node at /media/" "$work/copy.out" || fail "no line on the mount"
    grep -qx "Unmounted $node again." "$work/copy.out" || fail "no line on the unmount"
    expect_not_mounted "$node" "the device's volume"
    stop_device drive
    expect_lead_on_device "$work/drive.dat"
}

# The user mounted the device's volume: the program writes it, mounts nothing, and leaves the
# user's mount in place.
drive_copy_user_mount_stays() {
    make_device_volume "$work/drive.img"
    start_device mounted --drive="$work/drive.img" --udc=dummy_udc.0
    mkdir -p "$work/b-volume"
    mount "$node" "$work/b-volume" || fail "cannot mount $node"
    make_image "$work/drive.dat" 0x2000 4096
    XDG_CACHE_HOME=$work/cache run_cli user --yes "$work/drive.dat"
    cat "$work/user.out" "$work/user.err"
    expect_cli user 0 "$text_success"
    grep -q "Mount\|Unmount" "$work/user.out" && fail "the program mounted or unmounted"
    grep -q "^$node $work/b-volume " /proc/mounts || fail "the user's mount is gone"
    umount "$work/b-volume" || fail "cannot unmount the volume"
    stop_device mounted
    expect_lead_on_device "$work/drive.dat"
}

# UDisks2 refuses: here to a user other than root, whom no polkit grants it. The run ends with
# the reason and status 1, and nothing is mounted or written.
drive_copy_mount_refused() {
    make_device_volume "$work/drive.img"
    start_device refused --drive="$work/drive.img" --udc=dummy_udc.0
    make_image "$work/drive.dat" 0x1000 2048
    mkdir -p "$work/nobody-cache"
    chown nobody "$work/nobody-cache"
    chmod 0644 "$work/drive.dat"
    XDG_CACHE_HOME=$work/nobody-cache HOME=$work/nobody-cache timeout --kill-after=5 \
        "$run_end_limit" setpriv --reuid=nobody --regid=nogroup --clear-groups -- "$cli" --yes \
        "$work/drive.dat" >"$work/refused.out" 2>"$work/refused.err" </dev/null
    cli_status=$?
    cat "$work/refused.out" "$work/refused.err"
    expect_cli refused 1 "$text_failure"
    grep -q "^Mounting $node was refused: org.freedesktop" "$work/refused.err" ||
        fail "the program did not say that the mount was refused"
    grep -q "^Nothing was written" "$work/refused.err" || fail "no reason that says what to do"
    expect_not_mounted "$node" "the device's volume"
    stop_device refused
    mkdir -p "$work/check"
    mount -o loop,ro "$work/drive.img" "$work/check" || fail "cannot mount the backing image"
    [[ ! -e $work/check/1.dat ]] || fail "1.dat reached the device"
    umount "$work/check"
}

# A desktop that mounts nothing by itself, with UDisks2 (started once: it takes long to start
# under emulation): the program mounts and unmounts the device's volume itself, leaves a user's
# mount alone, and ends with the reason when UDisks2 refuses. A decoy FAT stick of the device's
# size on another gadget is attached throughout and is never mounted or written.
scenario_drive_copy_through_udisks() {
    start_udisks
    start_decoy_stick
    drive_copy_mounted_through_udisks
    drive_copy_user_mount_stays
    drive_copy_mount_refused
    expect_decoy_stick_untouched
}

# --- udevd ------------------------------------------------------------------------------------

# Debian's systemd-udevd, unpacked by the harness, with its own rules and any rule files given;
# inside the chroot it must be told that running here is meant.
start_udevd() {  # start_udevd [RULE-FILE...]
    export SYSTEMD_IGNORE_CHROOT=1
    mkdir -p /run/udev/rules.d
    cp "$TARVEX_UDEV_ROOT"/lib/udev/rules.d/*.rules "$@" /run/udev/rules.d/ 2>/dev/null
    (exec -a systemd-udevd "$TARVEX_UDEV_ROOT/bin/udevadm" --daemon) || fail "udevd did not start"
    wait_for_file /run/udev/control 10 || fail "udevd made no control socket"
}

udevadm_in_guest() {
    SYSTEMD_IGNORE_CHROOT=1 "$TARVEX_UDEV_ROOT/bin/udevadm" "$@"
}

stop_udevd() {
    [[ -e /run/udev/control ]] || return 0
    SYSTEMD_IGNORE_CHROOT=1 "$TARVEX_UDEV_ROOT/bin/udevadm" control --exit 2>/dev/null
    rm -rf /run/udev
}

# --- the Windows terminal program under wine ---------------------------------------------------

# A whole update of the USB HID gadget by the Windows build's terminal program under wine: the
# HID stack wine shows a Windows program (SetupAPI, HidD_*, overlapped ReadFile, WriteFile) over
# the guest's real hidraw node. The payload the device assembled must be the image's.
scenario_windows_update_over_gadget() {
    local exe=$work/tarvex-update-cli.exe prefix=$work/wineprefix
    local original=$TARVEX_WINDOWS_BUILD/cli/tarvex-update-cli.exe
    # A large file read over 9p can come back partly zeroed here: wine gets the guest's own copy.
    if ! cp "$original" "$exe" || ! cmp -s "$original" "$exe"; then
        fail "cannot copy $original intact"
    fi
    # The host's prepared prefix, made writable by an overlay in the guest's memory (a prefix
    # of its own would be larger than the guest's memory).
    mkdir -p "$prefix" "$work/prefix-upper" "$work/prefix-work"
    mount -t overlay overlay -o "lowerdir=$TARVEX_WINE_PREFIX,upperdir=$work/prefix-upper,workdir=$work/prefix-work" \
        "$prefix" || fail "cannot lay an overlay over the wine prefix $TARVEX_WINE_PREFIX"
    export WINEPREFIX=$prefix WINEDEBUG=-all DISPLAY=
    export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"

    start_device dev --gadget
    cp "$image" "$work/image.dat"
    local started=$SECONDS
    timeout --kill-after=5 "$wine_run_limit" wine "$exe" --yes "Z:${work//\//\\}\\image.dat" \
        >"$work/update.out" 2>"$work/update.err" </dev/null
    cli_status=$?
    echo "the Windows program ran $((SECONDS - started)) s under wine (its first start here)"
    wineserver -k 2>/dev/null
    wineserver -w 2>/dev/null
    umount "$prefix" 2>/dev/null
    # Windows ends its console lines with CR LF.
    tr -d '\r' <"$work/update.out" >"$work/update.lines"
    cp "$work/update.lines" "$work/update.out"
    expect_cli update 0 "$text_success"
    stop_device dev
    expect_payload dev "$image"
    [[ $(summary_value dev finish) -eq 1 ]] || fail "the device saw no finish command"
}

# Runs the gtest binary; every case must pass, and none may skip here.
run_gtests() {
    "$vm_tests" --gtest_color=no >"$work/gtest.out" 2>&1
    local status=$?
    cat "$work/gtest.out"
    grep -q '^\[  SKIPPED \]' "$work/gtest.out" && fail "a test skipped in the guest"
    grep -q '^\[  PASSED  \]' "$work/gtest.out" || fail "the test binary did not pass"
    return $status
}

# --- the runner -------------------------------------------------------------------------------

windows_scenarios=(
    windows_update_over_gadget
)
scenarios=(
    list_real_devices
    update_over_uhid
    update_over_gadget_after_foreign_device
    unplug_uhid_mid_transfer
    unplug_gadget_mid_transfer
    wait_then_update
    wait_then_update_with_udevd
    wait_then_update_with_silent_udevd
    udev_rule_tags_own_devices
    wait_gives_up
    permission_text
    second_program_is_refused
    two_update_devices
    drive_copy
    drive_copy_after_wait
    drive_copy_volume_never_mounted
    drive_copy_through_udisks
    engine_without_udevd
    engine_with_udevd
    autosuspend_stays_off
)

# Anything a killed scenario left behind: gadgets (unbound first), mounts, UDisks2, udevd.
clean_up_leftovers() {
    local gadget
    for gadget in /sys/kernel/config/usb_gadget/*/; do
        [[ -d $gadget ]] || continue
        echo "" >"$gadget/UDC" 2>/dev/null
        find "$gadget/configs" -maxdepth 2 -type l -delete 2>/dev/null
        rmdir "$gadget"/configs/*/strings/* "$gadget"/configs/* "$gadget"/functions/* \
            "$gadget"/strings/* "$gadget" 2>/dev/null
    done
    stop_udisks
    stop_udevd
}

if [[ -n $scenario ]]; then
    work=$(mktemp -d "/tmp/$scenario.XXXXXX")
    chmod 0755 "$work"
    # Every device this scenario started goes when it ends, whichever way it ends.
    trap 'for p in "${device_pids[@]}"; do kill -TERM "$p" 2>/dev/null; done; wait; \
          umount -q "$work"/* 2>/dev/null; true' EXIT
    "scenario_$scenario"
    exit $?
fi

if [[ -n ${TARVEX_ONLY:-} ]]; then
    IFS=, read -r -a scenarios <<<"$TARVEX_ONLY"
fi
if [[ ${TARVEX_SCENARIOS:-} == windows ]]; then
    scenarios=("${windows_scenarios[@]}")
    scenario_limit=$((wine_run_limit + 30))
fi
: >"$results"
echo "guest: $(uname -r), $(nproc) CPU; testing $build${TARVEX_WINDOWS_BUILD:+ and $TARVEX_WINDOWS_BUILD}"
for name in "${scenarios[@]}"; do
    log="$run/$name.log"
    started=$SECONDS
    limit=$scenario_limit
    # UDisks2 and polkitd alone take about 20 s to start under emulation.
    [[ $name == drive_copy_through_udisks ]] && limit=$((scenario_limit + 60))
    if timeout --kill-after=5 "$limit" bash "$self" "$run" "$name" >"$log" 2>&1; then
        echo "ok $name" | tee -a "$results"
    else
        echo "FAIL $name" | tee -a "$results"
        sed 's/^/    /' "$log" | tail -n 25
    fi
    echo "   ($((SECONDS - started)) s)"
    clean_up_leftovers
done
echo done >>"$results"
