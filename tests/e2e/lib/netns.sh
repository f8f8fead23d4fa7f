# Network-namespace harness for end-to-end tests and the demo. Source it from bash:
#
#   source tests/e2e/lib/netns.sh
#   vd_require_netns || exit 77          # not root / no namespaces: says why, exit code 77 = skip
#   vd_netns_create mytest               # "pc" and "devices" namespaces joined by a veth pair
#   vd_sim_start --scenario kinds        # valdrune-sim in the devices namespace, waits until bound
#   vd_pc valdrune-cli search            # any command inside the pc namespace
#   (cleanup runs on EXIT, INT and TERM: processes in our namespaces are stopped, namespaces deleted)
#
# Segment k (0 = the one vd_netns_create makes, more with vd_netns_add_segment) is a devices
# namespace with interface dev0 joined to the pc namespace's interface pc<k>, on the private
# network 10.<77+k>.<N>.0/24: the pc adapter is .1 (MAC 02:76:<N>:00:00:0<k+1>), the devices
# namespace's own address is .254. The pc namespace's default route points into segment 0, so
# echo requests to simulated devices outside the /24 still reach them. Nothing is connected to
# the host's own namespace.
#
# Variables set (arrays are indexed by segment):
#   VD_PC_NS                pc namespace name
#   VD_DEV_NS[k]            devices namespace of segment k
#   VD_SUBNET[k]            first three octets, e.g. "10.77.42"
#   VD_PC_IP[k]             the pc adapter's address, VD_PC_IF[k] its name, VD_PC_MAC[k] its MAC
#   VD_DEV_IP[k]            the devices namespace's own address
#   VD_SIM_PID[k]           pid of the simulator started for segment k ("" when none)
#   VD_NETNS_TMP            a temporary directory removed at cleanup (sim logs, ready files)
# Scalar aliases for segment 0: VD_DEV_NS0 VD_SUBNET0 VD_PC_IP0 VD_DEV_IP0 VD_PC_IF0.
# Safe under "set -e": cleanup ignores the failures of what is already gone.

VD_PC_NS=""
VD_DEV_NS=()
VD_SUBNET=()
VD_PC_IP=()
VD_PC_IF=()
VD_PC_MAC=()
VD_DEV_IP=()
VD_SIM_PID=()
VD_NETNS_TMP=""
VD_NETNS_PREFIX=""
VD_NETNS_OCTET=""
VD_CLEANUP_HOOKS=()
VD_CLEANED_UP=0

_vd_lib_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
_vd_repo_dir="$(cd "$_vd_lib_dir/../../.." && pwd)"

vd_log() { echo "netns: $*" >&2; }

# Succeeds when namespaces can be made here; otherwise prints a loud SKIP reason.
vd_require_netns() {
    if [[ $(id -u) -ne 0 ]]; then
        echo "SKIP: network-namespace tests need root (run as root or with sudo)" >&2
        return 1
    fi
    if ! command -v ip >/dev/null 2>&1; then
        echo "SKIP: the 'ip' tool (iproute2) is not installed" >&2
        return 1
    fi
    local probe="vd-probe-$$-$RANDOM"
    if ! ip netns add "$probe" 2>/dev/null; then
        echo "SKIP: cannot create network namespaces here (ip netns add failed)" >&2
        return 1
    fi
    ip netns del "$probe" 2>/dev/null
    return 0
}

# Path of a built program: $VALDRUNE_BUILD_DIR (default <repo>/build) and its usual folder.
vd_binary() {
    local name="$1" build="${VALDRUNE_BUILD_DIR:-$_vd_repo_dir/build}" sub
    case "$name" in
        valdrune-sim) sub=sim ;;
        valdrune-cli) sub=cli ;;
        valdrune) sub=app ;;
        *) sub="" ;;
    esac
    if [[ -x "$build/$sub/$name" ]]; then
        echo "$build/$sub/$name"
    elif command -v "$name" >/dev/null 2>&1; then
        command -v "$name"
    else
        echo "$build/$sub/$name"
    fi
}

# vd_netns_create TAG [OCTET]: makes the pc namespace and segment 0; installs the cleanup trap.
vd_netns_create() {
    local tag="${1:-test}"
    [[ -n "$VD_PC_NS" ]] && { vd_log "namespaces already created"; return 1; }
    VD_NETNS_PREFIX="vd-${tag}-$$"
    VD_NETNS_OCTET="${2:-$(( ($$ + RANDOM) % 250 + 1 ))}"
    VD_NETNS_TMP="$(mktemp -d "/tmp/${VD_NETNS_PREFIX}.XXXXXX")"
    VD_CLEANED_UP=0
    trap 'vd_netns_cleanup' EXIT
    trap 'vd_netns_cleanup; trap - INT; kill -INT $$' INT
    trap 'vd_netns_cleanup; trap - TERM; kill -TERM $$' TERM
    trap 'vd_netns_cleanup; trap - HUP; kill -HUP $$' HUP

    VD_PC_NS="${VD_NETNS_PREFIX}-pc"
    ip netns add "$VD_PC_NS" || { vd_log "cannot create $VD_PC_NS"; VD_PC_NS=""; return 1; }
    ip -n "$VD_PC_NS" link set lo up || return 1
    vd_netns_add_segment || return 1
    ip -n "$VD_PC_NS" route add default via "${VD_DEV_IP[0]}" dev "${VD_PC_IF[0]}" || return 1
    VD_DEV_NS0="${VD_DEV_NS[0]}"
    VD_SUBNET0="${VD_SUBNET[0]}"
    VD_PC_IP0="${VD_PC_IP[0]}"
    VD_DEV_IP0="${VD_DEV_IP[0]}"
    VD_PC_IF0="${VD_PC_IF[0]}"
    return 0
}

# vd_netns_add_segment: another devices namespace on its own /24, seen from the pc namespace
# as one more adapter. Prints nothing; the new segment's index is ${#VD_DEV_NS[@]}-1.
vd_netns_add_segment() {
    local k=${#VD_DEV_NS[@]}
    local ns="${VD_NETNS_PREFIX}-dev${k}"
    local subnet="10.$((77 + k)).${VD_NETNS_OCTET}"
    local pcif="pc${k}"
    local mac
    mac=$(printf '02:76:%02x:00:00:%02x' "$VD_NETNS_OCTET" $((k + 1)))
    ip netns add "$ns" || { vd_log "cannot create $ns"; return 1; }
    VD_DEV_NS[k]="$ns"
    ip -n "$ns" link set lo up || return 1
    ip link add "$pcif" netns "$VD_PC_NS" address "$mac" type veth peer name dev0 netns "$ns" \
        || { vd_log "cannot create the veth pair for segment $k"; return 1; }
    ip -n "$VD_PC_NS" addr add "${subnet}.1/24" dev "$pcif" || return 1
    ip -n "$ns" addr add "${subnet}.254/24" dev dev0 || return 1
    ip -n "$VD_PC_NS" link set "$pcif" up || return 1
    ip -n "$ns" link set dev0 up || return 1
    VD_SUBNET[k]="$subnet"
    VD_PC_IP[k]="${subnet}.1"
    VD_PC_IF[k]="$pcif"
    VD_PC_MAC[k]="$mac"
    VD_DEV_IP[k]="${subnet}.254"
    VD_SIM_PID[k]=""
    return 0
}

# Runs a command inside the pc namespace / a devices namespace (segment 0 unless -s K).
vd_pc() { ip netns exec "$VD_PC_NS" "$@"; }
vd_dev() {
    local k=0
    if [[ "${1:-}" == "-s" ]]; then k="$2"; shift 2; fi
    ip netns exec "${VD_DEV_NS[$k]}" "$@"
}

# vd_on_cleanup CMD...: runs CMD (eval'd) during cleanup, before the namespaces go.
vd_on_cleanup() { VD_CLEANUP_HOOKS+=("$*"); }

# vd_sim_start [-s K] [SIM ARGS...]: starts valdrune-sim in segment K (default 0) with
# --interface dev0 (addresses move on that interface) and waits until it has bound its port.
# Its stderr goes to $VD_NETNS_TMP/sim<K>.log. Default arguments: --scenario kinds.
vd_sim_start() {
    local k=0
    if [[ "${1:-}" == "-s" ]]; then k="$2"; shift 2; fi
    local sim ready log
    sim="${VALDRUNE_SIM:-$(vd_binary valdrune-sim)}"
    [[ -x "$sim" ]] || { vd_log "simulator not found at $sim"; return 1; }
    ready="$VD_NETNS_TMP/sim${k}.ready"
    log="$VD_NETNS_TMP/sim${k}.log"
    rm -f "$ready"
    (($# == 0)) && set -- --scenario kinds
    ip netns exec "${VD_DEV_NS[$k]}" "$sim" --interface dev0 --subnet "${VD_SUBNET[$k]}" \
        --ready-file "$ready" "$@" 2>"$log" &
    VD_SIM_PID[k]=$!
    local i
    for ((i = 0; i < 400; i++)); do
        [[ -e "$ready" ]] && return 0
        if ! kill -0 "${VD_SIM_PID[$k]}" 2>/dev/null; then
            vd_log "simulator exited early:"; cat "$log" >&2
            VD_SIM_PID[k]=""
            return 1
        fi
        sleep 0.05
    done
    vd_log "simulator did not get ready within 20 s"
    return 1
}

vd_sim_log() { cat "$VD_NETNS_TMP/sim${1:-0}.log"; }

vd_sim_stop() {
    local k="${1:-0}" pid="${VD_SIM_PID[${1:-0}]}"
    [[ -z "$pid" ]] && return 0
    kill -TERM "$pid" 2>/dev/null || true
    local i
    for ((i = 0; i < 40; i++)); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.05
    done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    VD_SIM_PID[k]=""
    return 0
}

# Stops every process still inside one of our namespaces, by pid.
_vd_kill_ns_processes() {
    local ns="$1" pids pid i
    pids=$(ip netns pids "$ns" 2>/dev/null || true)
    [[ -z "$pids" ]] && return 0
    for pid in $pids; do kill -TERM "$pid" 2>/dev/null || true; done
    for ((i = 0; i < 40; i++)); do
        pids=$(ip netns pids "$ns" 2>/dev/null || true)
        [[ -z "$pids" ]] && return 0
        sleep 0.05
    done
    for pid in $pids; do kill -KILL "$pid" 2>/dev/null || true; done
}

vd_netns_cleanup() {
    ((VD_CLEANED_UP)) && return 0
    VD_CLEANED_UP=1
    local hook k ns
    for hook in "${VD_CLEANUP_HOOKS[@]}"; do eval "$hook" || true; done
    for k in "${!VD_SIM_PID[@]}"; do vd_sim_stop "$k"; done
    for ns in "$VD_PC_NS" "${VD_DEV_NS[@]}"; do
        [[ -z "$ns" ]] && continue
        _vd_kill_ns_processes "$ns"
        ip netns del "$ns" 2>/dev/null || true
    done
    if [[ -n "$VD_NETNS_TMP" && -d "$VD_NETNS_TMP" ]]; then rm -rf "$VD_NETNS_TMP"; fi
    VD_PC_NS=""
    VD_DEV_NS=()
    return 0
}
