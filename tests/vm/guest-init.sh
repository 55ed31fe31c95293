#!/bin/busybox sh
# /init of the test guest's initramfs (busybox sh). Loads the drivers that nothing else would load
# (there is no udev yet), mounts the host's root read-only and the run folder read-write over 9p,
# runs the guest's test script in a chroot of the host's root, then powers the guest off.
#
# Kernel command line: tarvex.run=/abs/run/folder tarvex.entry=/abs/script
/bin/busybox --install -s /bin
export PATH=/bin

mount -t devtmpfs devtmpfs /dev
mount -t proc proc /proc
mount -t sysfs sysfs /sys

cmdline_value() {
    for word in $(cat /proc/cmdline); do
        case "$word" in
            "$1"=*) echo "${word#*=}" ;;
        esac
    done
}

say() {
    echo "guest-init: $*" >/dev/console
}

# hid-generic must be there before the first HID device appears, or no hidraw node is made;
# usb-storage waits a second before scanning unless told not to.
for module in virtio_pci 9pnet_virtio 9p configfs loop hid-generic uhid usbhid \
    libcomposite usb_f_hid usb_f_mass_storage sd_mod vfat nls_cp437 nls_ascii overlay; do
    modprobe "$module" || say "cannot load $module"
done
modprobe usb-storage delay_use=0 || say "cannot load usb-storage"
modprobe dummy_hcd num=2 || say "cannot load dummy_hcd"
mount -t configfs configfs /sys/kernel/config

run=$(cmdline_value tarvex.run)
entry=$(cmdline_value tarvex.entry)
nine_p="trans=virtio,version=9p2000.L,msize=512000"

mkdir -p /host
if ! mount -t 9p -o "$nine_p,ro,cache=loose" hostroot /host; then
    say "cannot mount the host's root"
    poweroff -f
fi
# The checkout (three levels above the entry script) is kept before the guest's own tmpfs goes on
# /tmp and /run: a checkout below either (CI may clone into /tmp) would be hidden otherwise.
repo=$(dirname "$(dirname "$(dirname "$entry")")")
mkdir -p /checkout
mount -o bind "/host$repo" /checkout

mount -t devtmpfs devtmpfs /host/dev
mkdir -p /host/dev/pts /host/dev/shm 2>/dev/null
mount -t devpts devpts /host/dev/pts
mount -t tmpfs tmpfs /host/dev/shm
mount -t proc proc /host/proc
mount -t sysfs sysfs /host/sys
mount -t configfs configfs /host/sys/kernel/config
mount -t tmpfs tmpfs /host/tmp
mount -t tmpfs tmpfs /host/run
case "$repo" in
    /tmp/* | /run/*)
        mkdir -p "/host$repo"
        mount -o bind /checkout "/host$repo"
        ;;
esac

# The run folder is shared at its own path, so that paths mean the same on both sides.
if ! mount -t 9p -o "$nine_p,rw" results "/host$run"; then
    say "cannot mount the run folder"
    poweroff -f
fi

chroot /host /bin/bash "$entry" "$run" </dev/console >/dev/console 2>&1
say "guest script ended with status $?"

sync
poweroff -f
