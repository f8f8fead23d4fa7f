#!/usr/bin/env bash
# valdrune-cli.exe under Wine through the Linux build's CLI end-to-end cases: every CLI run
# happens in the test's pc namespace, against valdrune-sim in its devices namespace.
#   cli-e2e.sh LINUX_BUILD_DIR VALDRUNE_CLI_EXE DLL_DIRS
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
linux_build=$1 exe=$2 dlls=$3
e2e=$linux_build/tests/e2e/cli/valdrune_cli_e2e
if [[ ! -x $e2e ]]; then
    echo "SKIP: no Linux build with the CLI end-to-end test at $linux_build" >&2
    exit 77
fi
if [[ $(id -u) -ne 0 ]]; then
    echo "SKIP: network namespaces need root" >&2
    exit 77
fi

# One prefix for the run, made once in a namespace of its own. The wineserver (which owns
# Wine's sockets) then starts afresh inside each test's pc namespace, and the test's clean-up
# ends it with every other process there.
export VALDRUNE_WINEPREFIX
VALDRUNE_WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/valdrune-wine-e2e.XXXXXX") || exit 1
cleanup() {
    WINEPREFIX=$VALDRUNE_WINEPREFIX wineserver -k 2>/dev/null
    rm -rf "$VALDRUNE_WINEPREFIX"
}
trap cleanup EXIT
unshare --net -- env WINEPREFIX="$VALDRUNE_WINEPREFIX" WINEDEBUG=-all \
    WINEDLLOVERRIDES=mscoree,mshtml= bash -c 'wineboot -i >/dev/null 2>&1; wineserver -w'

export VALDRUNE_CLI="$root/scripts/wine-run.sh --here --dlls $dlls $exe"
# The cases about the tool's behaviour on the wire; the plan and capture cases exercise the
# same paths again and are left to the Linux run.
"$e2e" --gtest_filter="${VALDRUNE_E2E_FILTER:-CliE2e.Search*:CliE2e.Answers*:CliE2e.Conflicting*:Kinds/CliSetE2e.*:Scenarios/*}"
