#!/usr/bin/env bash
# package_test.sh BUILD_DIR CPACK: the .deb holds every program, page and desktop file, grants
# capabilities on installation to the probe helper alone, declares its library dependencies,
# and its programs work from the unpacked tree: --help, a search of the simulator inside
# network namespaces, and an address probe by an unprivileged user through the helper.
# With VALDRUNE_PACKAGE_APT_INSTALL=1 (a throw-away CI machine) it is also installed with
# apt-get and run from /usr/bin.
set -uo pipefail
build="$1"
cpack="${2:-cpack}"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

for tool in dpkg-deb "$cpack"; do
    command -v "$tool" >/dev/null 2>&1 || { echo "SKIP: $tool is not available"; exit 77; }
done
source "$here/../lib/netns.sh"
vd_require_netns || exit 77

work="$(mktemp -d /tmp/vd-package-$$.XXXXXX)"
vd_on_cleanup "rm -rf '$work'"
failures=0
check() {  # check DESCRIPTION COMMAND...
    local what="$1"; shift
    if "$@" >"$work/check.out" 2>&1; then
        echo "ok   $what"
    else
        echo "FAIL $what"; sed 's/^/     /' "$work/check.out" | head -20
        failures=$((failures + 1))
    fi
}

echo "Building the package from $build"
if ! (cd "$work" && "$cpack" --config "$build/CPackConfig.cmake" -G DEB -B "$work/out") \
        >"$work/cpack.log" 2>&1; then
    echo "FAIL cpack"; tail -30 "$work/cpack.log"; exit 1
fi
deb=$(ls "$work"/out/valdrune_*.deb 2>/dev/null | head -1)
[[ -f "$deb" ]] || { echo "FAIL no valdrune_*.deb produced"; ls -R "$work/out"; exit 1; }
echo "built $(basename "$deb")"

root="$work/root"
check "unpacks" dpkg-deb -x "$deb" "$root"
dpkg-deb -e "$deb" "$work/control"
helper=usr/libexec/valdrune/valdrune-netprobe
for f in usr/bin/valdrune usr/bin/valdrune-cli usr/bin/valdrune-sim "$helper" \
         usr/share/applications/valdrune.desktop \
         usr/share/icons/hicolor/scalable/apps/valdrune.svg \
         usr/share/man/man1/valdrune.1 usr/share/man/man1/valdrune-cli.1 \
         usr/share/man/man1/valdrune-sim.1 usr/share/man/man1/valdrune-cli-interfaces.1 \
         usr/share/man/man1/valdrune-cli-search.1 usr/share/man/man1/valdrune-cli-set.1 \
         usr/share/man/man1/valdrune-cli-apply.1 usr/share/man/man1/valdrune-cli-probe.1 \
         usr/share/man/man1/valdrune-cli-decode.1; do
    check "contains /$f" test -s "$root/$f"
done
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
check "depends on the Qt libraries it links" grep -q 'libqt6widgets6' <<<"$depends"
check "depends on setcap's package" grep -q 'libcap2-bin' <<<"$depends"
check "postinst grants the capabilities to the helper only" \
    bash -c "grep -q '^HELPER=\"/$helper\"' '$work/control/postinst' &&
             [ \$(grep -c setcap '$work/control/postinst') -eq 2 ] &&
             ! grep -q 'usr/bin' '$work/control/postinst'"
check "helper links nothing but the C and C++ run-time" \
    bash -c "! objdump -p '$root/$helper' | grep NEEDED | grep -vqE 'lib(c|m|stdc\+\+|gcc_s)\.so'"

if command -v apt-get >/dev/null; then
    # Dependencies resolve from the archive; -s only simulates, nothing is installed.
    check "apt-get can install it (simulated)" \
        bash -c "apt-get install -s '$deb' 2>&1 | grep -q '^Inst valdrune'"
fi

# Run the real postinst against the unpacked tree.
granted=0
if command -v setcap >/dev/null && command -v getcap >/dev/null; then
    sed "s#^HELPER=.*#HELPER=\"$root/$helper\"#" "$work/control/postinst" >"$work/postinst"
    check "postinst configure succeeds" sh "$work/postinst" configure
    check "helper holds cap_net_raw,cap_net_admin, permitted only" \
        bash -c "getcap '$root/$helper' | grep -q 'cap_net_admin,cap_net_raw=p\$'"
    check "no other file of the package carries capabilities" \
        bash -c "[ \"\$(getcap -r '$root' | awk '{print \$1}')\" = '$root/$helper' ] &&
                 [ -z \"\$(getcap '$root/usr/bin/valdrune' '$root/usr/bin/valdrune-cli')\" ]"
    granted=1
fi

check "valdrune-sim --help" "$root/usr/bin/valdrune-sim" --help
check "valdrune-cli --help" "$root/usr/bin/valdrune-cli" --help

vd_netns_create pkg || exit 1
export VALDRUNE_SIM="$root/usr/bin/valdrune-sim"
check "packaged simulator starts in the devices namespace" vd_sim_start --scenario kinds
search() {
    local out
    out=$(vd_pc "$1" search 2>&1)
    echo "$out"
    for mac in 02-00-00-30-00-01 02-00-00-03-00-02 02-00-00-0C-00-03; do
        grep -qi "$mac" <<<"$out" || { echo "missing $mac"; return 1; }
    done
}
check "packaged valdrune-cli finds the three simulated devices" search "$root/usr/bin/valdrune-cli"
# The window has no options; it must come up on the namespace's adapter and keep running.
window() {
    vd_pc env QT_QPA_PLATFORM=offscreen "$root/usr/bin/valdrune" &
    local pid=$! alive=1
    sleep 3
    kill -0 "$pid" 2>/dev/null || alive=0
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    ((alive))
}
check "packaged window starts and stays up (offscreen)" window

# A user without any privilege: ping sockets are not admitted in the namespace, so the probe
# goes through the helper, which alone holds the capability. The user must reach the tree.
if ((granted)) && command -v setpriv >/dev/null; then
    chmod 755 "$work"
    as_nobody() { vd_pc setpriv --reuid=65534 --regid=65534 --clear-groups "$@"; }
    probe() {
        local out
        out=$(as_nobody "$root/usr/bin/valdrune-cli" probe "$1" 2>&1)
        echo "$out"
        grep -q "answered" <<<"$out"
    }
    vd_pc sysctl -q -w net.ipv4.ping_group_range="1 0"
    check "unprivileged valdrune-cli probes through the helper" probe "$VD_DEV_IP0"
    unprivileged_window() {
        mkdir -p "$work/nobody" && chown 65534:65534 "$work/nobody"
        # Started directly (no function, so no subshell): $! is the window itself.
        ip netns exec "$VD_PC_NS" setpriv --reuid=65534 --regid=65534 --clear-groups \
            env -i HOME="$work/nobody" QT_QPA_PLATFORM=offscreen "$root/usr/bin/valdrune" &
        local pid=$! status=""
        sleep 3
        status=$(grep -E '^Cap(Inh|Prm|Eff|Amb):' "/proc/$pid/status" 2>/dev/null)
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
        echo "$status"
        [[ -n "$status" ]] && ! grep -qv ':.0000000000000000$' <<<"$status"
    }
    check "the window started by an ordinary user holds no capability" unprivileged_window
fi

if [[ "${VALDRUNE_PACKAGE_APT_INSTALL:-0}" == 1 ]] && command -v apt-get >/dev/null; then
    check "apt-get install ./$(basename "$deb")" \
        env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb"
    check "installed window has its capabilities" \
        bash -c "getcap /usr/bin/valdrune | grep -q cap_net_raw"
    check "installed valdrune-cli finds the simulated devices" search /usr/bin/valdrune-cli
fi

if ((failures)); then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all package checks passed"
