#!/usr/bin/env bash
# loss.sh BUILD_DIR [RUNS] [SETS] [LOSS%...]: searches and settings changes through a lossy,
# reordering and duplicating link. nftables in the pc namespace drops LOSS % of the UDP requests
# and answers (default 10 and 30), and a second sender (tests/stress/replay.cpp) sends copies of
# every fourth device's answers at random moments. For each loss, RUNS searches of one cycle
# (default 20) against 100 simulated devices: no row twice, every row with the device's own
# values, and the share of the other devices found (one cycle gives each device five chances:
# 1 - (1 - (1-p)^2)^5, 99.97 % at 10 %, 96.5 % at 30 %). Then SETS address changes (default
# 5) under the same loss, each followed by a search without loss: the device's real state must
# match the outcome (changed on success, unchanged when nothing was accepted). The protocol
# runs VALDRUNE_LOSS_SCALE times faster (default 5) through the end-to-end CLI driver.
# Needs root; exit 77 when namespaces cannot be made.
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$repo/build}" && pwd)
runs=${2:-20}
sets=${3:-5}
shift $(($# > 3 ? 3 : $#))
losses=("$@")
((${#losses[@]} > 0)) || losses=(10 30)
scale=${VALDRUNE_LOSS_SCALE:-5}
count=100
export VALDRUNE_BUILD_DIR=$build
# shellcheck source=../e2e/lib/netns.sh
source "$repo/tests/e2e/lib/netns.sh"
vd_require_netns || exit 77
vd_netns_create "loss$$" || exit 1
vd_sim_start --scenario many --count "$count" --time-scale "$scale" || exit 1
cli=$build/tests/e2e/cli/cli_e2e_driver
cli() { vd_pc env VALDRUNE_TIME_SCALE="$scale" "$cli" "$@"; }
tmp=$VD_NETNS_TMP

# Device index from its MAC (the "many" scenario numbers them from 100); every fourth is copied.
index() { echo $((16#${1:12:2}${1:15:2} - 100)); }
replayed() { (($(index "$1") % 4 == 3)); }
# Rows of a search without the answer counter and the overlap list (they vary between answers).
rows() { tail -n +2 "$1" | cut -d, -f1-41 | sort; }

lossy() {
    vd_pc nft delete table inet loss 2>/dev/null || true
    (($1 == 0)) && return
    vd_pc nft -f - <<NFT
table inet loss {
    chain in { type filter hook input priority 0; udp dport 10669 numgen random mod 100 < $1 drop; }
    chain out { type filter hook output priority 0; udp dport 10670 numgen random mod 100 < $1 drop; }
}
NFT
}

# Searches without loss go on until every device has answered (a loaded machine may need more
# than one cycle).
whole() { cli search --csv --cycles 3 --expect "$count" >"$1" || true; }

status=0
for loss in "${losses[@]}"; do
    # What the devices hold now (the changes below move one of them).
    lossy 0
    whole "$tmp/reference.csv"
    rows "$tmp/reference.csv" >"$tmp/reference"
    (($(wc -l <"$tmp/reference") == count)) || { echo "the lossless search did not find all $count"; exit 1; }
    measured=$(cut -d, -f1 "$tmp/reference" | while read -r mac; do replayed "$mac" || echo; done | wc -l)
    lossy "$loss"
    found=0 extra=0 twice=0 other=0
    for ((r = 0; r < runs; ++r)); do
        vd_dev "$build/tests/stress/replay" "${VD_PC_IP[0]}" "${VD_PC_MAC[0]}" "${VD_SUBNET[0]}" \
            "$count" 4 3 "$(awk -v s="$scale" 'BEGIN { print 8 / s }')" >/dev/null & replay=$!
        cli search --csv >"$tmp/run.csv" || { echo "loss $loss %: search $r failed"; status=1; }
        wait "$replay" || true
        rows "$tmp/run.csv" >"$tmp/run"
        dup=$(cut -d, -f1 "$tmp/run" | uniq -d | wc -l)
        wrong=$(comm -23 "$tmp/run" "$tmp/reference" | wc -l)
        twice=$((twice + dup)) other=$((other + wrong))
        if ((dup + wrong > 0)); then
            echo "loss $loss %: search $r: $dup rows twice, $wrong rows with other values"
            comm -23 "$tmp/run" "$tmp/reference" | head -3
            status=1
        fi
        while read -r mac; do
            if replayed "$mac"; then extra=$((extra + 1)); else found=$((found + 1)); fi
        done < <(cut -d, -f1 "$tmp/run")
    done
    awk -v l="$loss" -v r="$runs" -v f="$found" -v m="$measured" -v e="$extra" -v c="$count" \
        -v t="$twice" -v o="$other" 'BEGIN {
        q = (1 - l / 100) ^ 2; limit = 1 - (1 - q) ^ 5
        printf "loss %d %%: %d searches, %d of %d devices found (%.2f %%, one cycle'"'"'s limit %.2f %%), copied devices %d of %d, rows twice %d, rows with other values %d\n",
               l, r, f, m * r, 100 * f / (m * r), 100 * limit, e, (c - m) * r, t, o }'

    # Address changes of device 0 under the same loss, checked by a search without loss.
    mac=$(head -n 1 "$tmp/reference" | cut -d, -f1)
    declare -A outcomes=()
    for ((k = 0; k < sets; ++k)); do
        lossy 0
        whole "$tmp/before.csv"
        old=$(grep "^$mac," "$tmp/before.csv" | cut -d, -f2)
        new=${VD_SUBNET[0]}.$((200 + (k + loss) % 50))
        [[ $new == "$old" ]] && new=${VD_SUBNET[0]}.199
        lossy "$loss"
        code=0
        cli set "$mac" --static --ip "$new" --mask 255.255.255.0 >"$tmp/set.out" 2>&1 || code=$?
        lossy 0
        whole "$tmp/after.csv"
        now=$(grep "^$mac," "$tmp/after.csv" | cut -d, -f2 || true)
        state=unchanged
        [[ $now == "$new" ]] && state=changed
        [[ -z $now ]] && state=missing
        outcomes["exit $code, $state"]=$((${outcomes["exit $code, $state"]:-0} + 1))
        case "$code:$state" in
            # 6: accepted, but not seen with the new settings (they may not have been taken).
            0:changed | 5:unchanged | 6:* | 7:unchanged) ;;
            *) echo "loss $loss %: change $k to $new ended with exit $code but the device is $state"
               tail -n 3 "$tmp/set.out"
               status=1 ;;
        esac
    done
    summary=""
    for o in "${!outcomes[@]}"; do summary+="${summary:+; }${outcomes[$o]}x $o"; done
    echo "loss $loss %: $sets address changes: ${summary:-none}"
    unset outcomes
done
lossy 0
exit $status
