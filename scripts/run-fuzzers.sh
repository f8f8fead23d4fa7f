#!/usr/bin/env bash
# run-fuzzers.sh [BUILD_DIR] [BUDGET] [TARGET...]: runs the libFuzzer targets in BUILD_DIR/fuzz
# (all of them, or the ones named), seeded from fuzz/corpus/<target> with fuzz/<target>.dict.
# BUDGET is seconds in total, shared between the targets ("60", "10m", "2h"), or executions
# per target ("1e8x", "500000x"). Fails on the first finding; the crashing input is left in
# BUILD_DIR/fuzz/findings.
#   run-fuzzers.sh build-fuzz 60                   # CI: a minute over every target
#   run-fuzzers.sh build-fuzz 1e8x fuzz_answer     # a long run of the answer fuzzer
set -euo pipefail
build=${1:-build-fuzz}
budget=${2:-60}
shift $(($# > 2 ? 2 : $#))
cd "$(dirname "$0")/.."

if (($# > 0)); then
    targets=()
    for name in "$@"; do targets+=("$build/fuzz/$name"); done
else
    mapfile -t targets < <(find "$build/fuzz" -maxdepth 1 -type f -executable -name 'fuzz_*' | sort)
fi
if ((${#targets[@]} == 0)); then
    echo "no fuzz targets in $build/fuzz"
    exit 0
fi

limit=()
case $budget in
    *x) runs=$(awk -v n="${budget%x}" 'BEGIN { printf "%.0f", n }')
        limit=(-runs="$runs")
        echo "budget: $runs executions per target" ;;
    *h) limit=(-max_total_time=$(( ${budget%h} * 3600 / ${#targets[@]} ))) ;;
    *m) limit=(-max_total_time=$(( ${budget%m} * 60 / ${#targets[@]} ))) ;;
    *s) limit=(-max_total_time=$(( ${budget%s} / ${#targets[@]} ))) ;;
    *) limit=(-max_total_time=$(( budget / ${#targets[@]} ))) ;;
esac
if [[ ${limit[0]} == -max_total_time=* ]] && (( ${limit[0]#*=} < 5 )); then
    limit=(-max_total_time=5)
fi

mkdir -p "$build/fuzz/findings"
for t in "${targets[@]}"; do
    name=$(basename "$t")
    [[ -x $t ]] || { echo "$t: not built"; exit 1; }
    work="$build/fuzz/work-$name"
    mkdir -p "$work"
    args=("${limit[@]}" -print_final_stats=1 -artifact_prefix="$build/fuzz/findings/$name-")
    [[ -f fuzz/$name.dict ]] && args+=(-dict="fuzz/$name.dict")
    seeds=()
    [[ -d fuzz/corpus/$name ]] && seeds=("fuzz/corpus/$name")
    echo "== $name (${limit[0]#-})"
    start=$(date +%s)
    log="$work/last.log"
    if ! "$t" "${args[@]}" "$work" "${seeds[@]}" >"$log" 2>&1; then
        tail -n 40 "$log"
        echo "$name: finding, see $build/fuzz/findings"
        exit 1
    fi
    grep -E '^(#[0-9]+ +DONE|stat::number_of_executed_units|stat::average_exec_per_sec|stat::peak_rss_mb)' \
        "$log" || tail -n 5 "$log"
    echo "$name: $(($(date +%s) - start)) s"
done
