#!/usr/bin/env bash
# Builds one fuzz target with clang's libFuzzer (ASan and UBSan on) and runs it.
#   scripts/fuzz.sh TARGET [SECONDS|-runs=N] [more libFuzzer options]
# TARGET is a name from tests/fuzz/CMakeLists.txt (bmp, icon, ...). The run starts from the
# target's seeds and saved regression inputs; what it learns stays in build/fuzz/corpus/TARGET
# and failing inputs land in build/fuzz/findings/TARGET/.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# -lt 1 ]; then
  echo "usage: $0 TARGET [SECONDS|-runs=N] [libFuzzer options]" >&2
  exit 2
fi
target=$1
shift
limit=()
if [ $# -gt 0 ]; then
  case $1 in
    -*) ;;
    *) limit=(-max_total_time="$1"); shift ;;
  esac
fi

./scripts/setup.sh
export CCACHE_BASEDIR="$PWD"
CC=clang-14 CXX=clang++-14 cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMORDALE_SANITIZE=ON -DMORDALE_LIBFUZZER=ON >/dev/null
cmake --build build/fuzz --target "fuzz_$target"

seeds=tests/fuzz/corpus/$target
saved=tests/fuzz/regressions/$target
work=build/fuzz/corpus/$target
findings=build/fuzz/findings/$target
mkdir -p "$work" "$findings"
[ -d "$saved" ] || saved=
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export QT_QPA_PLATFORM=offscreen
# The first folder receives new inputs; the source tree's folders are only read.
exec "build/fuzz/tests/fuzz/fuzz_$target" -artifact_prefix="$findings/" -rss_limit_mb=2560 -malloc_limit_mb=32 -timeout=10 \
  "${limit[@]}" "$@" "$work" "$seeds" ${saved:+"$saved"}
