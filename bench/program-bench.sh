#!/usr/bin/env bash
# The release program through its command line, beside peer tools on the same files in the same
# run: books of large JPEG, PNG, BMP, LZW and plain TIFF pictures, books of 10, 1,000 and 10,000
# small JPEGs, one small picture, and a run with nothing to do. Prints one table of medians (wall
# seconds), ratios and peak memory. The machine may be shared: the ratios count, not the seconds.
#   bench/program-bench.sh
# Environment: MORDALE (the program; else the release build, built when missing), REPS (runs per
# figure, default 3), BENCH_TMPFS (default /dev/shm), BENCH_DISK (default build/program-bench).
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
reps="${REPS:-3}"

if [ -z "${MORDALE:-}" ]; then
  MORDALE="$top/build/release/src/app/mordale"
  if [ ! -x "$MORDALE" ]; then
    cmake -S "$top" -B "$top/build/release" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORDALE_TESTS=OFF >/dev/null
    cmake --build "$top/build/release" --target mordale -j 3 >/dev/null
  fi
fi
for tool in img2pdf tiffcp pngtopnm convert /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "program-bench: $tool is missing (scripts/setup.sh installs it)" >&2; exit 2; }
done

tmpfs="$(mktemp -d "${BENCH_TMPFS:-/dev/shm}/program-bench-XXXXXX")"
disk="${BENCH_DISK:-$top/build/program-bench}"
rm -rf "$disk"
mkdir -p "$disk"
trap 'rm -rf "$tmpfs" "$disk"' EXIT
# A settings folder, home and temporary folder of the run's own: no user's settings count.
export XDG_CONFIG_HOME="$tmpfs/config" XDG_DATA_HOME="$tmpfs/data" HOME="$tmpfs/home" TMPDIR="$tmpfs/tmp"
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$HOME" "$TMPDIR"
unset DISPLAY WAYLAND_DISPLAY

# --- Data: eight different pictures per size, written in each format and repeated under their
# own names.
# make_bases SIZE: base-SIZE-0.ppm to base-SIZE-7.ppm.
make_bases() {
  local i
  for ((i = 0; i < 8; ++i)); do
    convert -size "$1" "plasma:fractal" -seed "$((i + 1))" "$tmpfs/base-$1-$i.ppm" 2>/dev/null
  done
}
# make_set FOLDER PREFIX EXTENSION COUNT SIZE [CONVERT OPTIONS...]
make_set() {
  local folder="$1" prefix="$2" extension="$3" count="$4" size="$5"
  shift 5
  mkdir -p "$folder"
  local i
  for ((i = 0; i < 8 && i < count; ++i)); do
    convert "$tmpfs/base-$size-$i.ppm" "$@" "$folder/$(printf '%s%05d%s' "$prefix" "$i" "$extension")" 2>/dev/null
  done
  # One process for the copies: thousands of cp would take longer than the runs.
  python3 - "$folder" "$prefix" "$extension" "$count" <<'PY'
import shutil, sys
folder, prefix, extension, count = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
for i in range(8, count):
    shutil.copyfile(f"{folder}/{prefix}{i % 8:05d}{extension}", f"{folder}/{prefix}{i:05d}{extension}")
PY
}
# The files of a set, first COUNT of them, as names relative to its folder.
set_files() { (cd "$1" && ls | grep "^$2" | sort | head -n "$3"); }

echo "program-bench: making pictures..." >&2
make_bases 2400x1600
make_bases 200x150
make_set "$tmpfs/jpeg" big .jpg 200 2400x1600 -quality 90
make_set "$tmpfs/small" small .jpg 10000 200x150 -quality 90
make_set "$tmpfs/png" big .png 50 2400x1600
make_set "$tmpfs/bmp" big .bmp 50 2400x1600 -type TrueColor
make_set "$tmpfs/lzw" big .tif 50 2400x1600 -compress LZW
make_set "$tmpfs/tiff" big .tif 50 2400x1600 -compress None
cp -r "$tmpfs/jpeg" "$disk/jpeg"
cp "$tmpfs/small/small00000.jpg" "$tmpfs/one.jpg"

# --- Measuring: median wall seconds and largest peak memory of REPS runs.
# measure NAME EXPECTED-STATUS FOLDER STDIN COMMAND... sets seconds[NAME] and memory[NAME] (MB).
declare -A seconds memory
measure() {
  local name="$1" expected="$2" folder="$3" input="$4"
  shift 4
  local times=() peak=0 r
  for ((r = 0; r < reps; ++r)); do
    rm -f "$folder"/out.* "$folder"/*.pdf
    local start end status=0
    start=$(date +%s%N)
    (cd "$folder" && /usr/bin/time -f %M -o "$tmpfs/mem" "$@" <"$input" >/dev/null 2>"$tmpfs/err") || status=$?
    end=$(date +%s%N)
    if [ "$status" != "$expected" ]; then
      echo "program-bench: $name exited with $status:" >&2
      tail -n 5 "$tmpfs/err" >&2
      seconds[$name]=failed
      memory[$name]=-
      return
    fi
    times+=("$(((end - start) / 1000))")
    local kb
    kb=$(tail -n 1 "$tmpfs/mem")
    ((kb > peak)) && peak=$kb
  done
  local median
  median=$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((reps + 1) / 2))p")
  seconds[$name]=$(awk -v us="$median" 'BEGIN { printf "%.3f", us / 1e6 }')
  memory[$name]=$((peak / 1024))
}

# The book's name is the answer to its question; nothing is asked after it.
answer() {
  printf '%s\n' "$1/out.pdf" >"$tmpfs/answer-$2"
  echo "$tmpfs/answer-$2"
}
# A shell command over the files, named NAME, measured like the program.
shell() { measure "$1" 0 "$2" /dev/null bash -c "$3" bash "${@:4}"; }

echo "program-bench: measuring ($reps runs each)..." >&2
# book KIND FOLDER COUNT PREFIX: our book of the first COUNT files.
book() {
  local name="$1" folder="$2" count="$3" prefix="$4"
  mapfile -t files < <(set_files "$folder" "$prefix" "$count")
  measure "$name" 0 "$folder" "$(answer "$folder" "$name")" "$MORDALE" /B "${files[@]}"
}
files_of() { mapfile -t files < <(set_files "$1" "$2" "$3"); }

book jpeg "$tmpfs/jpeg" 200 big
files_of "$tmpfs/jpeg" big 200
shell jpeg-cat "$tmpfs/jpeg" 'cat "$@" >out.cat' "${files[@]}"
shell jpeg-img2pdf "$tmpfs/jpeg" 'img2pdf "$@" -o out.img2pdf' "${files[@]}"

book jpeg-disk "$disk/jpeg" 200 big
shell jpeg-disk-sync "$disk/jpeg" 'cat "$@" >out.cat && sync out.cat' "${files[@]}"

for count in 10 1000 10000; do
  book "small-$count" "$tmpfs/small" "$count" small
  files_of "$tmpfs/small" small "$count"
  shell "small-$count-cat" "$tmpfs/small" 'cat "$@" >out.cat' "${files[@]}"
  shell "small-$count-img2pdf" "$tmpfs/small" 'img2pdf --from-file /dev/stdin -o out.img2pdf < <(printf "%s\0" "$@")' "${files[@]}"
done

book lzw "$tmpfs/lzw" 50 big
files_of "$tmpfs/lzw" big 50
shell lzw-tiffcp "$tmpfs/lzw" 'tiffcp -c none "$@" out.tiffcp' "${files[@]}"
book tiff "$tmpfs/tiff" 50 big
files_of "$tmpfs/tiff" big 50
shell tiff-tiffcp "$tmpfs/tiff" 'tiffcp -c none "$@" out.tiffcp' "${files[@]}"
shell tiff-cat "$tmpfs/tiff" 'cat "$@" >out.cat' "${files[@]}"

book png "$tmpfs/png" 50 big
files_of "$tmpfs/png" big 50
shell png-pngtopnm "$tmpfs/png" 'for f; do pngtopnm "$f"; done >out.pnm' "${files[@]}"
shell png-img2pdf "$tmpfs/png" 'img2pdf "$@" -o out.img2pdf' "${files[@]}"

book bmp "$tmpfs/bmp" 50 big
files_of "$tmpfs/bmp" big 50
shell bmp-cat "$tmpfs/bmp" 'cat "$@" >out.cat' "${files[@]}"

measure one 0 "$tmpfs" /dev/null "$MORDALE" /S one.jpg
shell one-img2pdf "$tmpfs" 'img2pdf one.jpg -o out.img2pdf'
measure nothing 2 "$tmpfs" /dev/null "$MORDALE" /S
# What the measuring itself costs: a program that does nothing.
measure true 0 "$tmpfs" /dev/null true

# --- The table.
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a + 0 > 0 && b + 0 > 0) printf "%.2f", a / b; else printf "-" }'; }
echo "| work | ours s | ours MB | peer | peer s | peer MB | ours / peer |"
echo "|---|---|---|---|---|---|---|"
# row WORK OURS PEER-LABEL PEER
row() {
  local ours="${seconds[$2]}" peer="" peerMemory=""
  if [ -n "$4" ]; then
    peer="${seconds[$4]:-}"
    peerMemory="${memory[$4]:-}"
  fi
  echo "| $1 | $ours | ${memory[$2]} | $3 | $peer | $peerMemory | $(ratio "$ours" "$peer") |"
}
row "book of 200 JPEGs 2400 x 1600, tmpfs" jpeg 'cat' jpeg-cat
row "" jpeg 'img2pdf' jpeg-img2pdf
row "same, on disk" jpeg-disk 'cat && sync' jpeg-disk-sync
for count in 10 1000 10000; do
  row "book of $count JPEGs 200 x 150" "small-$count" 'cat' "small-$count-cat"
  row "" "small-$count" 'img2pdf' "small-$count-img2pdf"
done
seconds[small-1000x10]=$(awk -v s="${seconds[small-1000]}" 'BEGIN { if (s + 0 > 0) printf "%.3f", 10 * s; else printf "-" }')
row "book of 10000 JPEGs 200 x 150" small-10000 '10 x book of 1000' small-1000x10
row "book of 50 LZW TIFFs 2400 x 1600" lzw 'tiffcp -c none' lzw-tiffcp
row "book of 50 plain TIFFs 2400 x 1600" tiff 'tiffcp -c none' tiff-tiffcp
row "" tiff 'cat' tiff-cat
row "book of 50 PNGs 2400 x 1600" png 'pngtopnm' png-pngtopnm
row "" png 'img2pdf' png-img2pdf
row "book of 50 BMPs 2400 x 1600" bmp 'cat' bmp-cat
row "one picture 200 x 150 (/S)" one 'img2pdf' one-img2pdf
row "nothing to do (/S alone)" nothing 'true' true
