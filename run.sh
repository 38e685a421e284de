#!/usr/bin/env bash
# Installs what is missing, builds a release build and runs mordale with the given arguments.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/setup.sh
export CCACHE_BASEDIR="$PWD"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORDALE_TESTS=OFF >/dev/null
cmake --build build/release --target mordale
exec build/release/src/app/mordale "$@"
