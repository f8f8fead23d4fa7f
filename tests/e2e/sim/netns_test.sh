#!/usr/bin/env bash
# netns_test.sh BUILD_DIR: the shell harness joins the pc namespace to two device segments,
# the simulator answers echo at its devices' addresses, and a script that fails under
# "set -euo pipefail" still leaves no namespace and no process behind.
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
export VALDRUNE_BUILD_DIR="$1"
source "$here/../lib/netns.sh"
vd_require_netns || exit 77
fail=0
report="$(mktemp)"
trap 'rm -f "$report"' EXIT

# The script under test runs in its own bash so that its traps are its own.
bash -c '
    set -euo pipefail
    source "$1/../lib/netns.sh"
    vd_netns_create harness
    vd_netns_add_segment
    echo "names $VD_PC_NS ${VD_DEV_NS[*]}" >>"$2"
    vd_sim_start --scenario kinds
    vd_sim_start -s 1 --scenario kinds
    for k in 0 1; do
        vd_pc ping -c1 -W2 "${VD_SUBNET[$k]}.21" >/dev/null && echo "echo$k ok" >>"$2"
    done
    # A device outside the /24 is reached through the default route into segment 0.
    vd_pc ip route get 192.168.1.254 | grep -q "dev ${VD_PC_IF[0]}" && echo "route ok" >>"$2"
    vd_dev sleep 300 &
    echo "sleeper $!" >>"$2"
    sleep 0.2
    false    # the failure that must still clean up
    echo "not reached" >>"$2"
' harness "$here" "$report"
status=$?

cat "$report"
[[ $status -ne 0 ]] || { echo "FAIL the failing script reported success"; fail=1; }
for line in "echo0 ok" "echo1 ok" "route ok"; do
    grep -qx "$line" "$report" || { echo "FAIL missing: $line"; fail=1; }
done
grep -q "not reached" "$report" && { echo "FAIL set -e did not stop the script"; fail=1; }
for ns in $(sed -n 's/^names //p' "$report"); do
    ip netns list | grep -q "^$ns\b" && { echo "FAIL namespace $ns left behind"; fail=1; }
done
sleeper=$(sed -n 's/^sleeper //p' "$report")
if [[ -n "$sleeper" ]] && kill -0 "$sleeper" 2>/dev/null; then
    echo "FAIL process $sleeper still running"; kill "$sleeper"; fail=1
fi
exit $fail
