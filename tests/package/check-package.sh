#!/usr/bin/env bash
# Checks the Debian package's contents and metadata without installing it.
#
#   bash tests/package/check-package.sh PACKAGE.deb SOURCE-DIR
#
#  - the files are exactly the expected ones, owned by root, programs executable and stripped;
#  - the udev rule, the desktop entry and the metadata are the ones in SOURCE-DIR/packaging/;
#  - the control data: name, version (the project's), architecture (this machine's), the
#    library dependencies that dpkg-shlibdeps found, the two maintainer scripts;
#  - the manual pages render with `man --warnings` without a word on the error stream, the bash
#    completion is packaging/'s, and the packaged terminal program's --version names the
#    package's version;
#  - the AppStream metadata passes `appstreamcli validate`, the desktop entry
#    `desktop-file-validate`, and lintian reports no error and no tag about manual pages.
set -euo pipefail

[[ $# -eq 2 ]] || { echo "usage: bash $0 PACKAGE.deb SOURCE-DIR" >&2; exit 2; }
deb=$1
source_dir=$2
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
ok() {
  echo "ok   $*"
}

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
dpkg-deb -x "$deb" "$scratch/data"
dpkg-deb -e "$deb" "$scratch/control"

# --- the file list ---
version=$(sed -nE 's/^project\(tarvex_update VERSION ([0-9.]+).*/\1/p' "$source_dir/CMakeLists.txt")
expected_files=(
  ./usr/bin/tarvex-update
  ./usr/bin/tarvex-update-cli
  ./usr/lib/udev/rules.d/60-tarvex-update.rules
  ./usr/share/applications/com.tarvex.Update.desktop
  ./usr/share/bash-completion/completions/tarvex-update-cli
  ./usr/share/doc/tarvex-update/changelog.gz
  ./usr/share/doc/tarvex-update/copyright
  ./usr/share/icons/hicolor/scalable/apps/com.tarvex.Update.svg
  ./usr/share/man/man1/tarvex-update-cli.1.gz
  ./usr/share/man/man1/tarvex-update.1.gz
  ./usr/share/metainfo/com.tarvex.Update.metainfo.xml
)
for side in 16 24 32 48 64 128 256; do
  expected_files+=("./usr/share/icons/hicolor/${side}x${side}/apps/com.tarvex.Update.png")
done
actual=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | LC_ALL=C sort)
expected=$(printf '%s\n' "${expected_files[@]}" | LC_ALL=C sort)
if [[ "$actual" == "$expected" ]]; then
  ok "files: the ${#expected_files[@]} expected ones and no other"
else
  fail "files differ from the expected list:"
  # diff's status 1 (they differ) must not end the script under set -e: the other checks go on.
  diff <(echo "$expected") <(echo "$actual") | sed -n 's/^[<>]/  &/p' >&2 || true
fi
not_root=$(dpkg-deb -c "$deb" | awk '$2 != "root/root"')
[[ -z "$not_root" ]] && ok "every entry belongs to root/root" || fail "not owned by root: $not_root"
for program in tarvex-update tarvex-update-cli; do
  path="$scratch/data/usr/bin/$program"
  [[ -x "$path" ]] || fail "$program is not executable"
  file -b "$path" | grep -q ', stripped' && ok "$program is stripped" ||
    fail "$program is not stripped: $(file -b "$path")"
done

# --- the files are the project's own ---
for pair in "udev/60-tarvex-update.rules usr/lib/udev/rules.d/60-tarvex-update.rules" \
  "desktop/com.tarvex.Update.desktop usr/share/applications/com.tarvex.Update.desktop" \
  "metainfo/com.tarvex.Update.metainfo.xml usr/share/metainfo/com.tarvex.Update.metainfo.xml" \
  "bash-completion/tarvex-update-cli usr/share/bash-completion/completions/tarvex-update-cli"; do
  read -r source packaged <<<"$pair"
  cmp -s "$source_dir/packaging/$source" "$scratch/data/$packaged" && ok "/$packaged" ||
    fail "/$packaged differs from packaging/$source"
done

# --- control data ---
field() { dpkg-deb -f "$deb" "$1"; }
[[ "$(field Package)" == tarvex-update ]] || fail "Package is '$(field Package)'"
[[ "$(field Version)" == "$version" ]] || fail "Version is '$(field Version)', project is $version"
[[ "$(field Architecture)" == "$(dpkg --print-architecture)" ]] ||
  fail "Architecture is '$(field Architecture)'"
[[ "$(basename "$deb")" == "tarvex-update_${version}_$(dpkg --print-architecture).deb" ]] ||
  fail "file name is $(basename "$deb")"
depends=$(field Depends)
# The libraries the programs link, each found by dpkg-shlibdeps with a minimum version, and the
# Qt platform plugins, which no link shows.
for needed in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6svg6 \
  libhidapi-hidraw0 libudev1 libsystemd0 libfontconfig1; do
  pattern=$(sed 's/[+.]/\\&/g' <<<"$needed")
  grep -qE "(^|, )$pattern \(>= [^)]+\)" <<<"$depends" || fail "Depends lacks $needed (>= ...)"
done
grep -qE '(^|, )qt6-qpa-plugins(,|$)' <<<"$depends" || fail "Depends lacks qt6-qpa-plugins"
ok "Depends: $depends"
for script in postinst postrm; do
  [[ -x "$scratch/control/$script" ]] || fail "no executable $script"
done
cmp -s "$scratch/control/postinst" "$source_dir/packaging/debian/udev-refresh.sh" &&
  cmp -s "$scratch/control/postrm" "$source_dir/packaging/debian/udev-refresh.sh" &&
  ok "postinst and postrm are packaging/debian/udev-refresh.sh" ||
  fail "postinst or postrm differ from packaging/debian/udev-refresh.sh"

# --- the manual pages and the version ---
for page in tarvex-update tarvex-update-cli; do
  path="$scratch/data/usr/share/man/man1/$page.1.gz"
  [[ -f "$path" ]] || continue
  if ! gzip -t "$path"; then
    fail "$page.1.gz is not a whole gzip file"
  elif LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$path" >"$scratch/$page.txt" \
    2>"$scratch/$page.warnings" && [[ ! -s "$scratch/$page.warnings" ]] &&
    grep -q "^NAME" "$scratch/$page.txt"; then
    ok "$page(1) renders without warnings"
  else
    fail "$page(1) does not render cleanly: $(cat "$scratch/$page.warnings")"
  fi
done
packaged_version=$("$scratch/data/usr/bin/tarvex-update-cli" --version) ||
  fail "tarvex-update-cli --version: status $?"
[[ "$packaged_version" == "tarvex-update-cli $(field Version)" ]] &&
  ok "tarvex-update-cli --version: $packaged_version" ||
  fail "tarvex-update-cli --version says '$packaged_version'; the package is $(field Version)"

# --- validators ---
if appstreamcli validate --no-net --strict \
  "$scratch/data/usr/share/metainfo/com.tarvex.Update.metainfo.xml"; then
  ok "appstreamcli validate --strict"
else
  fail "appstreamcli validate"
fi
if desktop-file-validate "$scratch/data/usr/share/applications/com.tarvex.Update.desktop"; then
  ok "desktop-file-validate"
else
  fail "desktop-file-validate"
fi
# Warnings and notes are shown; errors fail.
if lintian --fail-on error --tag-display-limit 0 "$deb" | tee "$scratch/lintian"; then
  ok "lintian: no errors"
else
  fail "lintian reports errors"
fi
# Every program has its page and every page is read without complaint (lintian's
# no-manual-page, manpage-has-errors-from-man and the like are warnings or less).
if grep -E ': (no-manual-page|manpage-[a-z-]+|bash-completion[a-z-]*) ' "$scratch/lintian" >&2; then
  fail "lintian has the tags above about manual pages or the completion"
else
  ok "lintian: no tag about manual pages or the completion"
fi

if [[ $failures -ne 0 ]]; then
  echo "check-package: $failures check(s) failed" >&2
  exit 1
fi
echo "check-package: all checks passed"
