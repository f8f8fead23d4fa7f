#!/usr/bin/env bash
# demo_test.sh BUILD_DIR: the demo without a display prints every simulated device through
# the command-line tool and leaves no namespace behind.
set -uo pipefail
build="$1"
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)"
[[ $(id -u) -eq 0 ]] || { echo "SKIP: the demo needs root"; exit 77; }
ip netns add "vd-demo-probe-$$" 2>/dev/null || { echo "SKIP: no network namespaces here"; exit 77; }
ip netns del "vd-demo-probe-$$"

out=$(env -u DISPLAY -u WAYLAND_DISPLAY VALDRUNE_BUILD_DIR="$build" \
      "$repo/scripts/demo.sh" --no-build 2>&1)
status=$?
echo "$out" | tail -5
fail=0
[[ $status -eq 0 ]] || { echo "FAIL demo exited with $status"; fail=1; }
grep -q "No display found" <<<"$out" || { echo "FAIL no fallback notice"; fail=1; }
for n in 01 02 03 04 05 06 07; do
    grep -qi "02-00-00-30-00-$n" <<<"$out" || { echo "FAIL current device $n missing"; fail=1; }
done
for mac in 02-00-00-03-00-08 02-00-00-03-00-09 02-00-00-0C-00-0A 02-00-00-0C-00-0B; do
    grep -qi "$mac" <<<"$out" || { echo "FAIL device $mac missing"; fail=1; }
done
if [[ -x /usr/bin/chromium ]]; then
    grep -A4 "Opening the page" <<<"$out" | grep -q "MAC address 02-00-00-30-00-03" ||
        { echo "FAIL the device page did not open"; fail=1; }
fi
pc_ns=$(sed -n 's/^pc namespace \(vd-demo-[0-9]*\)-pc:.*/\1/p' <<<"$out")
if [[ -z "$pc_ns" ]]; then
    echo "FAIL the demo did not name its namespaces"; fail=1
elif ip netns list | grep -q "^$pc_ns-"; then
    echo "FAIL namespaces left behind: $(ip netns list | grep "^$pc_ns-" | tr '\n' ' ')"; fail=1
fi
exit $fail
