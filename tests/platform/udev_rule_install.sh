#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks that the udev rule landed where udev reads
# rules and grants the seat's user access to the devices' hidraw nodes.
# Usage: udev_rule_install.sh BUILD-DIRECTORY
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null
rule="$prefix/lib/udev/rules.d/60-tarvex-update.rules"
if [[ ! -f $rule ]]; then
    echo "FAIL: no rule at $rule"; find "$prefix" -type f; exit 1
fi
active=$(grep -vE '^[[:space:]]*(#|$)' "$rule")
# The hidraw nodes of the vendor's own HID devices get the uaccess tag, matched by the node's own
# HID device (bus:vendor:product in its kernel name).
expected='SUBSYSTEM=="hidraw", SUBSYSTEMS=="hid", KERNELS=="0003:3A7E:*", TAG+="uaccess"'
if [[ $(grep -c 'uaccess' <<<"$active") -ne 1 ]] || ! grep -qxF -- "$expected" <<<"$active"; then
    echo "FAIL: no single uaccess line '$expected'; rule lines are:"; echo "$active"; exit 1
fi
# ATTRS{idVendor} matches any device up the chain: a hub of the vendor would hand out every
# device plugged into it.
if grep -q 'uaccess' <<<"$(grep -F 'ATTRS{idVendor}' <<<"$active")"; then
    echo "FAIL: access is granted by a parent's vendor:"; echo "$active"; exit 1
fi
# Runtime power management off for the devices in update mode (tried on a real device with
# udevd in the guest of tests/vm).
power='ACTION!="remove", SUBSYSTEM=="usb", ENV{DEVTYPE}=="usb_device", ATTR{idVendor}=="3a7e", ATTR{idProduct}=="6a0[1-6]|6a11", TEST=="power/control", ATTR{power/control}="on"'
if ! grep -qxF "$power" "$rule"; then
    echo "FAIL: no power rule; rule lines are:"; grep -vE '^[[:space:]]*(#|$)' "$rule"; exit 1
fi
echo "ok   $rule"
