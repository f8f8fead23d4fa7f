#!/usr/bin/env bash
# interrupted-writes.sh HELPER RUNS: for the site list, the window's settings and the key/value
# store, RUNS times each: start a writer, SIGKILL it after a random 0-80 ms, and check that the
# file is one whole version. Prints how often the kill found each version and how many kills
# left a temporary file or a lock file (the settings' Qt locks, removed by the next writer)
# beside it; fails when temporary files pile up (the next write must remove what a killed one
# left). The settings' writer lock is there for good, like the file itself.
set -euo pipefail
helper=$1
runs=${2:-200}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
status=0
for kind in sitelist settings store; do
    path=$dir/$kind
    [[ $kind == store ]] && mkdir -p "$path"
    [[ $kind == sitelist ]] && path=$dir/site_list.xml
    [[ $kind == settings ]] && path=$dir/settings.ini
    # A first whole version, so that every kill has an old file to keep.
    "$helper" write "$kind" "$path" & pid=$!
    sleep 0.5
    kill -KILL "$pid"; wait "$pid" 2>/dev/null || true
    previous=$("$helper" check "$kind" "$path") || { echo "$kind: no first version"; exit 1; }
    find "$dir" -mindepth 1 -type f -name '*.lock' ! -name '*.writer.lock' -delete
    whole=$(find "$dir" -mindepth 1 -type f | sort)
    changed=0 kept=0 temporaries=0 locks=0
    for ((i = 0; i < runs; ++i)); do
        "$helper" write "$kind" "$path" & pid=$!
        sleep "0.0$((RANDOM % 80))"
        kill -KILL "$pid"; wait "$pid" 2>/dev/null || true
        if ! found=$("$helper" check "$kind" "$path"); then
            echo "$kind: run $i left a broken file ($found)"
            status=1
            break
        fi
        if [[ $found == "$previous" ]]; then kept=$((kept + 1)); else changed=$((changed + 1)); fi
        previous=$found
        left=$(comm -13 <(echo "$whole") <(find "$dir" -mindepth 1 -type f | sort))
        lock=$(grep -c -E '\.lock(\.rmlock)?$' <<<"$left" || true)
        temporary=$(grep -vc -E -e '\.lock(\.rmlock)?$' -e '^$' <<<"$left" || true)
        ((lock == 0)) || locks=$((locks + 1))
        ((temporary == 0)) || temporaries=$((temporaries + 1))
        if ((temporary > 1)); then
            echo "$kind: run $i: temporary files pile up:" $left
            status=1
            break
        fi
    done
    echo "$kind: $runs kills, whole file every time (unchanged $kept, other version $changed);" \
         "a temporary file after $temporaries, a lock after $locks"
    rm -rf "${dir:?}"/*
done
exit $status
