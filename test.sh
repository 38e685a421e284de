#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer and UndefinedBehaviorSanitizer and runs
# every test through ctest; arguments go to ctest (./test.sh -L pdf runs the writer's tests).
# With no arguments or with -L threads, the tests labelled threads then run again built with ThreadSanitizer (build/tsan).
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

threads=$(( $# == 0 ))
previous=""
for arg in "$@"; do
  case "$previous $arg" in
    "-L threads" | "--label-regex threads" | *" -Lthreads") threads=1 ;;
  esac
  previous="$arg"
done
if (( threads )); then
  export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/scripts/tsan.supp"
  cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMORDALE_TSAN=ON >/dev/null
  cmake --build build/tsan --target mordale_thread_tests
  ctest --test-dir build/tsan --output-on-failure -j "$(nproc)" -L threads
fi
