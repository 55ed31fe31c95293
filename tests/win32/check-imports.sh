#!/usr/bin/env bash
# Each window program must run alone when copied to another machine: it may import only DLLs
# that every Windows system has, never the compiler's runtime (libstdc++, libgcc, winpthread).
#
#   check-imports.sh OBJDUMP PROGRAM.exe...
set -uo pipefail
if [[ $# -lt 2 ]]; then
  echo "usage: check-imports.sh OBJDUMP PROGRAM.exe..." >&2
  exit 2
fi
objdump=$1
shift
system_dlls=" advapi32.dll cfgmgr32.dll comctl32.dll comdlg32.dll gdi32.dll hid.dll kernel32.dll
  msvcrt.dll ole32.dll oleaut32.dll setupapi.dll shell32.dll user32.dll "
failed=0
for program in "$@"; do
  imports=$("$objdump" -p "$program" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z')
  if [[ -z "$imports" ]]; then
    echo "FAIL $(basename "$program"): no import table read"
    failed=$((failed + 1))
    continue
  fi
  foreign=()
  for dll in $imports; do
    [[ " $(echo $system_dlls) " == *" $dll "* ]] || foreign+=("$dll")
  done
  if [[ ${#foreign[@]} -eq 0 ]]; then
    echo "ok   $(basename "$program") imports only system DLLs: $(echo $imports)"
  else
    echo "FAIL $(basename "$program") imports ${foreign[*]}"
    failed=$((failed + 1))
  fi
done
[[ $failed -eq 0 ]]
