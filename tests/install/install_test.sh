#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what a user gets there: the programs run and are stripped,
# the desktop entry validates and names the installed program, the file types and icons are in place, the manual
# pages render.
# Usage: install_test.sh BUILD_DIR WITH_WINDOW(ON|OFF)
set -uo pipefail
build=$1
window=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

cmake --install "$build" --prefix "$prefix" >/dev/null || { echo "FAIL: cmake --install" >&2; exit 1; }

expect_output() { # expected-substring command...
    local expected=$1 output
    shift
    output=$("$@" 2>&1) || fail "$* exits with $?: $output"
    [[ $output == *"$expected"* ]] || fail "$* says '$output', not '$expected'"
}

version=$(sed -n 's/^#define BRINDLEMARK_VERSION_TEXT "\(.*\)"$/\1/p' "$build/generated/brindlemarkversion.h")
expect_output "brindlemark-cli $version" "$prefix/bin/brindlemark-cli" --version
expect_output "usage: brindlemark-cli COMMAND" "$prefix/bin/brindlemark-cli" --help

files=(share/man/man1/brindlemark-cli.1 share/bash-completion/completions/brindlemark-cli
       share/zsh/vendor-completions/_brindlemark-cli)
programs=(bin/brindlemark-cli)
if [[ $window == ON ]]; then
    expect_output "brindlemark $version" "$prefix/bin/brindlemark" --version
    programs+=(bin/brindlemark)
    files+=(share/applications/brindlemark.desktop share/mime/packages/brindlemark.xml share/man/man1/brindlemark.1)
    for size in 16 32 48 64 128 256; do
        files+=("share/icons/hicolor/${size}x${size}/apps/brindlemark.png")
    done
fi
for file in "${files[@]}"; do
    [[ -s $prefix/$file ]] || fail "$file is not installed"
done

for program in "${programs[@]}"; do
    readelf -S "$prefix/$program" 2>/dev/null | grep -q -e '\.symtab' -e '\.debug_info' && fail "$program is not stripped"
done

# A tool that is missing here skips its check with a note; scripts/install-deps.sh installs them all.
have() { command -v "$1" >/dev/null 2>&1 || { echo "note: $1 not found, its check is skipped" >&2; return 1; }; }

if [[ $window == ON ]]; then
    if have desktop-file-validate; then
        out=$(desktop-file-validate "$prefix/share/applications/brindlemark.desktop" 2>&1)
        [[ $? -eq 0 && -z $out ]] || fail "desktop entry: $out"
    fi
    if have update-mime-database; then
        out=$(update-mime-database "$prefix/share/mime" 2>&1) || fail "file types: $out"
        for glob in w3o w3u w3q w3x w3m; do
            grep -q "\*\.$glob$" "$prefix/share/mime/globs" || fail "no file type for .$glob"
        done
    fi
    exec_line=$(sed -n 's/^Exec=//p' "$prefix/share/applications/brindlemark.desktop")
    [[ $exec_line == "\"$prefix/bin/brindlemark\" %f" ]] || fail "the desktop entry starts '$exec_line'"
    entry_types=$(sed -n 's/^MimeType=//p' "$prefix/share/applications/brindlemark.desktop" | tr ';' '\n' | grep . | sort -u)
    defined_types=$(sed -n 's/.*<mime-type type="\([^"]*\)".*/\1/p' "$prefix/share/mime/packages/brindlemark.xml" |
                    sort -u)
    [[ $entry_types == "$defined_types" ]] || fail "the desktop entry opens '$entry_types', defined: '$defined_types'"
fi

manual_page_has() { # page texts...
    local page_file=$prefix/share/man/man1/$1 page text
    shift
    page=$(MANWIDTH=100 man --warnings -l "$page_file" 2>"$prefix/man-errors")
    [[ -s $prefix/man-errors ]] && fail "man $page_file: $(cat "$prefix/man-errors")"
    for text in "$@"; do
        [[ $page == *"$text"* ]] || fail "the manual page $page_file lacks '$text'"
    done
}
if have man; then
    manual_page_has brindlemark-cli.1 "brindlemark-cli - rename object identifiers" "replace BUNDLE|MAP --list LIST" \
                    "--patch-script" "with a map: also patch its script" "EXIT STATUS" \
                    "These take a map too"
    [[ $window == ON ]] && manual_page_has brindlemark.1 "brindlemark - the window" "brindlemark [--lang en|ru] [FILE]" "--version" \
                                           "SEE ALSO"
fi

((failures == 0)) || exit 1
echo "installed and checked in a temporary prefix"
