#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# valgrind memcheck over the test suites and over the tool on every corpus file: any error or
# leak fails the run. Usage: tests/valgrind.sh BUILD_DIR [CORPUS_DIR...]
set -euo pipefail
build=$1
shift
root=$(cd "$(dirname "$0")/.." && pwd)
memcheck=(valgrind --tool=memcheck --error-exitcode=99 --leak-check=full --suppressions="$root/tests/valgrind.supp"
  --errors-for-leak-kinds=definite,indirect,possible --show-leak-kinds=definite,indirect,possible --quiet)

echo "== memcheck: core_tests"
"${memcheck[@]}" "$build/tests/core_tests" --gtest_brief=1
echo "== memcheck: api_tests"
"${memcheck[@]}" "$build/tests/api_tests" --gtest_brief=1
echo "== memcheck: export_tests"
"${memcheck[@]}" "$build/tests/export_tests" --gtest_brief=1
files=("$root/samples/sample.jpg")
for corpus in "$@"; do
  [ -d "$corpus" ] || continue
  for f in "$corpus"/*; do [ -f "$f" ] && files+=("$f"); done
done
echo "== memcheck: exifinfo over ${#files[@]} files"
status=0
"${memcheck[@]}" "$build/exifinfo" "${files[@]}" >/dev/null 2>"$build/valgrind-tool.err" || status=$?
# Exit 1 is the tool's own "a file could not be opened"; 99 is valgrind's.
if [ "$status" -eq 99 ] || grep -q '^==[0-9]*==' "$build/valgrind-tool.err"; then
  cat "$build/valgrind-tool.err"
  exit 1
fi
echo "memcheck: clean"
