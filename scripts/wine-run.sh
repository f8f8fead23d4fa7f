#!/usr/bin/env bash
# Runs one Windows program under Wine in a throw-away prefix: made for this run, its own
# wineserver ended and the prefix removed afterwards, also when the program fails.
#
#   wine-run.sh [--dlls DIR[:DIR...]] [--here] PROGRAM.exe [ARGS...]
#
# --dlls   folders searched for the DLLs the program loads (WINEPATH)
# --here   run in the current network namespace; without it the program gets a namespace of
#          its own holding only loopback, so nothing it sends can reach a real network
# VALDRUNE_WINEPREFIX: use this prefix instead; the caller made it and removes it.
set -uo pipefail

dlls="" here=0
while (($#)); do
    case $1 in
        --dlls) dlls+="${dlls:+:}$2"; shift 2 ;;
        --here) here=1; shift ;;
        *) break ;;
    esac
done
(($#)) || { echo "usage: wine-run.sh [--dlls DIRS] [--here] PROGRAM.exe [ARGS...]" >&2; exit 2; }

if ((!here)); then
    # A private network namespace; without root, inside a user namespace of our own.
    isolate=(unshare --net)
    [[ $(id -u) -ne 0 ]] && isolate=(unshare --user --map-root-user --net)
    exec "${isolate[@]}" -- bash -c 'ip link set lo up && exec "$0" "$@"' \
        "$0" ${dlls:+--dlls "$dlls"} --here "$@"
fi

winepath=""
IFS=: read -ra dirs <<< "$dlls"
for d in "${dirs[@]}"; do
    [[ -n $d ]] && winepath+="${winepath:+;}Z:${d//\//\\}"
done
export WINEPATH=$winepath
# Wine keeps the host's QT_* variables from Windows programs and passes WINEQT_* as QT_*.
for name in $(compgen -e); do
    [[ $name == QT_* ]] && export "WINE$name=${!name}"
done
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installer dialogs while a prefix is made.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
wine=$(command -v wine64 || command -v wine) || { echo "wine-run.sh: wine is not installed" >&2; exit 127; }

if [[ -n ${VALDRUNE_WINEPREFIX:-} ]]; then
    export WINEPREFIX=$VALDRUNE_WINEPREFIX
    exec "$wine" "$@"
fi

WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/valdrune-wine.XXXXXX") || exit 1
export WINEPREFIX
cleanup() {
    # Only this prefix's server; other programs under Wine on this machine are not ours.
    wineserver -k 2>/dev/null
    wineserver -w 2>/dev/null
    rm -rf "$WINEPREFIX"
}
trap cleanup EXIT
trap 'exit 143' TERM INT
"$wine" "$@"
