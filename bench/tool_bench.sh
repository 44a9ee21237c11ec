#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The command-line tool over whole trees, side by side in one run:
#  - warm cache: `exifinfo -r DIR > /dev/null` (default options) over WARM_FILES hard links of
#    the corpus against the stdio floor run as two processes over the same list (each half);
#  - cold cache (root only: the page cache, dentries and inodes are dropped before each run):
#    default options against -j 1 ... 64 over COLD_FILES distinct copies, and against the
#    tool as it was before the streaming walk (OLD_TOOL, when given);
#  - the peers on the same warm files: exiftool -r -json -fast2 (on a tenth), exiv2 -pa;
#  - peak RSS over 2,000 and 200,000 files, and into a slowly read pipe.
# Medians over ROUNDS, each timed run preceded by an untimed pass (warm) or a cache drop (cold).
# Usage: bench/tool_bench.sh WORK_DIR   (ROUNDS=5 WARM_FILES=20000 COLD_FILES=2025 OLD_TOOL=path)
set -euo pipefail
work=${1:?usage: bench/tool_bench.sh WORK_DIR}
rounds=${ROUNDS:-5}
warm_files=${WARM_FILES:-20000}
cold_files=${COLD_FILES:-2025}
root=$(cd "$(dirname "$0")/.." && pwd)
corpus=${EXIFINFO_CORPUS_DIR:-$root/../shared/corpus}
build=$root/build-bench
tool=$build/exifinfo

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DEXIFINFO_BUILD_BENCHMARKS=ON \
  -DEXIFINFO_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" >/dev/null
mapfile -t sources < <(find "$corpus" -maxdepth 1 -type f -name '*.jpg' | sort)

# make_tree DIR COUNT KIND: COUNT files in folders of 2,000, hard links (KIND=link) or copies;
# one process makes them all (a process per file would take minutes for 200,000).
make_tree() {
  [ -f "$1/.complete" ] && return
  rm -rf "$1"
  python3 - "$1" "$2" "$3" "${sources[@]}" <<'PY'
import os, shutil, sys
folder, count, kind, sources = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4:]
for i in range(count):
    sub = os.path.join(folder, "%03d" % (i // 2000))
    if i % 2000 == 0:
        os.makedirs(sub)
    target = os.path.join(sub, "%06d.jpg" % i)
    (os.link if kind == "link" else shutil.copyfile)(sources[i % len(sources)], target)
open(os.path.join(folder, ".complete"), "w").close()
PY
}
make_tree "$work/warm" "$warm_files" link
make_tree "$work/cold" "$cold_files" copy
find "$work/warm" -name '*.jpg' | sort >"$work/warm.list"
split -n l/2 "$work/warm.list" "$work/warm.half."

median() { tr ' ' '\n' | grep . | sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
now() { date +%s%N; }
per_file() { echo "scale=2; $1 / $2 / 1000" | bc; }  # ns over N files -> µs a file

echo "== warm cache, $warm_files files (hard links of the corpus), $rounds rounds"
declare -A warm
for ((r = 0; r < rounds; r++)); do
  "$tool" -r "$work/warm" >/dev/null 2>&1 || true  # untimed pass: the cache and the code are warm
  t=$(now); "$build/bench/bench_floor" "$work/warm.half.aa" >/dev/null & "$build/bench/bench_floor" "$work/warm.half.ab" >/dev/null; wait
  warm[floor]+="$(( $(now) - t )) "
  for run in exifinfo j2 j16 old; do
    case $run in
      exifinfo) args=() ;;
      j2) args=(-j 2) ;;
      j16) args=(-j 16) ;;
      old) [ -n "${OLD_TOOL:-}" ] || continue ;;
    esac
    program=$tool
    [ "$run" = old ] && program=$OLD_TOOL
    "$program" -r "${args[@]}" "$work/warm" >/dev/null 2>&1 || true
    t=$(now); "$program" -r "${args[@]}" "$work/warm" >/dev/null 2>/dev/null || true
    warm[$run]+="$(( $(now) - t )) "
  done
done
floor=$(median <<<"${warm[floor]}")
ours=$(median <<<"${warm[exifinfo]}")
echo "| reader | per file | vs floor |"
echo "|---|---:|---:|"
echo "| floor, two processes | $(per_file "$floor" "$warm_files") µs | 1.00x |"
echo "| exifinfo -r (defaults) | $(per_file "$ours" "$warm_files") µs | $(echo "scale=2; $ours / $floor" | bc)x |"
for run in j2 j16 old; do
  [ -n "${warm[$run]:-}" ] || continue
  m=$(median <<<"${warm[$run]}")
  name=$(case $run in j2) echo "exifinfo -r -j 2" ;; j16) echo "exifinfo -r -j 16" ;; old) echo "before: exifinfo -r (default then, 16 running)" ;; esac)
  echo "| $name | $(per_file "$m" "$warm_files") µs | $(echo "scale=2; $m / $floor" | bc)x |"
done
if command -v exiv2 >/dev/null; then
  exiv2 -pa $(head -n 2000 "$work/warm.list") >/dev/null 2>&1 || true
  t=$(now); exiv2 -pa $(head -n 2000 "$work/warm.list") >/dev/null 2>&1 || true; e=$(( $(now) - t ))
  echo "| exiv2 -pa (2,000 files) | $(per_file "$e" 2000) µs | $(echo "scale=2; $e / 2000 / ($floor / $warm_files)" | bc)x |"
fi
if command -v exiftool >/dev/null; then
  head -n 2000 "$work/warm.list" >"$work/tenth.list"
  t=$(now); exiftool -json -fast2 -@ "$work/tenth.list" >/dev/null 2>&1 || true; e=$(( $(now) - t ))
  echo "| exiftool -json -fast2 (2,000 files) | $(per_file "$e" 2000) µs | $(echo "scale=2; $e / 2000 / ($floor / $warm_files)" | bc)x |"
fi

if [ "$(id -u)" = 0 ] && [ -w /proc/sys/vm/drop_caches ]; then
  echo
  echo "== cold cache, $cold_files distinct copies, caches dropped before each run, $rounds rounds"
  declare -A cold
  runs=("default" 1 2 4 8 16 32 64)
  [ -n "${OLD_TOOL:-}" ] && runs+=(old)
  for ((r = 0; r < rounds; r++)); do
    for j in "${runs[@]}"; do
      sync; echo 3 >/proc/sys/vm/drop_caches
      t=$(now)
      case $j in
        default) "$tool" -r "$work/cold" >/dev/null 2>&1 || true ;;
        old) "$OLD_TOOL" -r "$work/cold" >/dev/null 2>&1 || true ;;
        *) "$tool" -r -j "$j" "$work/cold" >/dev/null 2>&1 || true ;;
      esac
      cold[$j]+="$(( $(now) - t )) "
    done
  done
  best=
  for j in 1 2 4 8 16 32 64; do
    m=$(median <<<"${cold[$j]}")
    if [ -z "$best" ] || [ "$m" -lt "$best" ]; then best=$m; fi
  done
  echo "| run | total | per file | vs best -j |"
  echo "|---|---:|---:|---:|"
  for j in "${runs[@]}"; do
    m=$(median <<<"${cold[$j]}")
    name=$([ "$j" = default ] && echo "exifinfo -r (default: processors running, 16 waiting)" || ([ "$j" = old ] && echo "before: exifinfo -r (default then, 16 running)" || echo "exifinfo -r -j $j"))
    echo "| $name | $(echo "scale=3; $m / 1000000000" | bc) s | $(per_file "$m" "$cold_files") µs | $(echo "scale=2; $m / $best" | bc)x |"
  done
else
  echo
  echo "== cold cache: skipped (needs root to drop the page cache)"
fi

echo
echo "== peak RSS"
make_tree "$work/big" 200000 link
rss() { /usr/bin/time -f '%M' -o "$work/rss" "$@" >/dev/null 2>&1 || true; echo "scale=1; $(tail -n 1 "$work/rss") / 1024" | bc; }
echo "| run | peak RSS |"
echo "|---|---:|"
echo "| exifinfo -r, 2,000 files | $(rss "$tool" -r "$work/big/000") MiB |"
echo "| exifinfo -r, 200,000 files | $(rss "$tool" -r "$work/big") MiB |"
echo "| exifinfo -r --json, 200,000 files | $(rss "$tool" -r --json "$work/big") MiB |"
# A reader that takes 64 KiB every 2 ms: the printer waits, and so do the readers.
slow='import sys, time
while sys.stdin.buffer.read(65536):
    time.sleep(0.002)'
dirs=()
for k in $(seq -w 0 24); do dirs+=("$work/big/0$k"); done  # 25 folders: 50,000 files
for args in "-j 2" "-j 2 --json" "-j 1" "-j 16"; do
  # shellcheck disable=SC2086
  { /usr/bin/time -f '%M' -o "$work/rss" "$tool" -r $args "${dirs[@]}" 2>/dev/null || true; } | python3 -c "$slow"
  echo "| exifinfo -r $args, 50,000 files into a slow pipe | $(echo "scale=1; $(tail -n 1 "$work/rss") / 1024" | bc) MiB |"
done
