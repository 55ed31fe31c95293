#!/usr/bin/env bash
# The terminal program's manual pages and bash completion, checked against the program itself.
# Usage: cli_docs.sh PATH/TO/tarvex-update-cli MAN-PAGE-FOLDER PATH/TO/completion-file
#  - every page in MAN-PAGE-FOLDER renders with `man --warnings`, says nothing on its error
#    stream and breaks no word at a line end with a hyphen of its own;
#  - every option that --help lists has its own entry in tarvex-update-cli(1)'s OPTIONS and is
#    offered by the completion;
#  - the completion, run as bash runs it (COMP_WORDS, COMP_CWORD, COMP_LINE, COMP_POINT), offers
#    options, the virtual device kinds, the devices --list shows, and .dat files and folders
#    for the image.
set -u
if [[ $# -ne 3 ]]; then
    echo "usage: cli_docs.sh PATH/TO/tarvex-update-cli MAN-PAGE-FOLDER COMPLETION-FILE" >&2
    exit 2
fi
cli=$(realpath "$1")
man_dir=$2
completion=$(realpath "$3")
failures=0
fail() {
    echo "FAIL $*"
    failures=$((failures + 1))
}
ok() { echo "ok   $*"; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# --- the manual pages render without warnings ---
pages=("$man_dir"/*.1)
[[ ${#pages[@]} -eq 2 && -f ${pages[0]} ]] || fail "expected two pages in $man_dir, found: ${pages[*]}"
for page in "${pages[@]}"; do
    [[ -f $page ]] || continue
    LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" >"$work/rendered" 2>"$work/warnings"
    status=$?
    if [[ $status -ne 0 || -s "$work/warnings" ]]; then
        fail "$(basename "$page"): man --warnings: status $status"; cat "$work/warnings"
    elif ! grep -q '^NAME$' "$work/rendered" || ! grep -q '^SYNOPSIS$' "$work/rendered"; then
        fail "$(basename "$page"): no NAME or SYNOPSIS section"
    elif LC_ALL=C grep -n $'\xe2\x80\x90$' "$work/rendered"; then
        # A word broken at a line end by the typesetter (U+2010): a path or an option that a
        # reader copies would come out wrong.
        fail "$(basename "$page"): words hyphenated at line ends (above)"
    else
        ok "$(basename "$page") renders without warnings ($(wc -l <"$work/rendered") lines)"
    fi
done

# --- every option of --help is in the page and in the completion ---
options=$("$cli" --help | grep -oE '^  (-[a-z], )?--[a-z][a-z-]*' | grep -oE -- '--[a-z][a-z-]*' | sort -u)
[[ $(wc -l <<<"$options") -ge 8 ]] || fail "too few options read from --help: $options"
cli_page="$man_dir/tarvex-update-cli.1"
missing_in_page=""
for option in $options; do
    # An entry of OPTIONS is a line of its own that begins with the option in bold.
    grep -qE "^\\\\fB$option\\\\fR" "$cli_page" || missing_in_page+=" $option"
done
[[ -z $missing_in_page ]] && ok "every option of --help has an entry in the page" ||
    fail "options of --help without an entry in tarvex-update-cli(1):$missing_in_page"

# Completes the command line LINE (the cursor at its end) in a fresh bash with bash-completion
# and the completion file loaded; prints the candidates one per line, and "nospace" when the
# completion asked for no blank after the word.
complete_line() {
    TARVEX_LINE=$1 bash --norc --noprofile -c '
        source /usr/share/bash-completion/bash_completion || exit 1
        source "$0" || exit 1
        # compopt works only inside completion that readline started; record what is asked.
        compopt() { [[ "$*" == *"-o nospace"* ]] && asked_nospace=1; return 0; }
        COMP_LINE=$TARVEX_LINE
        COMP_POINT=${#COMP_LINE}
        # Split as readline does, COMP_WORDBREAKS characters being words of their own.
        read -ra COMP_WORDS <<<"$(sed -E "s/([=:])/ \1 /g" <<<"$COMP_LINE")"
        [[ $COMP_LINE == *" " ]] && COMP_WORDS+=("")
        COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
        _tarvex_update_cli "${COMP_WORDS[0]}" "${COMP_WORDS[COMP_CWORD]}" \
            "${COMP_WORDS[COMP_CWORD - 1]}"
        printf "%s\n" "${COMPREPLY[@]}" | LC_ALL=C sort
        [[ -n ${asked_nospace-} ]] && echo nospace
        true' "$completion"
}

expect_completion() {  # expect_completion NAME LINE EXPECTED-LINES
    local name=$1 line=$2 want=$3 got
    if ! got=$(cd "$work/images" && complete_line "$line"); then
        fail "completion: $name: the completion could not be loaded or run"
    elif [[ $got == "$want" ]]; then
        ok "completion: $name"
    else
        fail "completion: $name: '$line' gave:"; echo "$got" | sed 's/^/    /'
        echo "  wanted:"; echo "$want" | sed 's/^/    /'
    fi
}

offered=$(complete_line "$cli --") || fail "the completion could not be loaded or run"
missing_in_completion=""
for option in $options; do
    grep -qE -- "^$option=?\$" <<<"$offered" || missing_in_completion+=" $option"
done
[[ -z $missing_in_completion ]] && ok "every option of --help is offered by the completion" ||
    fail "options of --help the completion does not offer:$missing_in_completion"

mkdir -p "$work/images/firmware" "$work/images/old"
touch "$work/images/v1.15.dat" "$work/images/V1.16.DAT" "$work/images/notes.txt" \
    "$work/images/firmware/inner.dat"
expect_completion "an option" "$cli --ver" "--version"
expect_completion "an option that takes a value gets no blank" "$cli --dev" "--device=
nospace"
expect_completion "the virtual device kinds" "$cli --virtual=" "drive
hid"
expect_completion "the image: .dat files and folders" "$cli --yes " "V1.16.DAT
firmware
old
v1.15.dat"
expect_completion "after -- an image even if it begins with -" "$cli -- v" "v1.15.dat"
expect_completion "nothing after --version" "$cli --version " ""
expect_completion "the devices --list shows, with the line's --virtual" \
    "$cli --virtual --device=" "VIRTUAL-6A11
virtual:hid-update-device"
expect_completion "a device's node with a colon, completed past it" \
    "$cli --virtual --device=virtual:h" "hid-update-device"

exit $((failures > 0))
