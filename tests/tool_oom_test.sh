#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The tool with each of its allocations failing in turn: it prints the whole report and exits
# 0, or says it ran out of memory and exits 1; never a partial report with 0, never an abort.
# Usage: tool_oom_test.sh EXIFINFO SHIM SAMPLE_JPEG
set -u
tool=$1
shim=$2
sample=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
for args in "$sample" "-j 2 $sample $sample" "--json $sample"; do
  # shellcheck disable=SC2086
  "$tool" $args >"$work/expected" 2>/dev/null
  # shellcheck disable=SC2086
  LD_PRELOAD=$shim FAIL_MALLOC_COUNT=$work/count "$tool" $args >/dev/null 2>&1
  count=$(cat "$work/count")
  ok=0
  oom=0
  for ((k = 0; k < count; k++)); do
    # shellcheck disable=SC2086
    LD_PRELOAD=$shim FAIL_MALLOC_AT=$k "$tool" $args >"$work/out" 2>"$work/err"
    status=$?
    if [ "$status" = 0 ] && cmp -s "$work/out" "$work/expected"; then
      ok=$((ok + 1))
    elif [ "$status" = 1 ] && grep -q -E 'out of memory|Cannot allocate memory' "$work/err"; then
      oom=$((oom + 1))
    else
      echo "FAILED: '$args' with allocation $k failing: exit $status, stderr: $(head -c 200 "$work/err")"
      failed=$((failed + 1))
    fi
  done
  echo "'$args': $count allocations; $ok runs whole, $oom out of memory"
  [ "$oom" -gt 0 ] || { echo "FAILED: no run of '$args' ran out of memory"; failed=$((failed + 1)); }
done
[ "$failed" = 0 ]
