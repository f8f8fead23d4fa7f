#!/usr/bin/env bash
# Wall time of commissioning a batch: valdrune-cli apply giving COUNT simulated devices (each
# silent for RESTART_MS after its change) new addresses, with the default parallelism (16 talked
# to at once, restarts overlapping without a bound), with
# --parallel 1 and with --parallel COUNT, against one device's change (valdrune-cli set). Each
# case runs in namespaces of its own, all at the same time, so the run lasts about as long as
# the slowest case (--parallel 1: about COUNT x 36 s). Needs root for the namespaces; real
# time, no time scale.
#
#   bench/batch-apply.sh                 # 50 devices, 30 s restarts
#   COUNT=10 RESTART_MS=5000 bench/batch-apply.sh
#   VALDRUNE_BUILD_DIR=/path/to/build bench/batch-apply.sh
set -uo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# shellcheck source=../tests/e2e/lib/netns.sh
source "$repo/tests/e2e/lib/netns.sh"
vd_require_netns || exit 77

COUNT="${COUNT:-50}"
RESTART_MS="${RESTART_MS:-30000}"
cli="$(vd_binary valdrune-cli)"
[[ -x "$cli" ]] || { echo "valdrune-cli not found at $cli (build it first)" >&2; exit 1; }
results="$(mktemp -d /tmp/vd-bench-batch.XXXXXX)"
trap 'rm -rf "$results"' EXIT

# One case in namespaces of its own: NAME DEVICES OCTET COMMAND... ("@plan" is replaced by the
# plan's path, "@mac" and "@ip" by the first device's MAC and new address). Writes
# NAME.time (seconds), NAME.rc, NAME.out and NAME.err into $results.
run_case() {
    local name="$1" devices="$2" octet="$3"
    shift 3
    (
        vd_netns_create "bb$name" "$octet" || exit 1
        local config="$VD_NETNS_TMP/devices.json" plan="$VD_NETNS_TMP/plan.csv" i mac sep=""
        echo "mac,mode,ip,mask" >"$plan"
        {
            echo "["
            for ((i = 0; i < devices; i++)); do
                mac=$(printf '02-B0-%02X-00-%02X-%02X' "$octet" $((i / 256)) $((i % 256)))
                printf '%s{"mac":"%s","ip":".%d","mask":"255.255.255.0","restartMs":%d}\n' \
                    "$sep" "$mac" $((20 + i)) "$RESTART_MS"
                sep=","
                echo "$mac,static,$VD_SUBNET0.$((100 + i)),255.255.255.0" >>"$plan"
            done
            echo "]"
        } >"$config"
        vd_sim_start --config "$config" --no-pages || exit 1
        local args=() a
        for a in "$@"; do
            case "$a" in
                @plan) args+=("$plan") ;;
                @mac) args+=("$(printf '02-B0-%02X-00-00-00' "$octet")") ;;
                @ip) args+=("$VD_SUBNET0.100") ;;
                *) args+=("$a") ;;
            esac
        done
        local start end rc
        start=$(date +%s.%N)
        vd_pc "$cli" "${args[@]}" >"$results/$name.out" 2>"$results/$name.err"
        rc=$?
        end=$(date +%s.%N)
        echo "$rc" >"$results/$name.rc"
        awk -v s="$start" -v e="$end" 'BEGIN { printf "%.1f\n", e - s }' >"$results/$name.time"
    )
}

base=$(( $$ % 200 + 1 ))
echo "$COUNT devices, ${RESTART_MS} ms restarts; the slowest case takes about" \
    "$(( COUNT * (RESTART_MS / 1000 + 6) / 60 + 1 )) min" >&2
run_case default "$COUNT" "$base" apply @plan --json &
pids=($!)
run_case serial "$COUNT" $((base + 1)) apply @plan --json --parallel 1 &
pids+=($!)
run_case all "$COUNT" $((base + 2)) apply @plan --json --parallel "$COUNT" &
pids+=($!)
run_case single 1 $((base + 3)) set @mac --static --ip @ip --mask 255.255.255.0 &
pids+=($!)
for pid in "${pids[@]}"; do wait "$pid"; done

status=0
report() {  # NAME LABEL
    local t rc applied=""
    t=$(cat "$results/$1.time" 2>/dev/null || echo "?")
    rc=$(cat "$results/$1.rc" 2>/dev/null || echo "?")
    if [[ "$1" != single ]]; then
        applied=", $(grep -o '"status": *"applied"' "$results/$1.out" 2>/dev/null | wc -l) applied"
    fi
    printf '%-40s %8s s  (exit %s%s)\n' "$2" "$t" "$rc" "$applied"
    if [[ "$rc" != 0 ]]; then
        status=1
        sed 's/^/    /' "$results/$1.err" | tail -5
    fi
}
report default "apply, default (--parallel 16)"
report serial "apply --parallel 1"
report all "apply --parallel $COUNT"
report single "one device's change (set)"
awk -v b="$(cat "$results/default.time")" -v a="$(cat "$results/all.time")" \
    -v s="$(cat "$results/single.time")" -v p="$(cat "$results/serial.time")" 'BEGIN {
    printf "ratio batch (default) / one change:      %.2f  (goal: 2 or less)\n", b / s
    printf "ratio batch (--parallel all) / one change: %.2f\n", a / s
    printf "ratio --parallel 1 / default:            %.2f\n", p / b
}'
exit "$status"
