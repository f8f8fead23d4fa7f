#!/usr/bin/env bash
# soak.sh BUILD_DIR [MINUTES] [STEP]: valdrune-cli search --watch --json for MINUTES (default 30)
# against a simulator whose 30 devices come, go and change: every STEP seconds (default 20) the
# simulator restarts with each device present at random (7 in 10) and a present device renamed
# at random (1 in 5). Checks that every device's first answer is reported once as new and every
# change once as changed (a device that comes back unchanged is not reported again), and prints
# the watcher's resident memory every minute. Needs root; exit 77 when namespaces cannot be made.
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$repo/build}" && pwd)
minutes=${2:-30}
step=${3:-20}
pool=30
export VALDRUNE_BUILD_DIR=$build
# shellcheck source=../e2e/lib/netns.sh
source "$repo/tests/e2e/lib/netns.sh"
vd_require_netns || exit 77
vd_netns_create "soak$$" || exit 1
tmp=$VD_NETNS_TMP
config=$tmp/devices.json

declare -a version seen present
for ((i = 0; i < pool; ++i)); do version[i]=0 seen[i]=-1; done
expected_new=0 expected_changed=0
mac() { printf '02-00-22-00-00-%02X' "$1"; }
# The next state: who is there and what they are called; counts what the watcher must report.
next_state() {
    local i json="" first=1
    for ((i = 0; i < pool; ++i)); do
        present[i]=$((RANDOM % 10 < 7))
        ((present[i])) || continue
        ((RANDOM % 5 == 0)) && version[i]=$((version[i] + 1))
        if ((seen[i] < 0)); then
            expected_new=$((expected_new + 1))
        elif ((seen[i] != version[i])); then
            expected_changed=$((expected_changed + 1))
        fi
        seen[i]=${version[i]}
        ((first)) || json+=","
        first=0
        json+="{\"mac\":\"$(mac "$i")\",\"ip\":\".$((20 + i))\",\"name\":\"Soak $i v${version[i]}\","
        json+="\"serial\":\"$(printf 'VDS%07d' "$i")\"}"
    done
    echo "[$json]" >"$config"
}

next_state
vd_sim_start --config "$config" || exit 1
out=$tmp/watch.jsonl
ip netns exec "$VD_PC_NS" "$(vd_binary valdrune-cli)" search --watch --json >"$out" \
    2>"$tmp/watch.err" & watch=$!
start=$(date +%s)
end=$((start + minutes * 60))
steps=1 next_sample=$start
echo "minute  RSS KiB  reports"
while (($(date +%s) < end)); do
    now=$(date +%s)
    if ((now >= next_sample)); then
        rss=$(awk '/^VmRSS/ { print $2 }' "/proc/$watch/status" 2>/dev/null || echo gone)
        printf '%6d  %7s  %7d\n' $(((now - start) / 60)) "$rss" "$(wc -l <"$out")"
        samples+=("$rss")
        next_sample=$((next_sample + 60))
    fi
    sleep "$step"
    kill -0 "$watch" 2>/dev/null || { echo "the watcher ended early:"; cat "$tmp/watch.err"; exit 1; }
    vd_sim_stop
    next_state
    vd_sim_start --config "$config" || exit 1
    steps=$((steps + 1))
done
sleep "$step"  # the last state's answers
kill -TERM "$watch" 2>/dev/null || true
wait "$watch" 2>/dev/null || true

new=$(grep -c '"event":"new"' "$out" || true)
changed=$(grep -c '"event":"changed"' "$out" || true)
# The same device with the same name reported twice in a row is a change reported twice.
twice=$(grep -o '"mac":"[^"]*"\|"name":"[^"]*"' "$out" | paste - - | sort | uniq -d | wc -l)
echo "$steps states in $minutes min: new $new (expected $expected_new)," \
     "changed $changed (expected $expected_changed), reported twice $twice"
first=${samples[1]:-${samples[0]}} last=${samples[-1]}
echo "resident memory: $first KiB after the first minute, $last KiB at the end"
status=0
((new == expected_new && changed == expected_changed && twice == 0)) || status=1
[[ $last != gone ]] && (((last - first) <= 4096)) || { echo "memory grew"; status=1; }
exit $status
