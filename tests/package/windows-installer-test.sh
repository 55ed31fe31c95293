#!/usr/bin/env bash
# The Windows installer under wine, in a fresh prefix of its own on a virtual X server:
#  1. a silent install (msiexec /i /qn) puts both programs into Program Files and the Start-menu
#     entries in place;
#  2. the installed demo window starts (its caption shows on the X server) and closes when asked;
#  3. a silent uninstall (msiexec /x /qn) leaves the prefix's files as they were before the
#     install (the system's own empty installer cache folder apart).
#
#   windows-installer-test.sh PATH/TO/tarvex-update-1.0-x64.msi
#
# Ends with "N passed, M failed".
set -uo pipefail
inside=false
if [[ "${1:-}" == "--inside-x" ]]; then
  inside=true
  shift
fi
if [[ $# -ne 1 ]]; then
  echo "usage: windows-installer-test.sh PATH/TO/installer.msi" >&2
  exit 2
fi
msi=$(realpath "$1")

if ! $inside; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  # Output to a file, not a pipe: the wine server started inside would hold a pipe open.
  TARVEX_INSTALLER_WORK=$work xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" \
    bash "$0" --inside-x "$msi" >"$work/log" 2>&1
  status=$?
  cat "$work/log"
  exit $status
fi

work=$TARVEX_INSTALLER_WORK
export WINEPREFIX="$work/prefix" WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
passed=0
failed=0
ok() { echo "ok   $*"; passed=$((passed + 1)); }
fail() { echo "FAIL $*"; failed=$((failed + 1)); }
files() { (cd "$WINEPREFIX/drive_c" && find . | LC_ALL=C sort); }

wineboot --init >/dev/null 2>&1
wineserver -w
files >"$work/before"
msi_path=$(winepath -w "$msi")

# --- install ---
if wine msiexec /i "$msi_path" /qn >"$work/install.log" 2>&1; then
  ok "silent install succeeded"
else
  fail "silent install: status $?"; cat "$work/install.log"
fi
wineserver -w
program_dir="$WINEPREFIX/drive_c/Program Files/Tarvex Update"
for program in tarvex-update.exe tarvex-update-demo.exe; do
  if [[ -s "$program_dir/$program" ]]; then
    ok "installed $program"
  else
    fail "$program is not in Program Files/Tarvex Update"
  fi
done
menu_entries=$(files | grep -c 'Start Menu/Programs/Tarvex Update/.*\.lnk$')
if [[ $menu_entries -eq 2 ]]; then
  ok "two Start-menu entries"
else
  fail "Start-menu entries: $menu_entries"; files | grep -i 'start menu' | grep -i tarvex
fi

# --- the installed window starts and closes ---
wine "C:\\Program Files\\Tarvex Update\\tarvex-update-demo.exe" >"$work/demo.log" 2>&1 &
demo=$!
shown=false
for _ in $(seq 1 150); do
  if xwininfo -root -tree 2>/dev/null | grep -q '"Tarvex Update V1.0"'; then
    shown=true
    break
  fi
  sleep 0.2
done
if $shown; then
  ok "the installed demo shows its window"
else
  fail "no window captioned 'Tarvex Update V1.0' within 30 s"; cat "$work/demo.log"
fi
# taskkill without /f asks the window to close, as the close box does.
if $shown; then
  wine taskkill /im tarvex-update-demo.exe >/dev/null 2>&1
  ended=false
  for _ in $(seq 1 100); do
    if ! kill -0 "$demo" 2>/dev/null; then
      ended=true
      break
    fi
    sleep 0.2
  done
  if $ended; then
    ok "the demo ended when asked to close"
  else
    fail "the demo still runs 20 s after the close request"
  fi
fi
kill "$demo" 2>/dev/null
wineserver -w

# --- uninstall ---
if wine msiexec /x "$msi_path" /qn >"$work/uninstall.log" 2>&1; then
  ok "silent uninstall succeeded"
else
  fail "silent uninstall: status $?"; cat "$work/uninstall.log"
fi
wineserver -w
files >"$work/after"
# The installer service keeps its cache folder; it is the system's, and left empty.
left=$(diff "$work/before" "$work/after" | grep '^[<>]' | grep -vx '> ./windows/Installer')
if [[ -z "$left" ]] && [[ -z "$(ls -A "$WINEPREFIX/drive_c/windows/Installer" 2>/dev/null)" ]]; then
  ok "the uninstall left the prefix's files as they were"
else
  fail "the uninstall left differences:"; echo "$left"
fi

wineserver -k >/dev/null 2>&1
wineserver -w >/dev/null 2>&1
echo "$passed passed, $failed failed"
[[ $failed -eq 0 ]]
