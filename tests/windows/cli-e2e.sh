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

# shellcheck source=e2e-prefix.sh
source "$root/tests/windows/e2e-prefix.sh"

export VALDRUNE_CLI="$root/scripts/wine-run.sh --here --dlls $dlls $exe"
# The cases about the tool's behaviour on the wire; the plan and capture cases exercise the
# same paths again and are left to the Linux run.
"$e2e" --gtest_filter="${VALDRUNE_E2E_FILTER:-CliE2e.Search*:CliE2e.Answers*:CliE2e.Conflicting*:Kinds/CliSetE2e.*:Scenarios/*}"
