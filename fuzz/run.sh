#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each one for SECONDS on the seed corpus,
# both at once (one core each). Prints executions, coverage and any crash; exits 1 on a crash.
# Usage: fuzz/run.sh SECONDS
set -euo pipefail
seconds=${1:?usage: fuzz/run.sh SECONDS}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-fuzz
work=$root/fuzz/corpus-work
corpus_src=${EXIFINFO_CORPUS_DIR:-$root/../shared/corpus}

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DEXIFINFO_BUILD_FUZZERS=ON -DEXIFINFO_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target fuzz_read fuzz_exif fuzz_make_seeds >/dev/null

rm -rf "$work/crashes"
mkdir -p "$work"/seeds/read "$work"/seeds/exif "$work"/read "$work"/exif "$work"/crashes
"$build/fuzz_make_seeds" "$work/seeds/read" "$work/seeds/exif" "$corpus_src"
cp "$root"/fuzz/regressions/read/* "$work/seeds/read/" 2>/dev/null || true
cp "$root"/fuzz/regressions/exif/* "$work/seeds/exif/" 2>/dev/null || true
rm -f "$work"/seeds/*/.keep

run() {  # run TARGET: new inputs go to $work/TARGET, the seeds are read only
  local target=$1
  "$build/fuzz/fuzz_$target" "$work/$target" "$work/seeds/$target" -dict="$root/fuzz/jpeg_exif.dict" \
    -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$work/crashes/$target-" \
    -timeout=10 -rss_limit_mb=2048 >"$work/$target.log" 2>&1
}
status=0
run read & read_pid=$!
run exif & exif_pid=$!
wait $read_pid || status=1
wait $exif_pid || status=1

for target in read exif; do
  log=$work/$target.log
  echo "== fuzz_$target ($seconds s)"
  grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -n 1 || true
  grep -E 'stat::number_of_executed_units|stat::average_exec_per_sec|stat::peak_rss_mb' "$log" || true
  grep -E 'ERROR: |SUMMARY: |runtime error|Test unit written' "$log" || true
done
ls "$work/crashes" | sed 's/^/crash: /'
exit $status
