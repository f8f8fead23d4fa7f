#!/usr/bin/env bash
# package_test.sh BUILD_DIR CPACK: the .deb holds every program, page and desktop file, grants
# the capabilities on installation, declares its library dependencies, and its programs work
# from the unpacked tree: --help, and a search of the simulator inside network namespaces.
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
for f in usr/bin/valdrune usr/bin/valdrune-cli usr/bin/valdrune-sim \
         usr/share/applications/valdrune.desktop \
         usr/share/icons/hicolor/scalable/apps/valdrune.svg \
         usr/share/man/man1/valdrune.1 usr/share/man/man1/valdrune-cli.1 \
         usr/share/man/man1/valdrune-sim.1; do
    check "contains /$f" test -s "$root/$f"
done
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
check "depends on the Qt libraries it links" grep -q 'libqt6widgets6' <<<"$depends"
check "depends on setcap's package" grep -q 'libcap2-bin' <<<"$depends"
check "postinst grants both capabilities to both programs" \
    bash -c "grep -q 'cap_net_raw,cap_net_admin+ep' '$work/control/postinst' &&
             grep -q 'valdrune valdrune-cli' '$work/control/postinst'"

if command -v apt-get >/dev/null; then
    # Dependencies resolve from the archive; -s only simulates, nothing is installed.
    check "apt-get can install it (simulated)" \
        bash -c "apt-get install -s '$deb' 2>&1 | grep -q '^Inst valdrune'"
fi

# Run the real postinst against the unpacked tree.
if command -v setcap >/dev/null && command -v getcap >/dev/null; then
    sed "s#^BINDIR=.*#BINDIR=\"$root/usr/bin\"#" "$work/control/postinst" >"$work/postinst"
    check "postinst configure succeeds" sh "$work/postinst" configure
    check "window has cap_net_raw,cap_net_admin" \
        bash -c "getcap '$root/usr/bin/valdrune' | grep -q 'cap_net_admin,cap_net_raw=ep'"
    check "cli has cap_net_raw,cap_net_admin" \
        bash -c "getcap '$root/usr/bin/valdrune-cli' | grep -q 'cap_net_admin,cap_net_raw=ep'"
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
