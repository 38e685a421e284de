#!/usr/bin/env bash
# Which camera raw loaders the raw fuzz targets' replay reaches: builds the three targets with
# gcov counting (build/coverage, sanitizers on as in ./test.sh), replays each target's seeds and
# saved inputs, and prints per loader how often each target entered it. Fails when a loader is
# reached by none of them. Usage: tests/fuzz/raw-coverage.sh
set -euo pipefail
cd "$(dirname "$0")/../.."
export CCACHE_BASEDIR="$PWD"
export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
build=build/coverage
targets=(raw_identify raw_decode raw_loaders)

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMORDALE_SANITIZE=ON \
  -DCMAKE_CXX_FLAGS=--coverage -DCMAKE_EXE_LINKER_FLAGS=--coverage >/dev/null
cmake --build "$build" --target "${targets[@]/#/fuzz_}" >/dev/null

objects="$build/src/imaging/CMakeFiles/mordale_imaging.dir/raw"
counts=$(mktemp -d)
trap 'rm -rf "$counts"' EXIT
for target in "${targets[@]}"; do
  find "$objects" -name '*.gcda' -delete
  "$build/tests/fuzz/fuzz_$target" "tests/fuzz/corpus/$target" "tests/fuzz/regressions/$target" 2>/dev/null
  (cd "$counts" && gcov --json-format --stdout "$OLDPWD/$objects"/*.gcda > "$target.json" 2>/dev/null)
done

python3 - "$counts" "${targets[@]}" <<'PY'
import json, re, sys
folder, targets = sys.argv[1], sys.argv[2:]
loaders = re.findall(r'void (RawLoad\w+)\(', open('src/imaging/raw/RawStages.h').read())
entered = {t: {} for t in targets}
for t in targets:
    # One JSON document per line, one line per object file.
    for line in open(f'{folder}/{t}.json'):
        for unit in json.loads(line)['files']:
            for f in unit.get('functions', []):
                # The loader itself, not the lambdas inside it.
                name = re.fullmatch(r'(RawLoad\w+)\(TKVRawContext&\)', f['demangled_name'])
                if name:
                    entered[t][name[1]] = entered[t].get(name[1], 0) + f['execution_count']
print(f'{"loader":32}' + ''.join(f'{t:>14}' for t in targets))
missed = []
for loader in loaders:
    row = [entered[t].get(loader, 0) for t in targets]
    print(f'{loader:32}' + ''.join(f'{n:>14}' for n in row))
    if not any(row):
        missed.append(loader)
print(f'{len(loaders) - len(missed)} of {len(loaders)} loaders reached')
sys.exit(1 if missed else 0)
PY
