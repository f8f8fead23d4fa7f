#!/usr/bin/env bash
# Sets up a fresh Debian machine, builds everything and runs every test:
# unit, gui (offscreen), e2e (network namespaces, needs root), bench (brief), and the fuzzers
# (their own clang build with ASan and UBSan, bounded time), and the Windows build: Qt for the
# target (built once per machine, then cached), the cross-built suites, the setup program, and
# the CLI cases and the setup program's install and uninstall under Wine. Run it as a normal user (it asks for root through sudo where a step needs it) or as
# root. VALDRUNE_SKIP_FUZZ=1 / VALDRUNE_SKIP_WINDOWS=1 leave a stage out on a developer's machine.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=lib/rights.sh
source scripts/lib/rights.sh

windows=1
[[ "${VALDRUNE_SKIP_WINDOWS:-0}" == 1 ]] && windows=0
stages=()
stage_start=$SECONDS
stage_done() {
    stages+=("$(printf '%-28s %5d s' "$1" $((SECONDS - stage_start)))")
    stage_start=$SECONDS
}

# The browsers the tool detects are installed on purpose: the suite must not depend on them.
if ((windows)); then
    ./scripts/install-deps.sh --with-browsers --windows
else
    ./scripts/install-deps.sh --with-browsers
fi
stage_done "dependencies"

# Widgets never need a display in the test run.
export QT_QPA_PLATFORM=offscreen

jobs=$(nproc)

# Users of a CMake project configure with whatever generator they have: the default one
# (Makefiles) must generate and build the resources as well as the presets' Ninja does.
cmake -S . -B build-make -DVALDRUNE_BENCH=OFF >/dev/null
cmake --build build-make --target valdrune_icons -j "$jobs" >/dev/null

cmake --preset default
cmake --build --preset default -j "$jobs"
stage_done "linux build"

if [[ "${VALDRUNE_SKIP_FUZZ:-0}" != 1 ]]; then
    cmake --preset fuzz
    cmake --build --preset fuzz -j "$jobs"
    ./scripts/run-fuzzers.sh build-fuzz "${VALDRUNE_FUZZ_SECONDS:-60}"
    stage_done "fuzz build and run"
fi

if ((windows)); then
    # A cold cache builds Qt here; a warm one is reused at once.
    VALDRUNE_QT_WIN_PREFIX=$(./scripts/build-qt-windows.sh | tail -n1)
    export VALDRUNE_QT_WIN_PREFIX
    stage_done "qt for windows"
    cmake --preset windows
    cmake --build --preset windows -j "$jobs"
    stage_done "windows build"
    cmake --build --preset windows --target installer
    stage_done "windows setup program"
    # Needs the Linux build above: its CLI cases and simulator drive valdrune-cli.exe.
    if [[ $(id -u) -eq 0 ]]; then
        ctest --preset windows -j "$jobs" --output-on-failure
    else
        ctest --preset windows -j "$jobs" --output-on-failure -LE e2e
        vd_as_root ctest --preset windows -j "$jobs" --output-on-failure -L e2e
    fi
    stage_done "windows tests (wine)"
fi

# Last, so that its summary closes the run. The end-to-end tests make network namespaces and
# need root; everything else runs as whoever started the script.
status=0
if [[ $(id -u) -eq 0 ]]; then
    ctest --preset default -j "$jobs" --output-on-failure || status=$?
else
    ctest --preset default -j "$jobs" --output-on-failure -LE e2e || status=$?
    vd_as_root ctest --preset default -j "$jobs" --output-on-failure -L e2e || status=$?
fi
stage_done "linux tests"
printf 'stage times:\n'
printf '  %s\n' "${stages[@]}"
exit "$status"
