#!/usr/bin/env bash
# flood.sh BUILD_DIR [RATE] [SECONDS]: a real search in a pc namespace against the simulator's
# "kinds" devices while a flood (tests/stress/flood.cpp) hits UDP 10669 from the devices'
# namespace. Checks that every real device is found with its own values and that the table
# stays within its 100 devices; prints the search's CPU time and peak memory. Needs root.
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$repo/build}" && pwd)
rate=${2:-20000}
seconds=${3:-5}
export VALDRUNE_BUILD_DIR=$build
# shellcheck source=../e2e/lib/netns.sh
source "$repo/tests/e2e/lib/netns.sh"
vd_require_netns || exit 77
vd_netns_create "flood$$" || exit 1
vd_sim_start --scenario kinds || exit 1
cli=$(vd_binary valdrune-cli)
mapfile -t expected < <("$(vd_binary valdrune-sim)" --scenario kinds --subnet "${VD_SUBNET[0]}" --list |
                        awk '{ print $2 " " $3 }')
# UDP counters of the pc namespace: datagrams delivered to sockets and dropped for a full buffer.
udp_counters() { vd_pc awk '/^Udp:/ && $2 ~ /^[0-9]/ { print $2, $6 }' /proc/net/snmp; }
read -r delivered0 dropped0 < <(udp_counters)
out=$VD_NETNS_TMP/search.json
stats=$VD_NETNS_TMP/time.txt
# The search sends its first request at once; the flood starts while the devices answer it.
vd_pc /usr/bin/time -f '%U %S %M' -o "$stats" "$cli" search --json --timeout "$((seconds + 3))" \
    >"$out" & search=$!
sleep 0.2
vd_dev "$build/tests/stress/flood" "${VD_PC_IP[0]}" "${VD_PC_MAC[0]}" "${VD_SUBNET[0]}" \
    "$rate" "$seconds"
status=0
wait "$search" || status=$?
read -r user system rss <"$stats"
read -r delivered dropped < <(udp_counters)
echo "pc namespace: $((delivered - delivered0)) datagrams delivered, $((dropped - dropped0)) dropped for a full receive buffer"
count=$(grep -o '"mac": *"[^"]*"' "$out" | wc -l)
echo "search: exit $status, $count devices listed, CPU ${user}s user ${system}s system, peak RSS ${rss} KiB"
fail=0
((count <= 100)) || { echo "more than 100 devices listed"; fail=1; }
for line in "${expected[@]}"; do
    mac=${line% *} ip=${line#* }
    # The real device's own object: its MAC and its address, not a flood copy's.
    if ! tr -d '\n' <"$out" | grep -q "\"mac\": *\"$mac\"[^}]*\"$ip\""; then
        echo "real device $mac ($ip) missing or wrong"
        fail=1
    fi
done
((fail == 0)) && echo "flood: every real device found, table within 100"
exit $fail
