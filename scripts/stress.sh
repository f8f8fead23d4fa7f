#!/usr/bin/env bash
# stress.sh [fuzz [BUDGET] | writes [RUNS] | flood [RATE SECONDS] | loss [RUNS SETS] |
# soak [MINUTES] | all]: the long robustness runs, outside the default test run (whose short forms are InterruptedWrites.Short,
# Flood.Short, Loss.Short and run-fuzzers.sh's bounded run in test-all.sh).
#   fuzz BUDGET   the fuzz build (clang, ASan + UBSan), then every target; BUDGET as
#                 run-fuzzers.sh takes it (default 1e8x for the answer fuzzer, 10m for the rest)
#   writes RUNS   SIGKILL at random points while the site list, the window's settings and the
#                 key/value store are written, RUNS times each (default 200)
#   flood RATE S  a search in network namespaces while RATE datagrams/s (default 20000) hit its
#                 port for S seconds (default 5); needs root
#   loss RUNS SETS  RUNS searches (default 20) and SETS address changes (default 5) at 10 % and
#                 30 % UDP loss with reordered copies of answers (tests/stress/loss.sh); needs root
#   soak MINUTES  the CLI's watch mode for MINUTES (default 30) against devices that come, go
#                 and change (tests/stress/soak.sh); needs root
set -euo pipefail
cd "$(dirname "$0")/.."
what=${1:-all}

writes() {
    cmake --preset default >/dev/null
    cmake --build --preset default --target interrupted_write -j 2
    tests/stress/interrupted-writes.sh build/tests/stress/interrupted_write "${1:-200}"
}

flood() {
    cmake --preset default >/dev/null
    cmake --build --preset default --target valdrune-cli valdrune-sim flood -j 2
    tests/stress/flood.sh build "${1:-20000}" "${2:-5}"
}

loss() {
    cmake --preset default >/dev/null
    cmake --build --preset default --target cli_e2e_driver valdrune-sim replay -j 2
    tests/stress/loss.sh build "${1:-20}" "${2:-5}" 10 30
}

soak() {
    cmake --preset default >/dev/null
    cmake --build --preset default --target valdrune-cli valdrune-sim -j 2
    tests/stress/soak.sh build "${1:-30}"
}

fuzz() {
    cmake --preset fuzz >/dev/null
    cmake --build --preset fuzz -j 2
    if (($# > 0)); then
        scripts/run-fuzzers.sh build-fuzz "$1"
    else
        scripts/run-fuzzers.sh build-fuzz 1e8x fuzz_answer
        scripts/run-fuzzers.sh build-fuzz 10m fuzz_capture fuzz_plan fuzz_devices
    fi
}

case $what in
    writes) shift; writes "$@" ;;
    fuzz) shift; fuzz "$@" ;;
    flood) shift; flood "$@" ;;
    loss) shift; loss "$@" ;;
    soak) shift; soak "$@" ;;
    all) writes 200; flood; loss; soak; fuzz ;;
    *) sed -n '2,15p' "$0"; exit 2 ;;
esac
