#!/usr/bin/env bash
# Fails when an include runs upward: from a folder to a folder on a higher floor, or between two
# folders on the same floor. A file includes its own folder and the floors below it, nothing
# else. Reads the `#include "folder/..."` and `#include <folder/...>` lines of every C, C++ and
# resource-script file; includes whose first part names no folder of the table (a library's
# headers) are not ours and pass. A folder with sources but no floor fails too, so that a new
# folder is placed before its first include is trusted. docs/architecture.md draws the floors.
#
#   bash scripts/check-includes.sh [ROOT]     ROOT defaults to the source tree this script is in
set -euo pipefail

root=${1:-"$(dirname "${BASH_SOURCE[0]}")/.."}
cd "$root"

# folder floor: one line each; a higher floor may include the lower ones. Folders on one floor
# are beside each other and include neither one the other. tests, bench and fuzz stand on top:
# they may include anything.
floors='
platform 0
hid      1
ui       1
update   2
sim      3
history  3
app      4
cli      4
tests    5
bench    5
fuzz     5
'

mapfile -t files < <(find . -path ./build -prune -o -path ./.git -prune -o -type f \
  \( -name '*.h' -o -name '*.hpp' -o -name '*.c' -o -name '*.cc' -o -name '*.cpp' \
  -o -name '*.rc' \) -print | sed 's|^\./||' | LC_ALL=C sort)

if [[ ${#files[@]} -eq 0 ]]; then
  echo "check-includes: no sources under $PWD" >&2
  exit 2
fi

# One awk over every file: the table arrives first as "floor" records.
awk -v table="$floors" '
BEGIN {
    n = split(table, lines, "\n")
    for (i = 1; i <= n; ++i) {
        if (split(lines[i], field, " ") == 2) {
            floor[field[1]] = field[2] + 0
        }
    }
}
FNR == 1 {
    folder = FILENAME
    sub(/\/.*/, "", folder)
    if (folder == FILENAME) {
        folder = ""  # a file at the top of the tree: nothing to place
    } else if (!(folder in floor) && !(folder in unplaced)) {
        unplaced[folder] = FILENAME
    }
    ++files
}
/^[ \t]*#[ \t]*include[ \t]*["<]/ {
    target = $0
    sub(/^[ \t]*#[ \t]*include[ \t]*["<]/, "", target)
    sub(/[">].*/, "", target)
    ++includes
    if (target ~ /(^|\/)\.\.\//) {
        printf "%s:%d: #include \"%s\" climbs with ../; name the folder from the top instead\n",
            FILENAME, FNR, target
        ++bad
        next
    }
    to = target
    if (sub(/\/.*/, "", to) == 0 || !(to in floor) || folder == "" || !(folder in floor)) {
        next
    }
    if (to != folder && floor[to] >= floor[folder]) {
        printf "%s:%d: #include \"%s\" runs upward: %s/ (floor %d) may not include %s/ (floor %d)\n",
            FILENAME, FNR, target, folder, floor[folder], to, floor[to]
        ++bad
    }
}
END {
    for (folder in unplaced) {
        printf "%s: folder %s/ has no floor in scripts/check-includes.sh\n", unplaced[folder], folder
        ++bad
    }
    if (bad > 0) {
        printf "check-includes: %d include(s) against the floors\n", bad
        exit 1
    }
    printf "check-includes: %d includes in %d files run downward\n", includes, files
}
' "${files[@]}"
