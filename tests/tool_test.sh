#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The command-line tool: output, diagnostics on standard error, exit codes.
# Usage: tool_test.sh EXIFINFO SAMPLE_JPEG [CONTAINERS_DIR]
set -u
tool=$1
sample=$2
containers=${3:-}
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
check "report lines end in LF" grep -q '^Data:$' "$work/out"
check "no CR on standard output" test "$(tr -cd '\r' <"$work/out" | wc -c)" = 0
check "a grep for a value matches" grep -q '^ISOequivalent=200$' "$work/out"
"$tool" --crlf "$sample" >"$work/crlf"
"$tool" "$sample" >"$work/lf"
check "--crlf keeps the library's CR LF" grep -q $'^Data:\r$' "$work/crlf"
check "nothing on stderr for a good file" test ! -s "$work/err"

check "missing file exits 1" test "$(status_of "$tool" "$work/missing.jpg")" = 1
"$tool" "$work/missing.jpg" >"$work/out" 2>"$work/err"
check "missing file: message names the file" grep -q "missing.jpg: cannot open: No such file or directory" "$work/err"
check "missing file: defaults still printed" grep -q '^Height=0$' "$work/out"
check "one missing among good files exits 1" test "$(status_of "$tool" "$sample" "$work/missing.jpg" "$sample")" = 1

check "no operand exits 2" test "$(status_of "$tool")" = 2
check "unknown option exits 2" test "$(status_of "$tool" --frobnicate "$sample")" = 2
check "-o without argument exits 2" test "$(status_of "$tool" "$sample" -o)" = 2
check "-o with two files exits 2" test "$(status_of "$tool" -o "$work/r.txt" "$sample" "$sample")" = 2
check "--help exits 0" test "$(status_of "$tool" --help)" = 0
check "--help shows usage" sh -c "'$tool' --help | grep -q '^Usage: exifinfo'"
check "--version" sh -c "'$tool' --version | grep -qx 'exifinfo (TolvaneEXIFInfo) [0-9]*\.[0-9]*\.[0-9]*'"
check "-j 0 exits 2" test "$(status_of "$tool" -j 0 "$sample")" = 2
check "-j abc exits 2" test "$(status_of "$tool" -j abc "$sample")" = 2
check "-o with -r exits 2" test "$(status_of "$tool" -r -o "$work/r.txt" "$work")" = 2

"$tool" "$sample" "$sample" >"$work/two" 2>/dev/null
check "several files: a header per file" test "$(grep -c "^==> $sample <==$" "$work/two")" = 2
check "several files: one report each" test "$(grep -c '^Version: ' "$work/two")" = 2

"$tool" -o "$work/report.txt" "$sample" >"$work/out" 2>/dev/null
check "-o writes the library's bytes (CR LF)" cmp -s "$work/report.txt" "$work/crlf"
printf 'old' >"$work/kept.txt"
"$tool" -o "$work/kept.txt" "$work/missing.jpg" >/dev/null 2>&1
check "-o of a missing file writes the report of defaults" grep -q $'^Height=0\r$' "$work/kept.txt"
check "-o onto the photo itself exits 1" test "$(status_of "$tool" -o "$sample" "$sample")" = 1

# The reader's diagnostics go to standard error only: a stream that ends with an
# end-of-image section prints "No image in jpeg!".
printf '\377\330\377\331\000\002' >"$work/noimage.jpg"
"$tool" "$work/noimage.jpg" >"$work/out" 2>"$work/err"
check "diagnostic on stderr" test "$(cat "$work/err")" = "exifinfo: $work/noimage.jpg: No image in jpeg!"
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
check "-r reports the non-photo" test "$(cat "$work/err")" = "exifinfo: $work/tree/a/not-a-photo.jpg: not a photo (in no known container)"
check "-r in name order, by content" test "$(grep '^==> ' "$work/out" | tr '\n' ' ')" = \
  "==> $work/tree/a/1.jpeg <== ==> $work/tree/b/2.jpg <== ==> $work/tree/z.data <== "
"$tool" -r --json -j 1 "$work/tree" >"$work/j1" 2>/dev/null
"$tool" -r --json -j 2 "$work/tree" >"$work/j2" 2>/dev/null
check "--json: one line per JPEG" test "$(wc -l <"$work/j1")" = 3
check "--json: -j 1 and -j 2 agree" cmp -s "$work/j1" "$work/j2"
check "--json: values typed" grep -q '"ImageWidth":160,' "$work/j1"

# A file named on the command line that is not a JPEG: its report of defaults, a message, 1.
printf 'GIF89a' >"$work/not.jpg"
"$tool" "$work/not.jpg" >"$work/out" 2>"$work/err"
check "named non-JPEG exits 1" test $? = 1
check "named non-photo: message" test "$(cat "$work/err")" = "exifinfo: $work/not.jpg: not a photo (in no known container)"
check "named non-JPEG: defaults printed" grep -q '^Width=0$' "$work/out"

# Unknown options are named as given.
"$tool" -xr . >/dev/null 2>"$work/err"
check "-xr names -x" grep -q "invalid option -- 'x'" "$work/err"
"$tool" --frobnicate "$sample" >/dev/null 2>"$work/err"
check "--frobnicate is named" grep -q "unrecognized option '--frobnicate'" "$work/err"

# Standard input: a pipe or a redirected file, reported as -; a closed one is an error.
"$tool" - <"$sample" >"$work/stdin" 2>&1
check "- reads a redirected file" cmp -s "$work/stdin" "$work/lf"
cat "$sample" | "$tool" --json - >"$work/stdin.json"
check "- reads a pipe, named -" grep -q '^{"path":"-","container":"jpeg","ending":"start_of_scan"' "$work/stdin.json"
"$tool" - <&- >/dev/null 2>"$work/err"
check "closed standard input exits 1" test $? = 1
check "closed standard input: message" grep -q "^exifinfo: -: read error: Bad file descriptor$" "$work/err"
check "- twice is a usage error" test "$(status_of "$tool" - - </dev/null)" = 2
# A terminal on standard input: a usage error, not a wait (where script(1) can open a pty).
if command -v script >/dev/null && script -qec true /dev/null </dev/null >/dev/null 2>&1; then
  script -qec "'$tool' -" /dev/null >"$work/tty" 2>&1 </dev/null
  check "- on a terminal exits 2" test $? = 2
  check "- on a terminal: message" grep -q "standard input is a terminal" "$work/tty"
fi

# JSON and CSV say how each read ended, and why a file could not be read.
"$tool" --json "$sample" "$work/missing.jpg" "$work/not.jpg" >"$work/rows.json" 2>/dev/null
check "--json: ending of a photo" grep -q '"ending":"start_of_scan","error":null,"HasExif":true,' "$work/rows.json"
check "--json: a missing file's error" grep -q '"ending":null,"error":"cannot open: No such file or directory","HasExif":null,' "$work/rows.json"
check "--json: a file that is not a JPEG" grep -q '"ending":"not_a_jpeg","error":null,' "$work/rows.json"
check "--json: shortest floats" grep -q '"ExposureTime":0.004,' "$work/rows.json"
"$tool" --csv "$sample" "$work/missing.jpg" >"$work/rows.csv" 2>/dev/null
check "--csv: a header and a row per file (a comment's line break quoted inside its field)" \
  test "$(/usr/bin/python3 -c 'import csv, sys; print(len(list(csv.reader(open(sys.argv[1], newline="")))))' "$work/rows.csv")" = 3
check "--csv: quoted text" grep -q ',"Sunset over the bay, from the ferry.",' "$work/rows.csv"
check "--csv: the error column" grep -q ',cannot open: No such file or directory,' "$work/rows.csv"
check "--json -f: the record's keys, the file's own values" test "$("$tool" --json -f Make,Model,ISO,CaptureTime "$sample")" = \
  '{"Make":"Tolvane Optics","Model":"TX-100 Travel Zoom","ISO":200,"CaptureTime":"2024-06-21T19:42:10"}'
"$tool" --csv -f path,LensModel,GPSLatitude,ISO "$sample" >"$work/some.csv"
check "--fields: the keys asked for, in that order" test "$(head -n 1 "$work/some.csv")" = $'path,LensModel,GPSLatitude,ISO\r'
check "--fields: an unknown key is a usage error naming it" \
  sh -c '"$1" --json -f path,Nope "$2" 2>&1 >/dev/null | grep -q "unknown field .Nope."; test $? = 0' _ "$tool" "$sample"
check "--fields without --json or --csv is a usage error" test "$(status_of "$tool" -f path "$sample")" = 2
"$tool" --csv -f PATH,lensmodel,IsO "$sample" >"$work/case.csv"
check "--fields: keys in any case name their columns" test "$(head -n 1 "$work/case.csv")" = $'path,LensModel,ISO\r'
check "--fields: a misspelt key's error names the nearest keys" \
  sh -c '"$1" --json -f Lattitude "$2" 2>&1 >/dev/null | grep -q "did you mean GPSLatitude"' _ "$tool" "$sample"
# --list-fields: every key of a JSON line, in its order, each with a type and a meaning.
"$tool" --list-fields >"$work/fields.txt"
"$tool" --json "$sample" | /usr/bin/python3 -c 'import json, sys; print("\n".join(json.loads(sys.stdin.read())))' >"$work/keys.txt"
check "--list-fields: the keys of --json, in order" cmp -s "$work/keys.txt" <(awk '{print $1}' "$work/fields.txt")
check "--list-fields: a type and a meaning each" \
  test "$(grep -cvE '^[A-Za-z0-9]+ +(text|integer|number|boolean|list) +[A-Za-z0-9(].{8,}$' "$work/fields.txt")" = 0
check "--json with --csv is a usage error" test "$(status_of "$tool" --json --csv "$sample")" = 2

# Thumbnails: named after the photo (its path below the operand under -r), never replaced
# without --force, nothing for a photo without one (said with -v), whole or not at all.
mkdir -p "$work/thumbs" "$work/shots/day1"
cp "$sample" "$work/shots/day1/a.jpg"
printf '\377\330\377\332\000\002' >"$work/shots/b.jpg"
"$tool" -r -v -t "$work/thumbs" "$work/shots" >/dev/null 2>"$work/err"
check "-t exits 0" test $? = 0
# The thumbnail's bytes: ThumbnailLength bytes of the photo's, a JPEG of their own.
"$tool" --json "$sample" | python3 -c '
import json, sys; o = json.load(sys.stdin); d = open(sys.argv[1], "rb").read(); t = open(sys.argv[2], "rb").read()
sys.exit(0 if len(t) == o["ThumbnailLength"] and t[:2] == b"\xff\xd8" and d.find(t, 2) > 0 else 1)' \
  "$sample" "$work/thumbs/day1/a.jpg.thumb.jpg"
check "-t writes the thumbnail below the folder, keeping sub-folders" test $? = 0
check "-t -v says a photo has no thumbnail" grep -q "shots/b.jpg: no thumbnail" "$work/err"
check "-t writes nothing for it" test ! -e "$work/thumbs/b.jpg.thumb.jpg"
printf 'mine' >"$work/thumbs/own.thumb.jpg"
cp "$sample" "$work/own"
"$tool" -t "$work/thumbs" "$work/own" >/dev/null 2>"$work/err"
check "-t does not replace a file: exit 1" test $? = 1
check "-t does not replace a file" test "$(cat "$work/thumbs/own.thumb.jpg")" = mine
"$tool" -t "$work/thumbs" --force "$work/own" >/dev/null 2>&1
check "--force replaces it" cmp -s "$work/thumbs/own.thumb.jpg" "$work/thumbs/day1/a.jpg.thumb.jpg"
check "-t makes a missing folder and its parents" test "$(status_of "$tool" -t "$work/new/deeper" "$sample")" = 0
check "-t wrote into the folder it made" test -s "$work/new/deeper/sample.jpg.thumb.jpg"
check "-t where a file stands exits 1" test "$(status_of "$tool" -t "$sample/below" "$sample")" = 1
"$tool" -r -t "$work/thumbs" "$work/shots" >/dev/null 2>"$work/err"
check "-t again: the same thumbnails are kept, exit 0" test $? = 0
check "-t again: nothing to say" test ! -s "$work/err"
script -qec "'$tool' -r -t '$work/thumbs' '$work/shots' >/dev/null" "$work/again.tty" >/dev/null
check "-t again on a terminal: one summary line that counts them as kept" \
  test "$(grep -c '^exifinfo' "$work/again.tty")" = 1 -a "$(grep -c '^exifinfo: .*, 1 thumbnails kept' "$work/again.tty")" = 1
printf 'other' >"$work/thumbs/own.thumb.jpg"
cp "$work/own" "$work/own2"
"$tool" -t "$work/thumbs" "$work/own" "$work/own2" >/dev/null 2>"$work/err"
check "-t: thumbnails that differ are one line, exit 1" test $? = 1 -a "$(wc -l <"$work/err")" = 1
check "-t: the line counts them" grep -q "1 thumbnails differ from the files in $work/thumbs; not replaced" "$work/err"
mkdir -p "$work/twin1" "$work/twin2"
cp "$sample" "$work/twin1/x.jpg"
cp "$work/own" "$work/twin2/x.jpg"
"$tool" -t "$work/twins" --force "$work/twin1/x.jpg" "$work/twin2/x.jpg" >/dev/null 2>"$work/err"
check "-t: a second photo of one name is refused, exit 1" test $? = 1
check "-t: and says why" grep -q "twins/x.jpg.thumb.jpg: another photo of this run has the same name" "$work/err"
rm -f "$work/thumbs/own.thumb.jpg" "$work/thumbs/own2.thumb.jpg"
# No file may grow (as on a full disk); messages and status come back through a pipe.
full=$( (trap '' XFSZ; ulimit -f 0; "$tool" -t "$work/thumbs" "$work/own" 2>&1 >/dev/null; echo "status $?") )
check "-t on a full file system exits 1" grep -q "^status 1$" <<<"$full"
check "-t on a full file system: message" grep -q "own.thumb.jpg: cannot write: File too large" <<<"$full"
check "-t on a full file system leaves no file" test -z "$(ls -A "$work/thumbs" | grep own)"

# A read that fails is a failure, not a photo without data, nor "not a JPEG" under -r.
"$tool" /proc/self/mem >"$work/out" 2>"$work/err"
check "read error exits 1" test $? = 1
check "read error: message" grep -q "^exifinfo: /proc/self/mem: read error: Input/output error$" "$work/err"
check "read error: defaults still printed" grep -q '^Height=0$' "$work/out"
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

# Under -r only regular files are opened: a FIFO whose writer stays, a socket and a link to a
# device are passed over (-v names them), so the run goes on; -q drops the "not a photo" lines.
mkdir -p "$work/odd"
cp "$sample" "$work/odd/a.jpg"
cp "$sample" "$work/odd/z.jpg"
printf 'text' >"$work/odd/notes.txt"
mkfifo "$work/odd/m-fifo.jpg"
ln -s /dev/zero "$work/odd/n-zero.jpg"
python3 -c 'import socket, sys; socket.socket(socket.AF_UNIX).bind(sys.argv[1])' "$work/odd/o-socket.jpg"
exec 4<>"$work/odd/m-fifo.jpg"  # a writer that stays and never writes
timeout 20 "$tool" -r -v --json "$work/odd" >"$work/odd.json" 2>"$work/odd.err"
check "-r passes over a FIFO with a writer, a socket and a device: exit 0" test $? = 0
exec 4>&-
check "-r: rows for the two photos only" test "$(grep -c '"container":"jpeg"' "$work/odd.json")" = 2
check "-v names the FIFO passed over" grep -q "m-fifo.jpg: passed over: a FIFO" "$work/odd.err"
check "-v names the device passed over" grep -q "n-zero.jpg: passed over: a device" "$work/odd.err"
check "-v names the socket passed over" grep -q "o-socket.jpg: passed over: a socket" "$work/odd.err"
check "-v ends with a summary" test "$(tail -n 1 "$work/odd.err")" = "exifinfo: 2 read, 4 passed over, 0 failed"
rm "$work/odd/m-fifo.jpg" "$work/odd/o-socket.jpg" "$work/odd/n-zero.jpg"
"$tool" -r -q "$work/odd" >/dev/null 2>"$work/err"
check "-q: no line for a file that is no photo" test ! -s "$work/err"
"$tool" -r "$work/odd" >/dev/null 2>"$work/err"
check "without -q the line is there" grep -q "notes.txt: not a photo" "$work/err"
# A folder that cannot be read gets a row of its own under --json and --csv (not as root: root
# reads any folder, so the run drops to nobody where it can).
mkdir -p "$work/shut/in"
cp "$sample" "$work/shut/a.jpg"
chmod 755 "$work" "$work/shut" && chmod 644 "$work/shut/a.jpg" && chmod 000 "$work/shut/in"
as_user=()
if [ "$(id -u)" = 0 ]; then as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups); fi
# (A build tree the user cannot reach, as in a private temporary folder, skips these checks.)
if "${as_user[@]}" "$tool" --version >/dev/null 2>&1; then
  "${as_user[@]}" "$tool" -r --json -f path,error "$work/shut" >"$work/shut.json" 2>"$work/err"
  check "an unreadable folder exits 1" test $? = 1
  check "an unreadable folder gets a JSON row" grep -qx "{\"path\":\"$work/shut/in\",\"error\":\"cannot read directory: Permission denied\"}" "$work/shut.json"
  "${as_user[@]}" "$tool" -r --csv -f path,error "$work/shut" >"$work/shut.csv" 2>/dev/null
  check "an unreadable folder gets a CSV row" grep -q "^$work/shut/in,cannot read directory: Permission denied" "$work/shut.csv"
else
  echo "skipped: the unreadable-folder row (cannot drop to another user)"
fi
chmod 755 "$work/shut/in"

# Names that are not UTF-8 come back from JSON as the same bytes (surrogate escapes).
mkdir -p "$work/names"
cp "$sample" "$work/names/caf"$'\xe9'".jpg"
cp "$sample" "$work/names/caf"$'\xc3\xa9'".jpg"
"$tool" -r --json -f path "$work/names" >"$work/names.json"
check "JSON names round-trip to the very files" python3 -c '
import json, os, sys
paths = [os.fsencode(json.loads(line)["path"]) for line in open(sys.argv[1], encoding="utf-8")]
sys.exit(not (len(set(paths)) == 2 and all(os.path.isfile(p) for p in paths)))' "$work/names.json"

# Photos in other containers: every one read under -r, its container named, thumbnails written.
if [ -d "$containers" ]; then
  photos=$(find "$containers" -type f ! -name README.md ! -name SHA256SUMS | wc -l)
  mkdir "$work/container-thumbs"
  "$tool" -r -v --json -t "$work/container-thumbs" "$containers" >"$work/containers.json" 2>"$work/err"
  check "-r over other containers exits 0" test $? = 0
  check "-r: a row for every photo" test "$(wc -l <"$work/containers.json")" = "$photos"
  check "-r: no photo is of no container" test "$(grep -c '"container":"unknown"' "$work/containers.json")" = 0
  check "-r: a HEIC is heif" grep -q 'IMG_1034.heic","container":"heif",' "$work/containers.json"
  thumbs=$(find "$work/container-thumbs" -type f | wc -l)
  check "-t: a thumbnail for each photo that has one, a message for each that has none" \
    test "$thumbs" -gt 0 -a "$((thumbs + $(grep -c ': no thumbnail$' "$work/err")))" = "$photos"
  check "-t: an AVIF's thumbnail is a JPEG" test "$(head -c 2 "$work/container-thumbs/mde-avif_Issue_649.avif.thumb.jpg" | od -An -tx1 | tr -d ' ')" = ffd8
  "$tool" "$containers/mde-heic_IMG_1034.heic" >"$work/heic.txt"
  check "the report of a HEIC" grep -q '^Camera Make: Apple$' "$work/heic.txt"
  "$tool" --csv "$containers/mde-png_Issue_280_(dotnet).png" >"$work/png.csv"
  check "CSV: the container after the path" grep -q '^"\?[^,]*Issue_280_(dotnet).png"\?,png,' "$work/png.csv"
fi

# A Make that clears the screen and a Model that sets the window's title: on a terminal their
# control characters print as '.', redirected and through -o the bytes stay.
perl -pe 's/Tolvane Optics/\e[2J\e[31mTolv./; s/TX-100 Travel Zoom/\e]0;pwned\aTX-100xx/' "$sample" >"$work/escapes.jpg"
script -qec "'$tool' '$work/escapes.jpg'" /dev/null >"$work/tty" 2>&1
check "a terminal sees no control character of a text" test "$(tr -d '\r\n' <"$work/tty" | tr -cd '\000-\037\177' | wc -c)" = 0
check "a terminal sees them as dots" grep -q '^Camera Make: \.\[2J\.\[31mTolv\.' "$work/tty"
check "a terminal sees the title's text as text" grep -q '^CameraModel: \.\]0;pwned\.TX-100xx' "$work/tty"
"$tool" "$work/escapes.jpg" >"$work/piped"
check "redirected output keeps the bytes" grep -q $'^Camera Make: \e\\[2J\e\\[31mTolv' "$work/piped"
"$tool" -o "$work/escapes.txt" "$work/escapes.jpg" >/dev/null
check "-o keeps the bytes" grep -q $'^CameraModel: \e\\]0;pwned\aTX-100xx\r$' "$work/escapes.txt"

# The status line: on a terminal's standard error for a run over a second (a photo that takes
# 1.5 s to arrive), never in the output; -q turns it off.
script -qec "sh -c \"(sleep 1.5; cat '$sample') | '$tool' --json - >'$work/slow.json'\"" "$work/slow.tty" >/dev/null
check "a long run shows its status line on a terminal" grep -qE 'exifinfo: [01] files, [0-9]+ files/s, 0:0[1-9]' "$work/slow.tty"
check "the status line is cleared" grep -q $'\r\e\\[K' "$work/slow.tty"
check "and never in the JSON" test "$(grep -c 'files/s' "$work/slow.json")" = 0 -a "$(wc -l <"$work/slow.json")" = 1
script -qec "sh -c \"(sleep 1.5; cat '$sample') | '$tool' -q --json - >/dev/null\"" "$work/quiet.tty" >/dev/null
check "-q: no status line" test "$(grep -c 'files/s' "$work/quiet.tty")" = 0

echo "$passed passed, $failed failed"
test "$failed" = 0
