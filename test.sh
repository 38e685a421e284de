#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer and UndefinedBehaviorSanitizer and runs
# every test through ctest; arguments go to ctest (./test.sh -L pdf runs the writer's tests).
set -euo pipefail
cd "$(dirname "$0")"
./scripts/setup.sh
export CCACHE_BASEDIR="$PWD"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMORDALE_SANITIZE=ON >/dev/null
cmake --build build/test
ctest --test-dir build/test --output-on-failure -j "$(nproc)" "$@"
