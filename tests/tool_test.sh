#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The command-line tool: output, diagnostics on standard error, exit codes.
# Usage: tool_test.sh EXIFINFO SAMPLE_JPEG
set -u
tool=$1
sample=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0
failed=0

check() {  # check NAME COMMAND... : the command must succeed
  local name=$1
  shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $name"; fi
}
status_of() { "$@" >/dev/null 2>&1; echo $?; }

check "sample exits 0" test "$(status_of "$tool" "$sample")" = 0
"$tool" "$sample" >"$work/out" 2>"$work/err"
check "report starts with Version" test "$(head -c 9 "$work/out")" = "Version: "
check "report lines end in CR LF" grep -q $'^Data:\r$' "$work/out"
check "nothing on stderr for a good file" test ! -s "$work/err"

check "missing file exits 1" test "$(status_of "$tool" "$work/missing.jpg")" = 1
"$tool" "$work/missing.jpg" >"$work/out" 2>"$work/err"
check "missing file: message names the file" grep -q "missing.jpg: cannot open: No such file or directory" "$work/err"
check "missing file: defaults still printed" grep -q $'^Height=0\r$' "$work/out"
check "one missing among good files exits 1" test "$(status_of "$tool" "$sample" "$work/missing.jpg" "$sample")" = 1

check "no operand exits 2" test "$(status_of "$tool")" = 2
check "unknown option exits 2" test "$(status_of "$tool" --frobnicate "$sample")" = 2
check "-o without argument exits 2" test "$(status_of "$tool" "$sample" -o)" = 2
check "-o with two files exits 2" test "$(status_of "$tool" -o "$work/r.txt" "$sample" "$sample")" = 2
check "--help exits 0" test "$(status_of "$tool" --help)" = 0
check "--help shows usage" sh -c "'$tool' --help | grep -q '^Usage: exifinfo'"
check "--version" sh -c "'$tool' --version | grep -q '^exifinfo (TolvaneEXIFInfo) 1.0.0$'"
check "-j 0 exits 2" test "$(status_of "$tool" -j 0 "$sample")" = 2
check "-j abc exits 2" test "$(status_of "$tool" -j abc "$sample")" = 2
check "-o with -r exits 2" test "$(status_of "$tool" -r -o "$work/r.txt" "$work")" = 2

"$tool" "$sample" "$sample" >"$work/two" 2>/dev/null
check "several files: a header per file" test "$(grep -c "^==> $sample <==$" "$work/two")" = 2
check "several files: one report each" test "$(grep -c '^Version: ' "$work/two")" = 2

"$tool" -o "$work/report.txt" "$sample" >"$work/out" 2>/dev/null
check "-o writes the report" cmp -s "$work/report.txt" "$work/out"
check "-o onto the photo itself exits 1" test "$(status_of "$tool" -o "$sample" "$sample")" = 1

# The reader's diagnostics go to standard error only: a stream that ends with an
# end-of-image section prints "No image in jpeg!".
printf '\377\330\377\331\000\002' >"$work/noimage.jpg"
"$tool" "$work/noimage.jpg" >"$work/out" 2>"$work/err"
check "diagnostic on stderr" test "$(cat "$work/err")" = "No image in jpeg!"
check "no diagnostic on stdout" sh -c "! grep -q 'No image' '$work/out'"
check "diagnostic is not a failure" test "$(status_of "$tool" "$work/noimage.jpg")" = 0

# Directories: an error without -r, walked in name order with it; non-JPEG files skipped.
mkdir -p "$work/tree/b" "$work/tree/a"
cp "$sample" "$work/tree/b/2.jpg"
cp "$sample" "$work/tree/a/1.jpeg"
cp "$sample" "$work/tree/z.data"
printf 'GIF89a' >"$work/tree/a/not-a-photo.jpg"
check "directory without -r exits 1" test "$(status_of "$tool" "$work/tree")" = 1
"$tool" "$work/tree" 2>"$work/err" >/dev/null
check "directory without -r: message" grep -q "tree: Is a directory" "$work/err"
"$tool" -r "$work/tree" >"$work/out" 2>"$work/err"
check "-r exits 0 with a skipped file" test "$(status_of "$tool" -r "$work/tree")" = 0
check "-r reports the non-JPEG" test "$(cat "$work/err")" = "exifinfo: $work/tree/a/not-a-photo.jpg: not a JPEG"
check "-r in name order, by content" test "$(grep '^==> ' "$work/out" | tr '\n' ' ')" = \
  "==> $work/tree/a/1.jpeg <== ==> $work/tree/b/2.jpg <== ==> $work/tree/z.data <== "
"$tool" -r --json -j 1 "$work/tree" >"$work/j1" 2>/dev/null
"$tool" -r --json -j 2 "$work/tree" >"$work/j2" 2>/dev/null
check "--json: one line per JPEG" test "$(wc -l <"$work/j1")" = 3
check "--json: -j 1 and -j 2 agree" cmp -s "$work/j1" "$work/j2"
check "--json: values typed" grep -q '"Width":160,' "$work/j1"

# A read that fails is a failure, not a photo without data, nor "not a JPEG" under -r.
"$tool" /proc/self/mem >"$work/out" 2>"$work/err"
check "read error exits 1" test $? = 1
check "read error: message" grep -q "^exifinfo: /proc/self/mem: read error: Input/output error$" "$work/err"
check "read error: defaults still printed" grep -q $'^Height=0\r$' "$work/out"
mkdir -p "$work/failing"
cp "$sample" "$work/failing/a.jpg"
ln -s /proc/self/mem "$work/failing/b.jpg"
"$tool" -r "$work/failing" >/dev/null 2>"$work/err"
check "-r: a failing read exits 1" test $? = 1
check "-r: a failing read is a read error" grep -q "failing/b.jpg: read error: Input/output error" "$work/err"

# Failed writes: a full device, and a reader that goes away while SIGPIPE is ignored. The run
# stops at the first failed write: the FIFO after 300 photos has a writer that never writes,
# so a run that read on would hang there (and be killed by timeout, exit 124).
"$tool" "$sample" >/dev/full 2>"$work/err"
check "stdout on a full disk exits 1" test $? = 1
check "stdout on a full disk: message" grep -q "write error: No space left on device" "$work/err"
"$tool" -o /dev/full "$sample" >/dev/null 2>"$work/err"
check "-o /dev/full: message" grep -q "/dev/full: cannot write: No space left on device" "$work/err"
mkdir -p "$work/many"
for i in $(seq -w 1 300); do ln "$sample" "$work/many/$i.jpg"; done
mkfifo "$work/many/zz-fifo.jpg"
exec 3<>"$work/many/zz-fifo.jpg"  # a writer that stays and never writes
(trap '' PIPE; timeout 30 "$tool" -r -j 1 "$work/many" 2>"$work/err"; echo $? >"$work/status") | head -n 1 >/dev/null
exec 3>&-
check "a closed pipe stops the run at once, exit 1" test "$(cat "$work/status")" = 1
check "a closed pipe: message" grep -q "write error: Broken pipe" "$work/err"

echo "$passed passed, $failed failed"
test "$failed" = 0
