#!/usr/bin/env bash
# The demo: installs what is missing, builds, makes a small simulated network of cameras and
# recorders in network namespaces, and opens the window on it. Nothing reaches this machine's
# own network: the window runs in a namespace whose only adapter leads to the simulated
# devices. Without a display it prints the command-line tool's device table instead.
# Everything is removed again on exit, also on Ctrl-C. Run it as a normal user (it builds as
# that user, then asks for root through sudo for the namespaces) or as root.
#
#   ./scripts/demo.sh            # window (or device table without a display)
#   ./scripts/demo.sh --cli      # device table only
#   ./scripts/demo.sh --no-build # use what is already built in ./build
#   ./scripts/demo.sh --screenshot docs/demo.png   # the window on a virtual display
#   ./scripts/demo.sh --windows  # valdrune.exe under Wine (with --screenshot or --cli too)
set -uo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$repo" || exit 1
# shellcheck source=lib/rights.sh
source "$repo/scripts/lib/rights.sh"
arguments=("$@")

want_cli=0
build=1
screenshot=""
windows=0
while (($#)); do
    case "$1" in
        --cli) want_cli=1 ;;
        --no-build) build=0 ;;
        --windows) windows=1 ;;
        --screenshot) screenshot="${2:?--screenshot needs a file name}"; shift ;;
        -h|--help) sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "demo: unknown option $1" >&2; exit 2 ;;
    esac
    shift
done
[[ -n "$screenshot" && "$screenshot" != /* ]] && screenshot="$PWD/$screenshot"

say() { printf '\n== %s\n' "$*"; }

if ((build)); then
    say "Installing build dependencies (if missing)"
    ./scripts/install-deps.sh || exit 1
    say "Building (cmake --preset default)"
    cmake --preset default >/dev/null || exit 1
    cmake --build build --target valdrune valdrune-cli valdrune-sim valdrune-netprobe || exit 1
    if ((windows)); then
        say "Building the Windows programs (Qt for the target first; the first time ~26 min)"
        ./scripts/install-deps.sh --windows || exit 1
        ./scripts/build-qt-windows.sh || exit 1
        cmake --preset windows >/dev/null || exit 1
        cmake --build build-windows --target valdrune valdrune-cli || exit 1
    fi
fi

# The rest makes network namespaces: as root, the build done as the calling user.
vd_reexec_as_root "$0" --no-build "${arguments[@]}"

export VALDRUNE_BUILD_DIR="${VALDRUNE_BUILD_DIR:-$repo/build}"
# shellcheck source=../tests/e2e/lib/netns.sh
source "$repo/tests/e2e/lib/netns.sh"
vd_require_netns || exit 1

app="$(vd_binary valdrune)"
cli="$(vd_binary valdrune-cli)"

say "Creating the demo network"
# A fixed octet keeps the demo adapter's address and MAC the same from run to run, so the
# window remembers it.
vd_netns_create demo 42 || exit 1
# Let unprivileged programs in the pc namespace send ICMP echo (ping sockets).
vd_pc sysctl -qw net.ipv4.ping_group_range="0 2147483647" || true
vd_sim_start --scenario demo || exit 1
echo "pc namespace $VD_PC_NS: adapter ${VD_PC_IF[0]} ${VD_PC_IP[0]}/24 (MAC ${VD_PC_MAC[0]})"
echo "devices namespace ${VD_DEV_NS[0]}:"
"$(vd_binary valdrune-sim)" --scenario demo --subnet "${VD_SUBNET[0]}" --list | sed 's/^/  /'

if ((windows)); then
    # The programs as the setup program lays them out (the DLLs and plugins beside them), run
    # by Wine in a prefix of the demo's own inside the pc namespace.
    say "Preparing valdrune.exe under Wine (inside $VD_PC_NS)"
    command -v wine >/dev/null ||
        { echo "demo: --windows needs Wine (install-deps.sh --windows)" >&2; exit 1; }
    win_dir="$VD_NETNS_TMP/windows"
    cmake --install "$repo/build-windows" --prefix "$win_dir" >/dev/null || exit 1
    export WINEPREFIX="$VD_NETNS_TMP/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    vd_on_cleanup 'wineserver -k 2>/dev/null'
    vd_pc wine wineboot -i >/dev/null 2>&1
    vd_pc wineserver -w
    app="$win_dir/bin/valdrune.exe"
    cli="$win_dir/bin/valdrune-cli.exe"
    # Started through Wine; the checks below look at the .exe files themselves.
    launcher=(wine)
else
    launcher=()
fi

if [[ -n "$screenshot" ]]; then
    for tool in xvfb-run import convert; do
        command -v "$tool" >/dev/null || {
            echo "demo: --screenshot needs $tool (apt-get install xvfb imagemagick)" >&2; exit 1; }
    done
    say "Taking a screenshot of the window on a virtual display"
    # The virtual display lives inside the pc namespace too. Under Wine the window takes longer.
    wait_s=10
    ((windows)) && wait_s=30
    vd_pc xvfb-run -a -s "-screen 0 1400x800x24" bash -c '
        "${@:4}" "$1" & app=$!
        sleep "$3"
        import -window root "$2.full.png" && convert "$2.full.png" -trim +repage "$2"
        rm -f "$2.full.png"
        kill $app; wait $app 2>/dev/null' shot "$app" "$screenshot" "$wait_s" "${launcher[@]}" \
        2>/dev/null
    [[ -s "$screenshot" ]] && echo "saved $screenshot" || { echo "demo: no screenshot" >&2; exit 1; }
    exit 0
fi

# Opens one device's page, at the URL its search answer gives, in a headless browser run as
# an ordinary user inside the pc namespace, and prints what the page says.
open_device_page() {
    local table="$1" mac="$2" browser=/usr/bin/chromium url profile
    # The columns up to HTTPS hold no blanks, so they split cleanly.
    url=$(awk -v mac="$mac" '
        NR == 1 { for (i = 1; i <= NF; i++) col[$i] = i; next }
        $col["MAC"] == mac {
            print ($col["HTTPS"] == "yes" ? "https" : "http") "://" $col["IPV4"] ":" $col["PORT"]
        }' <<<"$table")
    if [[ -z "$url" || ! -x "$browser" ]]; then
        echo "demo: no page to open (device $mac not found, or no $browser)" >&2
        return 0
    fi
    say "Opening the page of $mac ($url) in a headless browser (inside $VD_PC_NS)"
    profile=$(mktemp -d /tmp/vd-demo-browser.XXXXXX) && chown 65534:65534 "$profile" || return 0
    # The simulated device's certificate is its own, as a real device's is.
    vd_pc setpriv --reuid=65534 --regid=65534 --clear-groups env -i HOME="$profile" \
        "$browser" --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
        --disable-background-networking --disable-component-update --disable-sync \
        --ignore-certificate-errors --user-data-dir="$profile/profile" --dump-dom "$url" \
        2>/dev/null | sed -n 's/<[^>]*>/ /g; s/  */ /g; s/^ //; /[^ ]/p' | sed 's/^/  /'
    rm -rf "$profile"
}

has_display=0
[[ -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ]] && has_display=1
if [[ -z "${WAYLAND_DISPLAY:-}" && "${DISPLAY:-}" == ?*:* ]]; then
    # host:N is reached over TCP, and the namespace has no route to it (ssh -X, for one).
    echo "demo: DISPLAY=$DISPLAY is a network display, not reachable from inside the" \
         "namespace; showing the command-line view instead" >&2
    want_cli=1
fi

if ((want_cli || !has_display)); then
    ((has_display)) || echo -e "\nNo display found (DISPLAY and WAYLAND_DISPLAY are empty)," \
        "so here is the command-line tool's view of the same network."
    say "valdrune-cli search (inside $VD_PC_NS)"
    if [[ ! -f "$cli" ]]; then
        echo "demo: $cli is not built" >&2
        exit 1
    fi
    table=$(vd_pc "${launcher[@]}" "$cli" search --wide)
    status=$?
    printf '%s\n' "$table"
    ((status == 0)) || exit $status
    open_device_page "$table" "02-00-00-30-00-03"
    exit 0
fi

if [[ ! -f "$app" ]]; then
    echo "demo: $app is not built" >&2
    exit 1
fi

say "Opening the window (inside $VD_PC_NS; close it or press Ctrl-C to end the demo)"
echo "Try: select a device and change its address; the restart-locked device refuses new settings,"
echo "two devices share one address (overlap column), the one in 192.168.1.0/24 is heard all the same;"
echo "\"Open the device window\" shows the device's own page (Loading dock over HTTPS)."

if ((windows)); then
    # Wine and the prefix are root's here, as the namespaces are; the display is the caller's.
    vd_pc "${launcher[@]}" "$app"
    exit $?
fi

# Run the window as the user who called sudo, without any capability, so it can use that
# user's display and settings; as root otherwise. As the package does, only the probe helper
# holds the two rights (the window starts it for the echo and the neighbour flush).
helper="$VALDRUNE_BUILD_DIR/libexec/valdrune/valdrune-netprobe"
if [[ -x "$helper" ]] && command -v setcap >/dev/null; then
    setcap cap_net_raw,cap_net_admin+p "$helper" ||
        echo "demo: could not grant the probe helper its rights; probes may not run" >&2
fi
run_as=()
if [[ -n "${SUDO_UID:-}" && "${SUDO_UID}" != 0 ]] && command -v setpriv >/dev/null; then
    user_home="$(getent passwd "$SUDO_UID" | cut -d: -f6)"
    run_as=(setpriv --reuid="$SUDO_UID" --regid="$SUDO_GID" --init-groups --inh-caps=-all
            env HOME="$user_home" XAUTHORITY="${XAUTHORITY:-$user_home/.Xauthority}")
    [[ -n "${XDG_RUNTIME_DIR:-}" ]] || run_as+=(XDG_RUNTIME_DIR="/run/user/$SUDO_UID")
fi
vd_pc "${run_as[@]}" "$app"
status=$?
exit $status
