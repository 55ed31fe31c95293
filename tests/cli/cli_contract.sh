#!/usr/bin/env bash
# The terminal program as a user runs it: exit statuses and the last line of standard output.
# Usage: cli_contract.sh [RUNNER...] PATH/TO/tarvex-update-cli PATH/TO/sample.dat
# RUNNER runs a cross-built program (the wine wrapper for the Windows build).
set -u
if [[ $# -lt 2 ]]; then
    echo "usage: cli_contract.sh [RUNNER...] PATH/TO/tarvex-update-cli PATH/TO/sample.dat" >&2
    exit 2
fi
image=${!#}
cli=("${@:1:$#-1}")
# Wine takes the user's interface language from LC_ALL, or from LANG only where that locale is
# generated on the host; Linux reads LANG whatever is generated.
cross_built=false
[[ $# -gt 2 ]] && cross_built=true
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
# The runs' history goes into the scratch folder, not the user's own (Linux; wine's prefix has
# its own local application data).
export XDG_STATE_HOME="$work/state"

expect() {  # expect NAME STATUS LAST-LINE-OR-EMPTY -- COMMAND...
    local name=$1 want_status=$2 want_last=$3
    shift 4
    "$@" >"$work/out" 2>"$work/err" </dev/null
    local status=$?
    local last
    last=$(tail -n 1 "$work/out")
    if [[ $status -ne $want_status ]]; then
        echo "FAIL $name: exit status $status, wanted $want_status"; cat "$work/err"; failures=$((failures + 1))
    elif [[ -n $want_last && $last != "$want_last" ]]; then
        echo "FAIL $name: last line '$last', wanted '$want_last'"; failures=$((failures + 1))
    else
        echo "ok   $name"
    fi
}

export LANG=C.UTF-8 LANGUAGE= LC_ALL= LC_MESSAGES=
expect "help" 0 "" -- "${cli[@]}" --help
# The version printed is the one the Debian package carries: its changelog's newest entry.
changelog=$(dirname "${BASH_SOURCE[0]}")/../../packaging/debian/changelog
package_version=$(sed -nE '1s/^tarvex-update \(([^)]+)\).*/\1/p' "$changelog")
expect "version" 0 "tarvex-update-cli $package_version" -- "${cli[@]}" --version
if [[ -z $package_version || $(wc -l <"$work/out") -ne 1 || -s "$work/err" ]]; then
    echo "FAIL version: not one line on standard output alone (package version '$package_version')"
    failures=$((failures + 1))
fi
expect "unknown option" 2 "" -- "${cli[@]}" --frobnicate "$image"
expect "no image" 2 "" -- "${cli[@]}" --virtual
expect "missing image" 2 "" -- "${cli[@]}" --virtual --yes "$work/none.dat"
expect "virtual update" 0 "Firmware upgraded successful!" -- "${cli[@]}" --virtual --yes "$image"
expect "declined without a terminal" 3 "" -- "${cli[@]}" --virtual "$image"
expect "list drive mode" 0 "drive 3a7e:6a01 virtual:usb-3a7e:6a01 serial=" -- "${cli[@]}" --virtual=drive --list
expect "list" 0 "hid 3a7e:6a11 virtual:hid-update-device serial=VIRTUAL-6A11" -- "${cli[@]}" --virtual --list
expect "chosen by serial" 0 "Firmware upgraded successful!" -- "${cli[@]}" --virtual --device=VIRTUAL-6A11 --yes "$image"
expect "chosen device absent" 1 "" -- "${cli[@]}" --virtual --device=/dev/hidraw99 --yes "$image"
$cross_built || LANG=zh_CN.UTF-8 expect "Chinese" 0 "升级成功." -- "${cli[@]}" --virtual --yes "$image"
LC_ALL=zh_CN.UTF-8 expect "Chinese (LC_ALL)" 0 "升级成功." -- "${cli[@]}" --virtual --yes "$image"
LANGUAGE=zh_TW expect "Chinese (Taiwan) gets English" 0 "Firmware upgraded successful!" -- "${cli[@]}" --virtual --yes "$image"

head -c 10 "$image" >"$work/short.dat"
expect "refused image" 2 "Open file error! Please check the file!" -- "${cli[@]}" --virtual --yes "$work/short.dat"

"${cli[@]}" --virtual --yes --trace "$image" >/dev/null 2>"$work/trace"
if grep -qvE '^[<>]( [0-9A-F]{2}){64}$' "$work/trace" || ! grep -q '^> 81 05 00 1A 01 00 00' "$work/trace"; then
    echo "FAIL trace format"; failures=$((failures + 1))
else
    echo "ok   trace format"
fi

# Every run above that reached a device is in the history, the last one (the traced run) last:
# eight, seven where the LANG case is skipped. Under wine the prefix's history may also hold
# other tests' runs, so the count is a floor.
runs_recorded=8
$cross_built && runs_recorded=7
"${cli[@]}" --history >"$work/history" 2>"$work/history-err"
status=$?
if [[ $status -ne 0 || -s $work/history-err ]] || ! tail -n 1 "$work/history" | grep -q ': succeeded (' \
    || [[ $(wc -l <"$work/history") -lt $runs_recorded ]]; then
    echo "FAIL history: status $status"; cat "$work/history" "$work/history-err"; failures=$((failures + 1))
else
    echo "ok   history"
fi
"${cli[@]}" --virtual --yes --json "$image" >"$work/json" 2>/dev/null
if ! tail -n 1 "$work/json" | grep -q '"exit_status":0' || ! tail -n 1 "$work/json" | grep -q '"outcome":"succeeded"'; then
    echo "FAIL json"; tail -n 1 "$work/json"; failures=$((failures + 1))
else
    echo "ok   json"
fi

exit $((failures > 0))
