#!/usr/bin/env bash
# The Windows installer under wine, in a fresh prefix of its own on a virtual X server:
#  1. a silent install (msiexec /i /qn) puts the window program into Program Files and its
#     Start-menu entry in place, and nothing else (the demo, which takes no device lock and
#     writes onto real volumes, stays out);
#  2. the installed window starts (its caption shows on the X server) and closes when asked;
#  3. the same installer one version on upgrades it in place: one product registered (one entry
#     in Apps & Features), at the new version, the program and its entry still there;
#  4. the older installer is then refused, and changes nothing;
#  5. a silent uninstall (msiexec /x /qn) leaves the prefix's files as they were before the
#     install (the system's own empty installer cache folder apart).
#
#   windows-installer-test.sh INSTALLER.msi VERSION NEXT.msi NEXT-VERSION
#
# NEXT.msi is the same build's installer with the higher NEXT-VERSION. Ends with "N passed, M
# failed".
set -uo pipefail
inside=false
if [[ "${1:-}" == "--inside-x" ]]; then
  inside=true
  shift
fi
if [[ $# -ne 4 ]]; then
  echo "usage: windows-installer-test.sh INSTALLER.msi VERSION NEXT.msi NEXT-VERSION" >&2
  exit 2
fi
msi=$(realpath "$1")
version=$2
next_msi=$(realpath "$3")
next_version=$4
# An installer's version is three numbers; Windows compares them to decide upgrades, and Apps &
# Features shows it.
for v in "$version" "$next_version"; do
  if [[ ! $v =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]]; then
    echo "FAIL installer version '$v' is not three numbers" >&2
    exit 1
  fi
done

if ! $inside; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  # Output to a file, not a pipe: the wine server started inside would hold a pipe open.
  TARVEX_INSTALLER_WORK=$work xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" \
    bash "$0" --inside-x "$msi" "$version" "$next_msi" "$next_version" >"$work/log" 2>&1
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
# The versions of the products registered as Tarvex Update (Apps & Features lists one entry per
# product from these uninstall keys), one a line. Read from the prefix's registry file, which the
# wine server has written when it ended (every caller waits for that): no wine process to start.
registered_versions() {
  awk '
    /^\[/ {
      if (name == "Tarvex Update") print version
      name = ""; version = ""
      uninstall = index($0, "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\") == 1
    }
    uninstall && /^"DisplayName"="/ { name = substr($0, 16, length($0) - 16) }
    uninstall && /^"DisplayVersion"="/ { version = substr($0, 19, length($0) - 19) }
    END { if (name == "Tarvex Update") print version }' "$WINEPREFIX/system.reg"
}
program_dir="$WINEPREFIX/drive_c/Program Files/Tarvex Update"
# What the installer puts in place: the window program alone in its folder, one Start-menu entry.
check_installed() {  # check_installed WHEN
  local installed entries
  installed=$(cd "$program_dir" 2>/dev/null && find . -type f | LC_ALL=C sort | tr '\n' ' ')
  if [[ "$installed" == "./tarvex-update.exe " ]] && [[ -s "$program_dir/tarvex-update.exe" ]]; then
    ok "$1: tarvex-update.exe alone in Program Files/Tarvex Update"
  else
    fail "$1: Program Files/Tarvex Update holds '$installed'"
  fi
  entries=$(files | grep 'Start Menu/Programs/Tarvex Update/.*\.lnk$')
  if [[ "$entries" != *$'\n'* && "$entries" == */"Start Menu/Programs/Tarvex Update/Tarvex Update.lnk" ]]; then
    ok "$1: one Start-menu entry"
  else
    fail "$1: Start-menu entries: '$entries'"
  fi
}
check_registered() {  # check_registered WHEN VERSION
  local versions
  versions=$(registered_versions | tr '\n' ' ')
  if [[ "$versions" == "$2 " ]]; then
    ok "$1: one product registered, version $2"
  else
    fail "$1: registered versions '$versions', expected '$2' alone"
  fi
}

wineboot --init >/dev/null 2>&1
wineserver -w
files >"$work/before"
msi_path=$(winepath -w "$msi")
next_msi_path=$(winepath -w "$next_msi")

# --- install ---
if wine msiexec /i "$msi_path" /qn >"$work/install.log" 2>&1; then
  ok "silent install succeeded"
else
  fail "silent install: status $?"; cat "$work/install.log"
fi
wineserver -w
check_installed "install $version"
check_registered "install $version" "$version"

# --- the installed window starts and closes ---
# Without devices the program shows its window all the same, its button disabled.
wine "C:\\Program Files\\Tarvex Update\\tarvex-update.exe" >"$work/program.log" 2>&1 &
program=$!
shown=false
for _ in $(seq 1 150); do
  if xwininfo -root -tree 2>/dev/null | grep -q '"Tarvex Update V1.0"'; then
    shown=true
    break
  fi
  sleep 0.2
done
if $shown; then
  ok "the installed program shows its window"
else
  fail "no window captioned 'Tarvex Update V1.0' within 30 s"; cat "$work/program.log"
fi
# taskkill without /f asks the window to close, as the close box does.
if $shown; then
  wine taskkill /im tarvex-update.exe >/dev/null 2>&1
  ended=false
  for _ in $(seq 1 100); do
    if ! kill -0 "$program" 2>/dev/null; then
      ended=true
      break
    fi
    sleep 0.2
  done
  if $ended; then
    ok "the program ended when asked to close"
  else
    fail "the program still runs 20 s after the close request"
  fi
fi
kill "$program" 2>/dev/null
wineserver -w

# --- the next version upgrades in place ---
if wine msiexec /i "$next_msi_path" /qn >"$work/upgrade.log" 2>&1; then
  ok "silent install of $next_version over $version succeeded"
else
  fail "install of $next_version over $version: status $?"; cat "$work/upgrade.log"
fi
wineserver -w
check_installed "upgrade to $next_version"
check_registered "upgrade to $next_version" "$next_version"

# --- the older version is refused ---
# msiexec's status is 1603 (fatal error), of which the shell keeps the low byte; the log says
# that the newer product was found, so that the refusal is known to come from the downgrade rule.
wine msiexec /i "$msi_path" /qn /l*v "$(winepath -w "$work/downgrade.log")" \
  >"$work/downgrade.out" 2>&1
status=$?
if [[ $status -ne 0 ]] && grep -aq '^Property(S): WIX_DOWNGRADE_DETECTED = {' "$work/downgrade.log"; then
  ok "installing $version over $next_version is refused as a downgrade"
else
  fail "installing $version over $next_version: status $status"
  grep -a 'DOWNGRADE\|LaunchConditions' "$work/downgrade.log"
fi
wineserver -w
check_installed "refused downgrade"
check_registered "refused downgrade" "$next_version"

# --- uninstall ---
if wine msiexec /x "$next_msi_path" /qn >"$work/uninstall.log" 2>&1; then
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
if [[ -z "$(registered_versions)" ]]; then
  ok "the uninstall left no product registered"
else
  fail "registered after the uninstall: $(registered_versions | tr '\n' ' ')"
fi

wineserver -k >/dev/null 2>&1
wineserver -w >/dev/null 2>&1
echo "$passed passed, $failed failed"
[[ $failed -eq 0 ]]
