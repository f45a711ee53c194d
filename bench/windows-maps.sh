#!/usr/bin/env bash
# The Windows brindlemark-cli.exe under wine against the Linux brindlemark-cli on the same machine, on a map
# folder and a map archive made from the corpus's most complete map: check, idlist, and a Replace with
# --patch-script and a Merge on a fresh copy each run. Prints, per command, the medians of both programs, wine's
# own start-up (the median of `wine brindlemark-cli.exe --version`) and the ratio once that start-up is taken off.
#   bench/windows-maps.sh LINUX_CLI WINDOWS_CLI MAPFILES [CORPUS]
# Needs hyperfine; WINEPREFIX as for make test-windows.
set -euo pipefail

linux_cli=$(realpath "$1")
windows_cli=$(realpath "$2")
mapfiles=$(realpath "$3")
corpus=$(realpath "${4:-$(dirname "$(realpath "$0")")/../../shared/corpus}")
runs=${RUNS:-10}
export WINEDEBUG=-all
wineserver -p 300 >/dev/null 2>&1 || true
wineboot --init >/dev/null 2>&1 || true

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

# The map with the most object data among those that have units, abilities and triggers.
source_map=$(find "$corpus" -type f -iname 'war3map.w3a' -printf '%s %h\n' | sort -n | while read -r _ dir; do
    [[ -f $dir/war3map.w3u && -f $dir/war3map.wtg ]] && echo "$dir"
done | tail -n 1)
bundle=$(find "$corpus" -type f -iname '*.w3o' -printf '%s %p\n' | sort -n | tail -n 1 | cut -d ' ' -f 2-)
folder="$scratch/папка карты"
mkdir -p "$folder"
cp "$source_map"/war3map* "$folder/"
: >"$folder/war3map.w3i"
chmod -R u+w "$folder"
"$linux_cli" idlist "$folder" -o "$scratch/ids.txt" >/dev/null
awk 'length($1) == 4 && n < 200 { print $1, "Z" substr($1, 2); n++ }' "$scratch/ids.txt" >"$scratch/list.txt"
# A script that names the renamed objects, as a map's war3map.j does.
awk '{ printf "call CreateUnit(Player(0), \x27%s\x27, 0.0, 0.0, 270.0)\n", $1 }' "$scratch/list.txt" >"$folder/war3map.j"
"$mapfiles" pack "$folder" "$scratch/карта.w3x"
echo "map: $source_map ($(du -sh "$folder" | cut -f1) of files), added bundle: $bundle"

median() { jq '.results[0].median * 1000' "$1"; }
measure() { # NAME PREPARE COMMAND: prints the median in ms
    hyperfine -w 2 -r "$runs" ${2:+--prepare "$2"} --export-json "$scratch/r.json" "$3" >/dev/null 2>&1
    median "$scratch/r.json"
}

startup=$(measure version "" "wine $windows_cli --version")
printf 'wine start-up (wine brindlemark-cli.exe --version): %.1f ms\n\n' "$startup"
printf '%-22s %-8s %12s %12s %14s\n' command form linux/ms wine/ms "ratio(-start)"
for form in folder archive; do
    if [[ $form == folder ]]; then map="$folder"; else map="$scratch/карта.w3x"; fi
    copy="$scratch/work"
    if [[ $form == folder ]]; then
        fresh="rm -rf '$copy' && cp -r '$map' '$copy'"
        target="$copy"
    else
        fresh="rm -f '$copy.w3x' && cp '$map' '$copy.w3x'"
        target="$copy.w3x"
    fi
    w() { windows_path "$1"; }
    for row in \
        "check|check '$map'|check '$(w "$map")'|" \
        "idlist|idlist '$map' -o '$scratch/o.txt'|idlist '$(w "$map")' -o '$(w "$scratch/o.txt")'|" \
        "replace --patch-script|replace '$target' --list '$scratch/list.txt' --patch-script|replace '$(w "$target")' --list '$(w "$scratch/list.txt")' --patch-script|$fresh" \
        "merge|merge '$target' '$bundle' --policy glue|merge '$(w "$target")' '$(w "$bundle")' --policy glue|$fresh"; do
        IFS='|' read -r name linux_args windows_args prepare <<<"$row"
        linux=$(measure "$name" "$prepare" "$linux_cli $linux_args")
        wine=$(measure "$name" "$prepare" "wine $windows_cli $windows_args")
        printf '%-22s %-8s %12.1f %12.1f %13.2fx\n' "$name" "$form" "$linux" "$wine" \
            "$(echo "($wine - $startup) / $linux" | bc -l)"
    done
done
