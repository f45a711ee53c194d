#!/usr/bin/env bash
# Runs the Linux brindlemark-cli and the Windows brindlemark-cli.exe (under wine) on the same inputs and compares
# the bytes each writes: every object file of the corpus normalized, and a Replace and a Merge with side files
# and backups. Every path holds Cyrillic letters and spaces.
# Then the same on maps: a map folder and a map archive made from the corpus, packed and unpacked by MAPFILES
# (tests/map/mapfiles.cpp, built by the Linux build).
#   scripts/compare-windows.sh LINUX_CLI WINDOWS_CLI [MAPFILES [CORPUS]]
set -euo pipefail

linux_cli=$(realpath "$1")
windows_cli=$(realpath "$2")
mapfiles=
[[ -n ${3:-} ]] && mapfiles=$(realpath "$3")
corpus=${4:-$(dirname "$(realpath "$0")")/../../shared/corpus}
export WINEDEBUG=-all

if [[ ! -d $corpus ]]; then
    echo "compare-windows: no corpus at $corpus; nothing compared"
    exit 0
fi
corpus=$(realpath "$corpus")

# The wine folder ready and its server kept up for the whole run, so that no run of the Windows program meets a
# server that is shutting down.
wineserver -p 120 >/dev/null 2>&1 || true
wineboot --init >/dev/null 2>&1 || true

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
work="$scratch/Карты с пробелами"
mkdir -p "$work/linux" "$work/windows"

# A path as the Windows program sees it under wine: the root folder is drive Z:.
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

run_linux() { "$linux_cli" "$@"; }
run_windows() {
    local args=() arg
    for arg in "$@"; do
        if [[ $arg == /* ]]; then args+=("$(windows_path "$arg")"); else args+=("$arg"); fi
    done
    wine "$windows_cli" "${args[@]}"
}

failures=0
# The two folders must hold the same files, byte for byte.
compare_folders() {
    if ! diff -r "$work/linux" "$work/windows" >&2; then
        echo "compare-windows: $1: the files written differ" >&2
        failures=$((failures + 1))
    fi
}

# Every object file, normalized: a bundle or a single-kind file read and written back.
count=0
while IFS= read -r -d '' file; do
    ext=${file##*.}
    count=$((count + 1))
    out="файл $count.$ext"
    linux_status=0 windows_status=0
    run_linux normalize "$file" -o "$work/linux/$out" 2>/dev/null || linux_status=$?
    run_windows normalize "$file" -o "$work/windows/$out" 2>/dev/null || windows_status=$?
    if [[ $linux_status != "$windows_status" ]]; then
        echo "compare-windows: $file: exit status $linux_status on Linux, $windows_status on Windows" >&2
        failures=$((failures + 1))
    fi
done < <(find "$corpus" -type f \( -iname '*.w3o' -o -iname '*.w3u' -o -iname '*.w3t' -o -iname '*.w3b' \
            -o -iname '*.w3d' -o -iname '*.w3a' -o -iname '*.w3h' -o -iname '*.w3q' \) -print0 | sort -z)
compare_folders "normalize"
echo "compare-windows: normalized $count object files"

# Replace in a bundle of objects with a map's trigger files beside it, backups on.
units=
while IFS= read -r candidate; do
    if compgen -G "$(dirname "$candidate")/*.wtg" >/dev/null; then
        units=$candidate
        break
    fi
done < <(find "$corpus" -type f -iname '*.w3u' -size +1k | sort)
if [[ -z $units ]]; then
    echo "compare-windows: the corpus has no unit file beside trigger files" >&2
    exit 1
fi
triggers=$(find "$(dirname "$units")" -maxdepth 1 -type f \( -iname '*.wtg' -o -iname '*.wct' \) | sort)
rm -rf "$work/linux"/* "$work/windows"/*
for side in linux windows; do
    cp "$units" "$work/$side/карта war3map.w3u"
    while IFS= read -r trigger; do
        [[ -n $trigger ]] && cp "$trigger" "$work/$side/триггеры $(basename "$trigger")"
    done <<< "$triggers"
done
chmod -R u+w "$work" # the corpus may be read-only, and a read-only file is not written over
# Every custom identifier the file holds gets a new first letter.
run_linux idlist "$work/linux/карта war3map.w3u" -o "$scratch/ids.txt"
# (No pipe into head: under pipefail a writer cut off early fails the script with SIGPIPE.)
awk 'length($1) == 4 && n < 40 { print $1, "Z" substr($1, 2); n++ }' "$scratch/ids.txt" > "$scratch/list.txt"
cp "$scratch/list.txt" "$work/linux/список замены.txt"
cp "$scratch/list.txt" "$work/windows/список замены.txt"
for side in linux windows; do
    args=(replace "$work/$side/карта war3map.w3u" --list "$work/$side/список замены.txt")
    for trigger in "$work/$side"/триггеры*; do args+=(--side "$trigger"); done
    if [[ $side == linux ]]; then run_linux "${args[@]}" >/dev/null; else run_windows "${args[@]}" >/dev/null; fi
done
compare_folders "replace"
echo "compare-windows: replace with $(wc -l < "$scratch/list.txt") renames and $(grep -c . <<< "$triggers" || true) side files"

# Merge two files of one kind, each policy in turn, backups on.
mapfile -t unit_files < <(find "$corpus" -type f -iname '*.w3u' -size +1k | sort)
second=
for candidate in "${unit_files[@]}"; do
    if [[ $candidate != "$units" ]]; then
        second=$candidate
        break
    fi
done
for policy in overwrite glue keep; do
    rm -rf "$work/linux"/* "$work/windows"/*
    for side in linux windows; do
        cp "$units" "$work/$side/основной.w3u"
        cp "$second" "$work/$side/добавленный.w3u"
    done
    chmod -R u+w "$work"
    run_linux merge "$work/linux/основной.w3u" "$work/linux/добавленный.w3u" --policy $policy 2>/dev/null
    run_windows merge "$work/windows/основной.w3u" "$work/windows/добавленный.w3u" --policy $policy 2>/dev/null
    compare_folders "merge --policy $policy"
done
echo "compare-windows: merge with every policy"

# Maps: a map folder made from the corpus's most complete map, and the same files packed into a map archive.
# Replace with a side file and --patch-script, merge with every policy, and import, each on a fresh copy; the
# files inside the written maps must be the same (two StormLib versions may lay an archive out differently), and
# each program's check must read the map the other wrote.
if [[ -n $mapfiles ]]; then
    source_map=
    for candidate in $(find "$corpus" -type f -iname 'war3map.w3u' | sort); do
        if [[ -f $(dirname "$candidate")/war3map.wtg && -f $(dirname "$candidate")/war3map.w3a ]]; then
            source_map=$(dirname "$candidate")
            break
        fi
    done
    bundle=$(find "$corpus" -type f -iname '*.w3o' -printf '%s %p\n' | sort -n | tail -n 1 | cut -d ' ' -f 2- || true)
    side_triggers=$(find "$corpus" -type f -iname '*.wtg' ! -path "$source_map/*" -size +1k | sort | head -n 1 || true)
    if [[ -z $source_map || -z $bundle || -z $side_triggers ]]; then
        echo "compare-windows: the corpus has no map with units, abilities and triggers, bundle or trigger file" >&2
        exit 1
    fi
    folder="$scratch/папка карты"
    mkdir -p "$folder"
    cp "$source_map"/war3map* "$folder/"
    : >"$folder/war3map.w3i"
    run_linux idlist "$folder" -o "$scratch/map ids.txt" >/dev/null
    awk 'length($1) == 4 && n < 40 { print $1, "Z" substr($1, 2); n++ }' "$scratch/map ids.txt" > "$scratch/map list.txt"
    # A script that names the renamed objects, as a map's war3map.j does.
    {
        echo "function main takes nothing returns nothing"
        awk '{ printf "    call CreateUnit(Player(0), '"'"'%s'"'"', 0.0, 0.0, 270.0)\n", $1 }' "$scratch/map list.txt"
        echo "endfunction"
    } > "$folder/war3map.j"
    chmod -R u+w "$folder"
    "$mapfiles" pack "$folder" "$scratch/карта.w3x"

    # The map of the form asked for (folder or archive) afresh in both work folders, with the side files.
    map_setup() {
        rm -rf "$work/linux"/* "$work/windows"/*
        for side in linux windows; do
            if [[ $1 == folder ]]; then cp -r "$folder" "$work/$side/карта"; else cp "$scratch/карта.w3x" "$work/$side/карта.w3x"; fi
            cp "$side_triggers" "$work/$side/триггеры.wtg"
            cp "$scratch/map list.txt" "$work/$side/список замены.txt"
            cp "$bundle" "$work/$side/добавленный.w3o"
            cp "$second" "$work/$side/добавленный.w3u"
        done
        chmod -R u+w "$work"
        if [[ $1 == archive ]]; then map_name=карта.w3x; else map_name=карта; fi
    }
    map_compare() {
        if ! diff -r --exclude='*.w3x' "$work/linux" "$work/windows" >&2; then
            echo "compare-windows: $1: the files written differ" >&2
            failures=$((failures + 1))
        fi
        rm -rf "$scratch/unpacked"
        for side in linux windows; do
            for archive in "$work/$side"/*.w3x; do
                [[ -f $archive ]] || continue
                "$mapfiles" unpack "$archive" "$scratch/unpacked/$side/$(basename "$archive")"
            done
        done
        if [[ -d $scratch/unpacked ]] && ! diff -r "$scratch/unpacked/linux" "$scratch/unpacked/windows" >&2; then
            echo "compare-windows: $1: the files inside the written maps differ" >&2
            failures=$((failures + 1))
        fi
        if ! run_linux check "$work/windows/$map_name" >/dev/null 2>&1; then
            echo "compare-windows: $1: the Linux program cannot read the map the Windows program wrote" >&2
            failures=$((failures + 1))
        fi
        if ! run_windows check "$work/linux/$map_name" >/dev/null 2>&1; then
            echo "compare-windows: $1: the Windows program cannot read the map the Linux program wrote" >&2
            failures=$((failures + 1))
        fi
    }
    map_run() { # label command arguments...: both programs, on their own work folder's copy
        local label=$1 linux_status=0 windows_status=0
        shift
        run_linux "${@//@/$work/linux}" >/dev/null 2>&1 || linux_status=$?
        run_windows "${@//@/$work/windows}" >/dev/null 2>&1 || windows_status=$?
        if [[ $linux_status != 0 || $windows_status != 0 ]]; then
            echo "compare-windows: $label: exit status $linux_status on Linux, $windows_status on Windows" >&2
            failures=$((failures + 1))
        fi
        map_compare "$label"
    }
    for form in folder archive; do
        map_setup $form
        map_run "replace in a map $form" replace "@/$map_name" --list "@/список замены.txt" --side "@/триггеры.wtg" \
            --patch-script
        for policy in overwrite glue keep; do
            map_setup $form
            map_run "merge --policy $policy into a map $form" merge "@/$map_name" "@/добавленный.w3u" --policy $policy
        done
        map_setup $form
        map_run "import into a map $form" import "@/$map_name" "@/добавленный.w3o"
    done
    echo "compare-windows: replace, merge with every policy and import on a map folder and a map archive"
else
    echo "compare-windows: no map packer given; maps not compared"
fi

if ((failures > 0)); then
    echo "compare-windows: $failures differences" >&2
    exit 1
fi
echo "compare-windows: the Linux and the Windows program wrote the same bytes"
