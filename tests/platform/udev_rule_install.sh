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
# One hidraw line: hidraw nodes below a USB device of the vendor get the uaccess tag.
active=$(grep -vE '^[[:space:]]*(#|$)' "$rule" | grep -F 'SUBSYSTEM=="hidraw"')
expected='SUBSYSTEM=="hidraw", ATTRS{idVendor}=="3a7e", TAG+="uaccess"'
if [[ $active != "$expected" ]]; then
    echo "FAIL: rule lines are:"; echo "$active"; exit 1
fi
# Runtime power management off for the devices in update mode (tried on a real device with
# udevd in the guest of tests/vm).
power='ACTION!="remove", SUBSYSTEM=="usb", ENV{DEVTYPE}=="usb_device", ATTR{idVendor}=="3a7e", ATTR{idProduct}=="6a0[1-6]|6a11", TEST=="power/control", ATTR{power/control}="on"'
if ! grep -qxF "$power" "$rule"; then
    echo "FAIL: no power rule; rule lines are:"; grep -vE '^[[:space:]]*(#|$)' "$rule"; exit 1
fi
echo "ok   $rule"
