#!/usr/bin/env bash
# Drives the generated bash completion of brindlemark-cli as bash would on a TAB, in a folder of sample files,
# and checks what it offers. Usage: completion_test.sh COMPLETION_FILE [ZSH_COMPLETION_FILE]
set -uo pipefail
source "$1" || exit 1
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
cd "$folder" || exit 1
touch a.w3o B.W3X units.w3u c.txt d.wts e.json
mkdir sub

# The words offered for a command line whose last word (possibly empty) is being completed, sorted.
offered() {
    read -r -a COMP_WORDS <<<"$1"
    [[ $1 == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _brindlemark_cli
    printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ' | sed 's/ $//'
}

failures=0
while IFS='|' read -r line expected; do
    [[ -z $line ]] && continue
    got=$(offered "$line")
    if [[ $got != "$expected" ]]; then
        echo "FAIL: '$line' offers '$got', expected '$expected'" >&2
        failures=$((failures + 1))
    fi
done <<'CASES'
brindlemark-cli ch|check
brindlemark-cli --v|--version
brindlemark-cli help me|merge merge3
brindlemark-cli replace --pa|--patch-script
brindlemark-cli replace --l|--list
brindlemark-cli merge B.W3X units.w3u --policy |glue keep overwrite
brindlemark-cli check |B.W3X a.w3o sub units.w3u
brindlemark-cli replace a.w3o --list |c.txt sub
brindlemark-cli replace a.w3o --list c.txt |
brindlemark-cli replace -l c.txt -s c.txt |B.W3X a.w3o sub units.w3u
brindlemark-cli merge B.W3X |B.W3X a.w3o sub units.w3u
brindlemark-cli idlist a.w3o --strings |d.wts sub
brindlemark-cli normalize a.w3o -o |B.W3X a.w3o c.txt d.wts e.json sub units.w3u
brindlemark-cli build |e.json sub
brindlemark-cli diff a.w3o units.w3u --strings |d.wts sub
brindlemark-cli dump -- |B.W3X a.w3o sub units.w3u
CASES

# The zsh completion is checked for its syntax where zsh is installed.
if [[ $# -ge 2 ]] && command -v zsh >/dev/null 2>&1; then
    zsh -n "$2" || { echo "FAIL: zsh completion does not parse" >&2; failures=$((failures + 1)); }
fi
((failures == 0))
