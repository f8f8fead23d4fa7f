#!/usr/bin/env bash
# Measures the window inside namespaces: time from process start to the first search request
# on the wire (captured on the pc adapter) and the peak resident memory of a 5-second run
# with the simulator's "demo" devices listed. Usage: measure.sh [build dir] [runs]
set -euo pipefail
source "$(dirname "$0")/../lib/netns.sh"
vd_require_netns || exit 77
export VALDRUNE_BUILD_DIR="${1:-${VALDRUNE_BUILD_DIR:-$(dirname "$0")/../../../build}}"
runs="${2:-5}"
window="$(vd_binary valdrune)"
vd_netns_create measure
vd_sim_start --scenario demo
env_args=(QT_QPA_PLATFORM=offscreen "XDG_RUNTIME_DIR=$VD_NETNS_TMP" "XDG_CONFIG_HOME=$VD_NETNS_TMP/config"
          "VALDRUNE_LIST_DUMP=$VD_NETNS_TMP/list.tsv")
for ((i = 1; i <= runs; i++)); do
    cap="$VD_NETNS_TMP/cap$i.txt"
    vd_pc timeout 20 tcpdump -i "$VD_PC_IF0" -n -tt -c 1 udp dst port 10670 >"$cap" 2>/dev/null &
    dump=$!
    sleep 0.5
    start=$(date +%s.%N)
    vd_pc env "${env_args[@]}" VALDRUNE_EXIT_AFTER_MS=1500 "$window"
    wait "$dump" || true
    first=$(awk 'NR==1 {print $1}' "$cap")
    awk -v a="$start" -v b="$first" 'BEGIN { printf "run %d: first search request after %.1f ms\n", '"$i"', (b - a) * 1000 }'
done
vd_pc env "${env_args[@]}" VALDRUNE_EXIT_AFTER_MS=5000 /usr/bin/time -f "peak RSS %M KiB" "$window"
echo "rows listed: $(wc -l <"$VD_NETNS_TMP/list.tsv")"
