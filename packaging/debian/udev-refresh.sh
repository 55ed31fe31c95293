#!/bin/sh
# The package's postinst and postrm (the same script under both names): once dpkg has put the
# udev rule in place (postinst configure) or taken it away (postrm remove), udevd reads its rules
# again and the vendor's attached USB devices, with the HID nodes below them, are processed anew.
# So the access the rule gives starts or ends at once, without replugging the device or rebooting.
# Where udevd does not run (a chroot, an image being built) there is nobody to tell, and nothing
# fails.
set -e

refresh_udev() {
    [ -d /run/udev ] || return 0
    command -v udevadm >/dev/null 2>&1 || return 0
    udevadm control --reload || return 0
    for device in /sys/bus/usb/devices/*; do
        [ "$(cat "$device/idVendor" 2>/dev/null)" = 3a7e ] || continue
        udevadm trigger --action=change --parent-match="$(readlink -f "$device")" || true
    done
}

case "$(basename "$0"):$1" in
    *postinst:configure | *postrm:remove)
        refresh_udev
        ;;
esac

exit 0
