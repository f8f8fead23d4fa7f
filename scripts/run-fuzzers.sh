#!/usr/bin/env bash
# run-fuzzers.sh BUILD_DIR SECONDS: runs every libFuzzer target in BUILD_DIR/fuzz for SECONDS
# in total, seeded from fuzz/corpus/<target>; fails on the first crash.
set -euo pipefail
build=${1:-build-fuzz}
total=${2:-60}
cd "$(dirname "$0")/.."
mapfile -t targets < <(find "$build/fuzz" -maxdepth 1 -type f -executable -name 'fuzz_*' | sort)
if ((${#targets[@]} == 0)); then
    echo "no fuzz targets in $build/fuzz"
    exit 0
fi
per=$((total / ${#targets[@]}))
((per < 5)) && per=5
for t in "${targets[@]}"; do
    name=$(basename "$t")
    work="$build/fuzz/work-$name"
    mkdir -p "$work"
    seeds=()
    [[ -d fuzz/corpus/$name ]] && seeds=("fuzz/corpus/$name")
    echo "== $name for ${per}s"
    "$t" -max_total_time="$per" -print_final_stats=1 "$work" "${seeds[@]}" 2>&1 | tail -n 15
done
