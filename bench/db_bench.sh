#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# exifinfo --db over a tree of TREE_FILES hard links of the corpus (warm), against
# `exifinfo -r --json > /dev/null` on the same tree: the first run into a new database, a second
# run with nothing changed, and the peak RSS of each; medians over ROUNDS.
# Usage: bench/db_bench.sh WORK_DIR   (ROUNDS=3 TREE_FILES=200000)
set -euo pipefail
work=${1:?usage: bench/db_bench.sh WORK_DIR}
rounds=${ROUNDS:-3}
files=${TREE_FILES:-200000}
root=$(cd "$(dirname "$0")/.." && pwd)
corpus=${EXIFINFO_CORPUS_DIR:-$root/../shared/corpus}
build=$root/build-bench
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DEXIFINFO_BUILD_BENCHMARKS=ON \
  -DEXIFINFO_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" >/dev/null
tool=$build/exifinfo
tree=$work/dbtree
if [ ! -f "$tree/.complete" ]; then
  rm -rf "$tree"
  python3 - "$tree" "$files" "$corpus" <<'PY'
import os, sys
tree, count, corpus = sys.argv[1], int(sys.argv[2]), sys.argv[3]
sources = sorted(os.path.join(corpus, n) for n in os.listdir(corpus) if n.endswith(".jpg"))
for i in range(count):
    sub = os.path.join(tree, "%03d" % (i // 2000))
    if i % 2000 == 0:
        os.makedirs(sub)
    os.link(sources[i % len(sources)], os.path.join(sub, "%06d.jpg" % i))
open(os.path.join(tree, ".complete"), "w").close()
PY
fi
median() { tr ' ' '\n' | grep . | sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
timed() {  # timed RSS_FILE COMMAND...: milliseconds
  local rss=$1 t
  shift
  t=$(date +%s%N)
  /usr/bin/time -f '%M' -o "$rss" "$@" >/dev/null 2>&1 || true
  echo $(( ($(date +%s%N) - t) / 1000000 ))
}
json= first= again= jr= fr= ar=
for ((r = 0; r < rounds; r++)); do
  "$tool" -r --json "$tree" >/dev/null 2>&1 || true  # untimed pass
  json+="$(timed "$work/rss.j" "$tool" -r --json "$tree") "; jr+="$(tail -n 1 "$work/rss.j") "
  rm -f "$work/bench.db" "$work/bench.db-wal" "$work/bench.db-shm"
  first+="$(timed "$work/rss.f" "$tool" -r --db "$work/bench.db" "$tree") "; fr+="$(tail -n 1 "$work/rss.f") "
  again+="$(timed "$work/rss.a" "$tool" -r --db "$work/bench.db" "$tree") "; ar+="$(tail -n 1 "$work/rss.a") "
done
j=$(median <<<"$json"); f=$(median <<<"$first"); a=$(median <<<"$again")
echo "| run | time | ratio | peak RSS |"
echo "|---|---:|---:|---:|"
echo "| exifinfo -r --json > /dev/null | $j ms | 1.00x | $(( $(median <<<"$jr") / 1024 )) MiB |"
echo "| exifinfo -r --db, first run | $f ms | $(echo "scale=2; $f / $j" | bc)x | $(( $(median <<<"$fr") / 1024 )) MiB |"
echo "| exifinfo -r --db, nothing changed | $a ms | $(echo "scale=2; $a / $f" | bc)x of the first | $(( $(median <<<"$ar") / 1024 )) MiB |"
echo "database: $(du -k "$work/bench.db" | cut -f1) KiB for $files files"
