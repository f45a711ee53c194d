#!/usr/bin/env bash
# Installs the Windows installer silently into a fresh wine folder of its own and checks what a user gets: the
# files under Program Files, the Start menu entry, the file types and the uninstall entry; runs the installed
# command-line tool on a map folder; then uninstalls silently and checks that nothing of the installer's remains,
# that an extension another program owned before is given back to it, and that the user's files are untouched.
# Usage: windows_installer_test.sh INSTALLER
set -uo pipefail
installer=$1
work=$(mktemp -d)
export WINEPREFIX=$work/prefix WINEDEBUG=-all
# No Mono or Gecko prompts; and no menu builder, which would copy the Start menu entry and the file types into
# the desktop of the machine that runs the test.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
cleanup() { wineserver -k >/dev/null 2>&1; rm -rf "$work"; }
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

wineboot --init >/dev/null 2>&1 && wineserver -w || { echo "FAIL: wineboot --init" >&2; exit 1; }

drive=$WINEPREFIX/drive_c
folder="$drive/Program Files/Brindlemark"
shortcut="$drive/ProgramData/Microsoft/Windows/Start Menu/Programs/Brindlemark.lnk"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Brindlemark'
installed=(brindlemark.exe brindlemark-cli.exe brindlemark.ico README.txt LICENSE.txt uninstall.exe)
extensions=(.w3o .w3u .w3t .w3b .w3d .w3a .w3h .w3q .w3x .w3m)
file_type() { # extension: the file type the installer gives it
    case $1 in .w3o) echo Brindlemark.Bundle ;; .w3x | .w3m) echo Brindlemark.Map ;; *) echo Brindlemark.ObjectFile ;; esac
}
# The default value of a registry key, or nothing (and failure) when the key is missing.
default_value() { wine reg query "$1" /ve 2>/dev/null | tr -d '\r' | sed -n 's/^.*REG_SZ[[:space:]]*//p'; }
key_exists() { wine reg query "$1" >/dev/null 2>&1; }

# The user's own things: a document, a map folder, and an extension that another program owns.
user=$drive/users/$(whoami)/Documents
mkdir -p "$user/MyMap"
echo "my notes" >"$user/notes.txt"
wine reg add 'HKCR\.w3m' /ve /d OtherEditor.Map /f >/dev/null 2>&1 || fail "cannot give .w3m to another program"

wine "$installer" /S && wineserver -w || fail "the silent install exits with an error"

for file in "${installed[@]}"; do
    [[ -s $folder/$file ]] || fail "$file is not installed"
done
[[ -s $shortcut ]] || fail "no Start menu entry"
for extension in "${extensions[@]}"; do
    type=$(file_type "$extension")
    [[ $(default_value "HKCR\\$extension") == "$type" ]] || fail "$extension is not associated with $type"
done
for type in Brindlemark.Bundle Brindlemark.ObjectFile Brindlemark.Map; do
    command=$(default_value "HKCR\\$type\\shell\\open\\command")
    [[ $command == '"C:\Program Files\Brindlemark\brindlemark.exe" "%1"' ]] || fail "$type opens with '$command'"
    [[ $(default_value "HKCR\\$type\\DefaultIcon") == 'C:\Program Files\Brindlemark\brindlemark.ico' ]] ||
        fail "$type has no icon"
done
key_exists "$uninstall_key" || fail "no uninstall entry"

# The installed tool on a map folder: an object file built from JSON, its identifiers listed, one renamed.
cli() { (cd "$user/MyMap" && wine "$folder/brindlemark-cli.exe" "$@" 2>&1 | tr -d '\r'); }
: >"$user/MyMap/war3map.w3i"
printf '%s' '{"kinds":{"units":{"custom":[{"baseId":"hfoo","newId":"h000","modifications":[
  {"field":"unam","type":"string","value":"Footman of the test"}]}]}}}' >"$user/unit.json"
cli build ../unit.json -o war3map.w3u >/dev/null || fail "the installed tool cannot build an object file"
cli idlist . -o ../ids.txt >/dev/null || fail "the installed tool cannot list the map's identifiers"
grep -q 'h000.*Footman of the test' "$user/ids.txt" || fail "the identifier list lacks h000: $(cat "$user/ids.txt")"
printf 'h000\th001\n' >"$user/list.txt"
cli replace . --list ../list.txt --no-backup >/dev/null || fail "the installed tool cannot replace in the map"
output=$(cli dump .)
[[ $output == *h001* && $output != *h000* ]] || fail "the map is not renamed: $output"

# A file of the user's in the program's folder stays, and the folder with it.
echo "mine" >"$folder/mine.txt"
wine "$folder/uninstall.exe" /S && wineserver -w || fail "the silent uninstall exits with an error"

for file in "${installed[@]}"; do
    [[ -e $folder/$file ]] && fail "$file is still installed"
done
[[ $(cat "$folder/mine.txt" 2>/dev/null) == mine ]] || fail "the user's file in the program's folder is gone"
[[ -e $shortcut ]] && fail "the Start menu entry is still there"
for extension in "${extensions[@]}"; do
    [[ $extension == .w3m ]] && continue
    key_exists "HKCR\\$extension" && fail "$extension is still registered"
done
[[ $(default_value 'HKCR\.w3m') == OtherEditor.Map ]] || fail ".w3m is not given back to the program that had it"
wine reg query 'HKCR\.w3m' /v Brindlemark.Previous >/dev/null 2>&1 && fail ".w3m keeps the installer's note"
for type in Brindlemark.Bundle Brindlemark.ObjectFile Brindlemark.Map; do
    key_exists "HKCR\\$type" && fail "the file type $type is still registered"
done
key_exists "$uninstall_key" && fail "the uninstall entry is still there"
[[ $(cat "$user/notes.txt") == "my notes" ]] || fail "the user's document changed"
[[ -s $user/MyMap/war3map.w3u ]] || fail "the user's map is gone"

((failures == 0)) || exit 1
echo "the installer installs, the installed tool works, the uninstaller removes all it installed"
