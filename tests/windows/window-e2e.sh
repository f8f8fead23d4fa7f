#!/usr/bin/env bash
# The window's driver builds under Wine through the Linux build's window cases: each run happens
# in the test's pc namespace (offscreen), against valdrune-sim in its devices namespace.
#   window-e2e.sh LINUX_BUILD_DIR WINDOW_DRIVER_EXE SETTINGS_DRIVER_EXE DLL_DIRS QT_PLUGIN_ENV
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
linux_build=$1 window=$2 settings=$3 dlls=$4 plugins=$5
lists=$linux_build/tests/e2e/app/valdrune_gui_e2e
changes=$linux_build/tests/e2e/settings/settings_e2e
if [[ ! -x $lists || ! -x $changes ]]; then
    echo "SKIP: no Linux build with the window's end-to-end tests at $linux_build" >&2
    exit 77
fi
if [[ $(id -u) -ne 0 ]]; then
    echo "SKIP: network namespaces need root" >&2
    exit 77
fi

# shellcheck source=e2e-prefix.sh
source "$root/tests/windows/e2e-prefix.sh"
export "${plugins?}"
run="$root/scripts/wine-run.sh --here --dlls $dlls"
status=0
# Every simulated kind, and the demo's devices with their shared address.
VALDRUNE_GUI="$run $window" "$lists" --gtest_filter='WindowE2e.*' || status=1
# One change from the window, through its probes, the device's restart and the result box.
VALDRUNE_SETTINGS_WINDOW_CMD="$run $settings" "$changes" \
    --gtest_filter='Simulator/SettingsE2e.*/StandardCompletes' || status=1
exit $status
