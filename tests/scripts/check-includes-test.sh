#!/usr/bin/env bash
# The floors' check against small trees: each case lays out a few files, runs the check over
# them and expects it to pass or to fail naming the offending line.
#
#   bash tests/scripts/check-includes-test.sh scripts/check-includes.sh
set -uo pipefail

check=$(realpath "${1:?usage: check-includes-test.sh CHECK_SCRIPT}")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

failures=0
cases=0

# run_case NAME EXPECT(pass|fail) EXPECTED_TEXT FILE:LINE...
# Every FILE:LINE writes LINE into FILE (a file may be named more than once); EXPECTED_TEXT must
# appear in the check's output (empty: anything).
run_case() {
  local name=$1 expect=$2 text=$3
  shift 3
  local tree="$scratch/$name"
  mkdir -p "$tree"
  local entry file
  for entry in "$@"; do
    file=${entry%%:*}
    mkdir -p "$tree/$(dirname "$file")"
    printf '%s\n' "${entry#*:}" >>"$tree/$file"
  done
  local output status
  output=$(bash "$check" "$tree" 2>&1)
  status=$?
  ((++cases))
  if [[ $expect == pass && $status -ne 0 ]] || [[ $expect == fail && $status -ne 1 ]]; then
    echo "FAIL $name: expected to $expect, exit status $status"
    echo "$output" | sed 's/^/    /'
    ((++failures))
  elif [[ -n $text && $output != *"$text"* ]]; then
    echo "FAIL $name: output lacks '$text'"
    echo "$output" | sed 's/^/    /'
    ((++failures))
  else
    echo "ok   $name"
  fi
}

run_case downward pass "run downward" \
  'update/UpdateControl.cpp:#include "update/UpdateEngine.h"' \
  'update/UpdateControl.cpp:#include "ui/LocalizedText.h"' \
  'update/UpdateControl.cpp:#include "hid/Hid.h"' \
  'update/UpdateControl.cpp:#include <platform/FileAccess.h>' \
  'update/UpdateControl.cpp:#include <vector>' \
  'update/UpdateControl.cpp:#include "hidapi/hidapi.h"' \
  'app/qt/UpdateDlg.cpp:#include "sim/VirtualHidPort.h"' \
  'cli/main.cpp:#include "history/UpdateHistory.h"' \
  'history/UpdateHistory.cpp:#include "update/UpdateView.h"' \
  'tests/app/UpdateDlgTest.cpp:#include "app/qt/UpdateDlg.h"' \
  'fuzz/reply_fuzzer.cpp:#include "cli/CliApp.h"' \
  'app/win32/tarvex-update.rc:#include "ui/win32/PromptResourceIds.h"'

run_case ui-reaches-engine fail 'ui/qt/PromptDlg.cpp:2: #include "update/UpdateView.h" runs upward' \
  'ui/qt/PromptDlg.cpp:#include "ui/qt/PromptDlg.h"' \
  'ui/qt/PromptDlg.cpp:#include "update/UpdateView.h"'

run_case ui-reaches-app fail 'ui/win32/PromptDlg.cpp:1: #include "app/win32/ResourceIds.h"' \
  'ui/win32/PromptDlg.cpp:#include "app/win32/ResourceIds.h"'

run_case spaced-directive fail 'platform/linux/Terminal.cpp:1:' \
  'platform/linux/Terminal.cpp:  #  include   <hid/Hid.h>'

run_case resource-script fail 'ui/win32/Prompt.rc:1:' \
  'ui/win32/Prompt.rc:#include "app/win32/ResourceIds.h"'

run_case siblings fail 'hid/Hid.cpp:1: #include "ui/LocalizedText.h" runs upward' \
  'hid/Hid.cpp:#include "ui/LocalizedText.h"'

run_case beside-app fail 'cli/CliApp.cpp:1:' \
  'cli/CliApp.cpp:#include "app/DemoOptions.h"'

run_case engine-reaches-history fail 'update/UpdateControl.cpp:1:' \
  'update/UpdateControl.cpp:#include "history/UpdateHistory.h"'

run_case climbing fail 'climbs with ../' \
  'ui/qt/UiFonts.cpp:#include "../../app/qt/UpdateDlg.h"'

run_case unplaced-folder fail 'folder extras/ has no floor' \
  'extras/Thing.cpp:#include "platform/FileAccess.h"'

# Build output and the repository's own records are not the project's sources.
run_case build-folder-ignored pass "" \
  'hid/Hid.cpp:#include "platform/HidPort.h"' \
  'build/ci/ui/moc_PromptDlg.cpp:#include "app/qt/UpdateDlg.h"'

echo "check-includes-test: $((cases - failures)) of $cases cases passed"
[[ $failures -eq 0 ]]
