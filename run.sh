#!/usr/bin/env bash
# Installs what is missing, builds a release build and runs mordale with the given arguments,
# in the folder it was called from, so picture names given relative to it are found.
set -euo pipefail
top="$(cd "$(dirname "$0")" && pwd)"
(
  cd "$top"
  ./scripts/setup.sh
  export CCACHE_BASEDIR="$top"
  cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORDALE_TESTS=OFF >/dev/null
  cmake --build build/release --target mordale
)
exec "$top/build/release/src/app/mordale" "$@"
