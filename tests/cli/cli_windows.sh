#!/usr/bin/env bash
# The Windows terminal program under wine, where only Windows can break it: the wide command
# line (a path in Chinese and accented letters), the bytes on standard output (UTF-8 and LF, as
# on Linux), a device name given as the image, the real backends of a machine without devices,
# and a drive copy onto a drive letter of 104 KiB next to a letter without its medium.
# Usage: cli_windows.sh RUNNER PATH/TO/tarvex-update-cli.exe PATH/TO/sample.dat
#
# The drive copy needs a 104 KiB volume, a tmpfs mounted in a private mount namespace, so it
# needs root; without root it is skipped with the reason, and under CI=true that is a failure.
set -u
if [[ $# -ne 3 ]]; then
    echo "usage: cli_windows.sh RUNNER PATH/TO/tarvex-update-cli.exe PATH/TO/sample.dat" >&2
    exit 2
fi
runner=$1
cli=$2
image=$3
work=$(mktemp -d)
prefix=$("$runner" --prefix "$cli")
trap 'rm -rf "$work"' EXIT
failures=0
export LANG=C.UTF-8 LANGUAGE= LC_ALL= LC_MESSAGES=

fail() {
    echo "FAIL $*"
    failures=$((failures + 1))
}

run() {  # run [VARIABLE=VALUE...] ARGS...: the program's status, its output in $work/out, err
    local settings=()
    while [[ $# -gt 0 && "$1" == *=* && "$1" != -* ]]; do
        settings+=("$1")
        shift
    done
    env "${settings[@]}" "$runner" "$cli" "$@" >"$work/out" 2>"$work/err" </dev/null
}

last_line() {
    tail -n 1 "$work/out"
}

# --- the real backends, without devices ---
run --list
status=$?
if [[ $status -ne 0 || -s "$work/out" ]]; then
    fail "list: status $status, output '$(cat "$work/out")'"; cat "$work/err"
else
    echo "ok   list shows nothing and succeeds"
fi
run --yes "$image"
if [[ $? -ne 1 ]] || ! grep -q "No updatable device found" "$work/err"; then
    fail "no device: '$(cat "$work/err")'"
else
    echo "ok   no device found"
fi

# --- the wide command line ---
wide_folder="$work/固件 été"
mkdir -p "$wide_folder"
cp "$image" "$wide_folder/样本-é.dat"
run --virtual --yes "$wide_folder/样本-é.dat"
status=$?
if [[ $status -ne 0 || "$(last_line)" != "Firmware upgraded successful!" ]]; then
    fail "non-ASCII path: status $status"; cat "$work/err"
else
    echo "ok   a path in Chinese and accented letters opens"
fi
run --virtual --yes "$wide_folder/缺少.dat"
if [[ $? -ne 2 ]] || ! grep -qF "$wide_folder/缺少.dat" "$work/err"; then
    fail "missing non-ASCII path is named as given: '$(cat "$work/err")'"
else
    echo "ok   a missing non-ASCII path is named in UTF-8"
fi

# --- a device name is no image: refused before anything is opened for a run ---
run --virtual --yes NUL
status=$?
if [[ $status -ne 2 ]] || ! grep -qxF "Firmware image 'NUL' is not a regular file." "$work/err"; then
    fail "NUL as the image: status $status, '$(cat "$work/err")'"
else
    echo "ok   NUL is refused as not a regular file (status 2)"
fi

# --- the bytes written: UTF-8 with LF, exactly the Linux texts ---
run LC_ALL=zh_CN.UTF-8 --virtual --yes "$image"
status=$?
if [[ $status -ne 0 ]]; then
    fail "Chinese: status $status"; cat "$work/err"
elif grep -q $'\r' "$work/out"; then
    fail "Chinese: a CR in the output"
elif ! grep -qxF "升级固件版本: V1.15 [y/N] y (--yes)" "$work/out" ||
    [[ "$(last_line)" != "升级成功." ]]; then
    fail "Chinese texts: $(od -c "$work/out" | head -5)"
else
    echo "ok   LC_ALL=zh_CN.UTF-8 gives the Chinese texts in UTF-8 with LF"
fi
run LC_ALL=zh_TW.UTF-8 --virtual --yes "$image"
if [[ "$(last_line)" != "Firmware upgraded successful!" ]]; then
    fail "Chinese (Taiwan) gets English: '$(last_line)'"
else
    echo "ok   LC_ALL=zh_TW.UTF-8 gives the English texts"
fi

# --- a drive copy onto a drive letter ---
# Wine opens files in its server process, so the 104 KiB tmpfs must be seen by a wine server of
# its own: in a private mount namespace the prefix gets an overlay (a different device, hence
# its own server, and nothing written reaches the shared prefix), M: is mapped to the tmpfs and
# N: to a folder that is not there, as a card reader without its card.
drive_copy() {  # drive_copy WITH-VOLUME(0|1): runs the copy; its output in $work/out, err
    unshare -m --propagation private bash -c '
        set -u
        prefix=$1 work=$2 with_volume=$3
        shift 3
        upper=$work/upper-$with_volume overlay_work=$work/overlay-work-$with_volume
        mkdir -p "$upper" "$overlay_work" "$work/volume"
        mount -t overlay tarvex-prefix \
            -o "lowerdir=$prefix,upperdir=$upper,workdir=$overlay_work" "$prefix" || exit 97
        ln -s "$work/no-medium" "$prefix/dosdevices/n:"
        if [[ $with_volume -eq 1 ]]; then
            mount -t tmpfs -o size=104k tarvex-drive "$work/volume" || exit 97
            ln -s "$work/volume" "$prefix/dosdevices/m:"
        fi
        "$@" >"$work/out" 2>"$work/err" </dev/null
        status=$?
        [[ $with_volume -eq 1 ]] && cp "$work/volume/1.dat" "$work/on-volume" 2>/dev/null
        find "$prefix/drive_c/users" -path "*/AppData/Local/tarvex-update/1.dat" \
            -exec cp {} "$work/kept" \; 2>/dev/null
        WINEPREFIX=$prefix wineserver -k 2>/dev/null
        exit $status' _ "$prefix" "$work" "$1" "$runner" "$cli" --virtual=drive --yes "$image"
}

if [[ $(id -u) -ne 0 ]] || ! command -v unshare >/dev/null; then
    echo "skip drive copy: needs root for a private mount namespace with a 104 KiB tmpfs"
    [[ "${CI:-}" == "true" ]] && fail "drive copy skipped under CI=true"
else
    drive_copy 0
    status=$?
    if [[ $status -ne 1 ]] || ! grep -q "No mounted volume has the drive-mode device's size" "$work/err"; then
        fail "drive copy without the volume: status $status, '$(cat "$work/err")'"
    else
        echo "ok   without a 104 KiB volume nothing is copied; a letter without media is passed over"
    fi
    lead_size=$(( $(od -An -tu1 -j12 -N1 "$image") * 256 + $(od -An -tu1 -j13 -N1 "$image") + 512 ))
    head -c "$lead_size" "$image" >"$work/lead"
    rm -f "$work/kept"
    drive_copy 1
    status=$?
    if [[ $status -ne 0 || "$(last_line)" != "Firmware upgraded successful!" ]]; then
        fail "drive copy: status $status (97: no overlay or tmpfs)"; cat "$work/err"
    elif ! cmp -s "$work/on-volume" "$work/lead"; then
        fail "drive copy: M:\\1.dat is not the image's lead section"
    elif ! cmp -s "$work/kept" "$work/lead"; then
        fail "drive copy: no copy kept in the user's local application data"
    else
        echo "ok   drive copy: 1.dat onto M: (104 KiB), the user's copy in AppData\\Local"
    fi
fi

echo "$failures failed"
exit $((failures > 0))
