#!/usr/bin/env bash
# Sets up a fresh Debian machine, builds everything and runs every test:
# unit, gui (offscreen), e2e (network namespaces, needs root), bench (brief), and the fuzzers
# (their own clang build with ASan and UBSan, bounded time). Run it as a normal user (it asks
# for root through sudo where a step needs it) or as root.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=lib/rights.sh
source scripts/lib/rights.sh

# The browsers the tool detects are installed on purpose: the suite must not depend on them.
./scripts/install-deps.sh --with-browsers

# Widgets never need a display in the test run.
export QT_QPA_PLATFORM=offscreen

jobs=$(nproc)

# Users of a CMake project configure with whatever generator they have: the default one
# (Makefiles) must generate and build the resources as well as the presets' Ninja does.
cmake -S . -B build-make -DVALDRUNE_BENCH=OFF >/dev/null
cmake --build build-make --target valdrune_icons -j "$jobs" >/dev/null

cmake --preset default
cmake --build --preset default -j "$jobs"

if [[ "${VALDRUNE_SKIP_FUZZ:-0}" != 1 ]]; then
    cmake --preset fuzz
    cmake --build --preset fuzz -j "$jobs"
    ./scripts/run-fuzzers.sh build-fuzz "${VALDRUNE_FUZZ_SECONDS:-60}"
fi

# Last, so that its summary closes the run. The end-to-end tests make network namespaces and
# need root; everything else runs as whoever started the script.
if [[ $(id -u) -eq 0 ]]; then
    ctest --preset default -j "$jobs" --output-on-failure
else
    ctest --preset default -j "$jobs" --output-on-failure -LE e2e
    vd_as_root ctest --preset default -j "$jobs" --output-on-failure -L e2e
fi
