#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Times whole processes over a workload of real camera JPEGs, warm, in rotating order over
# several rounds: the library's batch driver (EXIFInfo per path), the stdio I/O floor, the raw
# floor (open, one read of the library's first-read size, close), small libexif and exiv2
# readers of the same fields, and exiftool when installed. Prints one table: per-file median
# and range, ratios, user-space instructions per file (callgrind) and system calls per file
# (strace -c -f), both with start-up subtracted, and peak RSS.
# Usage: bench/compare.sh WORKLOAD_DIR   (ROUNDS=7, FILES=5000, CALLGRIND_FILES=200 to change)
set -euo pipefail
workload=${1:?usage: bench/compare.sh WORKLOAD_DIR}
rounds=${ROUNDS:-7}
files=${FILES:-5000}
callgrind_files=${CALLGRIND_FILES:-200}
root=$(cd "$(dirname "$0")/.." && pwd)
corpus=${EXIFINFO_CORPUS_DIR:-$root/../shared/corpus}
build=$root/build-bench

missing=()
for p in g++ cmake ninja-build libbenchmark-dev libexif-dev libexiv2-dev pkg-config valgrind time bc nlohmann-json3-dev strace; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "installing: ${missing[*]}" >&2
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
fi

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DEXIFINFO_BUILD_BENCHMARKS=ON \
  -DEXIFINFO_BUILD_TESTS=OFF -DEXIFINFO_BENCH_CORPUS="$corpus" >/dev/null
cmake --build "$build" >/dev/null

# The workload: copies of the corpus files, round robin, until there are enough.
mkdir -p "$workload"
have=$(find "$workload" -maxdepth 1 -type f -name '*.jpg' | wc -l)
if [ "$have" -lt "$files" ]; then
  mapfile -t sources < <(find "$corpus" -maxdepth 1 -type f ! -name README.md ! -name SHA256SUMS | sort)
  for ((i = have; i < files; i++)); do
    src=${sources[$((i % ${#sources[@]}))]}
    cp "$src" "$workload/$(printf '%05d' "$i")-$(basename "$src" .jpg).jpg"
  done
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
find "$workload" -maxdepth 1 -type f -name '*.jpg' | sort | head -n "$files" >"$work/list"
n=$(wc -l <"$work/list")
# The callgrind list: files spread evenly over the whole list.
awk -v step=$(( n / callgrind_files > 0 ? n / callgrind_files : 1 )) 'NR % step == 1 || step == 1' "$work/list" |
  head -n "$callgrind_files" >"$work/small"
: >"$work/empty"

readers=(floor raw_floor exifinfo libexif exiv2)
command -v exiftool >/dev/null && readers+=(exiftool)
# exiftool costs milliseconds a file: it reads a tenth of the list, and is scaled per file.
head -n $((n / 10)) "$work/list" >"$work/tenth"
exiftool_tags=(-Make -Model -Orientation -XResolution -YResolution -ResolutionUnit -ExposureTime -FNumber
  -ExposureProgram -ISO -ExifVersion -DateTimeOriginal -CompressedBitsPerPixel -ShutterSpeedValue -ApertureValue
  -BrightnessValue -ExposureCompensation -MaxApertureValue -SubjectDistance -MeteringMode -LightSource -Flash
  -FocalLength -UserComment -FocalPlaneXResolution -FocalPlaneYResolution -FocalPlaneResolutionUnit
  -ImageWidth -ImageHeight)

run_reader() {  # run_reader NAME LIST: one whole process over the list, output to stdout
  case $1 in
    # exiftool exits 1 over the damaged files of the corpus; its output still counts.
    exiftool) { exiftool -q -fast2 -n -s3 "${exiftool_tags[@]}" -@ "$2" 2>/dev/null || true; } |
      cksum | sed 's/^/exiftool checksum /' ;;
    *) "$build/bench/bench_$1" "$2" ;;
  esac
}
list_for() { [ "$1" = exiftool ] && echo "$work/tenth" || echo "$work/list"; }
count_for() { wc -l <"$(list_for "$1")"; }
warm() { "$build/bench/bench_floor" "$work/list" >/dev/null; }  # the page cache, right before

declare -A times checksum
for ((r = 0; r < rounds; r++)); do
  for ((k = 0; k < ${#readers[@]}; k++)); do
    name=${readers[$(((k + r) % ${#readers[@]}))]}
    warm
    start=$(date +%s%N)
    out=$(run_reader "$name" "$(list_for "$name")")
    end=$(date +%s%N)
    checksum[$name]=$out
    times[$name]+="$(( (end - start) / $(count_for "$name") )) "
  done
done

stat_of() {  # stat_of "ns ns ns" -> "median min max" in ns
  tr ' ' '\n' <<<"$1" | grep . | sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)], v[1], v[NR]}'
}
instructions() {  # user-space instructions per file, start-up subtracted
  [ "$1" = exiftool ] && { echo "-"; return; }
  local ir_n ir_0
  ir_n=$(valgrind --tool=callgrind --callgrind-out-file="$work/cg.out" "$build/bench/bench_$1" "$work/small" 2>&1 >/dev/null |
    sed -n 's/.*Collected : \([0-9]*\).*/\1/p')
  ir_0=$(valgrind --tool=callgrind --callgrind-out-file="$work/cg.out" "$build/bench/bench_$1" "$work/empty" 2>&1 >/dev/null |
    sed -n 's/.*Collected : \([0-9]*\).*/\1/p')
  echo $(( (ir_n - ir_0) / $(wc -l <"$work/small") ))
}
syscalls() {  # system calls per file, start-up subtracted
  [ "$1" = exiftool ] && { echo "-"; return; }
  local n z
  strace -f -c -o "$work/st" "$build/bench/bench_$1" "$work/small" >/dev/null
  n=$(awk '$NF == "total" {print $(NF-2)}' "$work/st")
  strace -f -c -o "$work/st" "$build/bench/bench_$1" "$work/empty" >/dev/null
  z=$(awk '$NF == "total" {print $(NF-2)}' "$work/st")
  bc -l <<<"($n - $z) / $(wc -l <"$work/small")" | xargs printf '%.2f'
}
peak_rss() {
  /usr/bin/time -f '%M' -o "$work/rss" bash -c "$(declare -f run_reader); $(declare -p exiftool_tags build); run_reader $1 $(list_for "$1")" >/dev/null
  tail -n 1 "$work/rss"
}

read -r floor_median _ _ <<<"$(stat_of "${times[floor]}")"
read -r raw_median _ _ <<<"$(stat_of "${times[raw_floor]}")"
read -r ours_median _ _ <<<"$(stat_of "${times[exifinfo]}")"
echo "Workload: $n files from $corpus ($(du -sh "$workload" | cut -f1)), $rounds rounds, warm page cache; $(nproc) cores."
echo "exiftool timed on $(count_for exiftool) of them; instructions from callgrind over $(wc -l <"$work/small") files."
echo
echo "| reader | per file (median) | range | vs floor | vs raw floor | exifinfo faster by | instructions per file | system calls per file | peak RSS |"
echo "|---|---:|---:|---:|---:|---:|---:|---:|---:|"
for name in "${readers[@]}"; do
  read -r median low high <<<"$(stat_of "${times[$name]}")"
  printf '| %s | %.1f µs | %.1f-%.1f µs | %.2fx | %.2fx | %.2fx | %s | %s | %.1f MiB |\n' "$name" \
    "$(bc -l <<<"$median/1000")" "$(bc -l <<<"$low/1000")" "$(bc -l <<<"$high/1000")" \
    "$(bc -l <<<"$median/$floor_median")" "$(bc -l <<<"$median/$raw_median")" "$(bc -l <<<"$median/$ours_median")" \
    "$(instructions "$name")" "$(syscalls "$name")" "$(bc -l <<<"$(peak_rss "$name")/1024")"
done
echo
for name in "${readers[@]}"; do echo "${checksum[$name]}"; done
