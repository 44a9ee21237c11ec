#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the libFuzzer targets with clang and runs each for SECONDS, starting from the kept
# corpus (fuzz/corpus/TARGET) and the seeds the test builders make. New inputs go to
# fuzz/corpus-work/TARGET; with --merge they are then minimised into fuzz/corpus/TARGET with
# -merge=1 (keep only inputs that add coverage). Prints executions, coverage and any crash;
# exits 1 on a crash.
# Usage: fuzz/run.sh SECONDS [--merge]
set -euo pipefail
seconds=${1:?usage: fuzz/run.sh SECONDS [--merge]}
merge=${2:-}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-fuzz
work=$root/fuzz/corpus-work
# FUZZ_TARGETS="ranges ..." runs (and merges) only those.
read -r -a targets <<<"${FUZZ_TARGETS:-read exif api faults container ranges xmp}"

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DEXIFINFO_BUILD_FUZZERS=ON -DEXIFINFO_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target "${targets[@]/#/fuzz_}" fuzz_make_seeds >/dev/null

rm -rf "$work/crashes" "$work/seeds"
mkdir -p "$work"/seeds/{read,exif,faults,container,xmp} "$work"/crashes
for t in "${targets[@]}"; do mkdir -p "$work/$t" "$root/fuzz/corpus/$t"; done
# Seeds are made by the builders: no photo of the shared corpus enters the kept corpus.
"$build/fuzz_make_seeds" "$work/seeds/read" "$work/seeds/exif" "$work/seeds/container" "" "$work/seeds/xmp"
cp "$root"/fuzz/regressions/read/* "$work/seeds/read/" 2>/dev/null || true
# The shared corpus's real videos (hostile ones among them) seed a run where they are at hand,
# but not one whose finds are merged: no file of the shared corpus, nor one made from it, enters
# the kept corpus.
if [ "$merge" != "--merge" ]; then
  cp "$root"/../shared/corpus-media/*.mov "$root"/../shared/corpus-media/*.mp4 "$work/seeds/container/" 2>/dev/null || true
  # The shared sidecars, as XMP packets (the first byte chooses the packet's reader).
  for f in "$root"/../shared/corpus-media/*.xmp; do
    [ -e "$f" ] && { printf '\000'; cat "$f"; } >"$work/seeds/xmp/sidecar-$(basename "$f")"
  done
fi
cp "$root"/fuzz/regressions/exif/* "$work/seeds/exif/" 2>/dev/null || true
# The faults target reads a plan first: byte 0 (buffer size, seekable, event count), then
# three bytes an event (call, action, short size). No events, then one failure and one EINTR.
for f in "$work"/seeds/read/*; do
  name=$(basename "$f")
  { printf '\010'; cat "$f"; } >"$work/seeds/faults/plain-$name"
  { printf '\041\003\000\000\004\001\000'; cat "$f"; } >"$work/seeds/faults/events-$name"
done
# The ranges target reads a plan byte first: each seed with no gap and its size known (4),
# with 64 KiB gaps and the size unknown (1), and answered 100 bytes a call (12).
mkdir -p "$work/seeds/ranges"
for f in "$work"/seeds/read/* "$work"/seeds/container/*; do
  name=$(basename "$f")
  { printf '\004'; cat "$f"; } >"$work/seeds/ranges/known-$name"
  { printf '\001'; cat "$f"; } >"$work/seeds/ranges/gaps-$name"
  { printf '\014'; cat "$f"; } >"$work/seeds/ranges/short-$name"
done
seeds_of() { case $1 in api) echo "$work/seeds/read $work/seeds/container" ;; *) echo "$work/seeds/$1" ;; esac; }

run() {  # run TARGET: new inputs go to $work/TARGET; the kept corpus and seeds are read only
  local target=$1
  # shellcheck disable=SC2046
  "$build/fuzz/fuzz_$target" "$work/$target" "$root/fuzz/corpus/$target" $(seeds_of "$target") \
    -dict="$root/fuzz/jpeg_exif.dict" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$work/crashes/$target-" -timeout=10 -rss_limit_mb=2048 >"$work/$target.log" 2>&1
}
status=0
pids=()
for t in "${targets[@]}"; do run "$t" & pids+=($!); done
for pid in "${pids[@]}"; do wait "$pid" || status=1; done

for t in "${targets[@]}"; do
  log=$work/$t.log
  echo "== fuzz_$t ($seconds s)"
  grep -E '^#[0-9]+[[:space:]]+(INITED|DONE)' "$log" | sed 's/^/  /' || true
  grep -E 'stat::number_of_executed_units|stat::average_exec_per_sec' "$log" | sed 's/^/  /' || true
  grep -E 'ERROR: |SUMMARY: |runtime error|invariant broken|Test unit written' "$log" || true
done
ls "$work/crashes" | sed 's/^/crash: /'

if [ "$merge" = "--merge" ] && [ "$status" = 0 ]; then
  for t in "${targets[@]}"; do
    merged=$work/merged-$t
    rm -rf "$merged" && mkdir -p "$merged"
    "$build/fuzz/fuzz_$t" -merge=1 "$merged" "$root/fuzz/corpus/$t" "$work/$t" >"$work/$t-merge.log" 2>&1
    rm -rf "$root/fuzz/corpus/$t" && mv "$merged" "$root/fuzz/corpus/$t"
    echo "== kept corpus $t: $(ls "$root/fuzz/corpus/$t" | wc -l) inputs, $(du -sk "$root/fuzz/corpus/$t" | cut -f1) KiB;" \
      "$(grep -E 'MERGE-OUTER: [0-9]+ new files' "$work/$t-merge.log" | tail -n 1)"
  done
fi
exit $status
