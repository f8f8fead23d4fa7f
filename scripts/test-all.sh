#!/usr/bin/env bash
# Sets up a fresh Debian machine, builds everything and runs every test:
# unit, gui (offscreen), e2e (network namespaces, needs root), bench (brief), and the fuzzers
# (their own clang build with ASan and UBSan, bounded time).
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh

# Widgets never need a display in the test run.
export QT_QPA_PLATFORM=offscreen

jobs=$(nproc)
cmake --preset default
cmake --build --preset default -j "$jobs"

if [[ "${VALDRUNE_SKIP_FUZZ:-0}" != 1 ]]; then
    cmake --preset fuzz
    cmake --build --preset fuzz -j "$jobs"
    ./scripts/run-fuzzers.sh build-fuzz "${VALDRUNE_FUZZ_SECONDS:-60}"
fi

# Last, so that its summary closes the run.
ctest --preset default -j "$jobs" --output-on-failure
