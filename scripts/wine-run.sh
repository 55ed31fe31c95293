#!/usr/bin/env bash
# Runs a Windows program of the cross build under wine: wine-run.sh PROGRAM.exe [ARG...]
# wine-run.sh --prefix PROGRAM.exe prints the wine prefix that program runs in, and creates it.
#
# The wine prefix is WINEPREFIX when set, else wineprefix/ in the build folder that holds the
# program, so that a build never touches the user's own ~/.wine. The first run creates the prefix
# (several seconds), under a lock so that tests started together do not create it twice. Wine's
# own messages are silenced unless WINEDEBUG says otherwise.
set -euo pipefail

print_prefix=false
if [[ "${1:-}" == "--prefix" ]]; then
  print_prefix=true
  shift
fi
if [[ $# -lt 1 ]]; then
  echo "usage: wine-run.sh [--prefix] PROGRAM.exe [ARG...]" >&2
  exit 2
fi

program=$1
if [[ -z "${WINEPREFIX:-}" ]]; then
  folder=$(cd "$(dirname "$program")" && pwd)
  while [[ "$folder" != / && ! -f "$folder/CMakeCache.txt" ]]; do
    folder=$(dirname "$folder")
  done
  [[ "$folder" == / ]] && folder=$(cd "$(dirname "$program")" && pwd)
  export WINEPREFIX="$folder/wineprefix"
fi
export WINEDEBUG="${WINEDEBUG:--all}"
# Wine names the host's files in the locale's character set. Under one without every character
# (C or POSIX, all that a minimal system or a container has) it cannot make a file whose name
# holds others, so the characters are taken as UTF-8 then; C.UTF-8 exists on every Debian system.
# Only the character set changes: the language the programs see stays the one asked for.
character_locale=${LC_ALL:-${LC_CTYPE:-${LANG:-}}}
if [[ ! "${character_locale,,}" =~ \.utf-?8(@|$) ]]; then
  if [[ -n "${LC_ALL:-}" ]]; then
    export LC_ALL=C.UTF-8
  else
    export LC_CTYPE=C.UTF-8
  fi
fi
# No desktop and no menu entries or file associations in the prefix.
export DISPLAY=
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-winemenubuilder.exe=d;mscoree=d;mshtml=d}"

if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
  mkdir -p "$WINEPREFIX"
  (
    flock 9
    if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
      wineboot --init >/dev/null 2>&1 || true
      wineserver --wait || true
    fi
  ) 9>"$WINEPREFIX.lock"
fi

if $print_prefix; then
  echo "$WINEPREFIX"
  exit 0
fi
exec wine "$@"
