#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the build into a temporary prefix and builds two programs from outside the tree
# against it, one with find_package and one with pkg-config, then runs both on the sample.
# Usage: install_test.sh BUILD_DIR SAMPLE_JPEG VERSION RPATH (RPATH: ON when the installed tool
# carries the run path $ORIGIN/../lib, OFF when the build leaves it out, as Debian's does)
set -euo pipefail
build=$1
sample=$2
version=$3
rpath=$4
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null
# lib, or lib/<multiarch triplet> where the build was configured so (Debian's).
lib=$(dirname "$(find "$prefix" -name libexifinfo.so.1 | head -n 1)")
lib=${lib#"$prefix/"}
for f in $lib/libTOLVANEEXIFINFO.so $lib/libTOLVANEEXIFINFO.so.1 $lib/libTOLVANEEXIFINFO.so.$version \
  include/tolvane_exif_info.h bin/exifinfo share/man/man1/exifinfo.1 \
  $lib/libexifinfo.so $lib/libexifinfo.so.1 $lib/libexifinfo.so.$version include/exifinfo.h \
  $lib/pkgconfig/exifinfo.pc $lib/pkgconfig/tolvane-exif-info.pc share/man/man3/exifinfo.3; do
  [ -e "$prefix/$f" ] || { echo "not installed: $f"; exit 1; }
done
[ "$(readlink "$prefix/$lib/libTOLVANEEXIFINFO.so.1")" = "libTOLVANEEXIFINFO.so.$version" ] || { echo "bad SONAME link"; exit 1; }

cmake -S "$here/consumers/cmake" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" \
  -DEXAMPLES_DIR="$here/../examples" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
with_cmake=$(LD_LIBRARY_PATH="$prefix/$lib" "$work/cmake-build/consumer" "$sample")

# The .pc files name the prefix installed to (given only now, with --prefix): pkg-config,
# pointed at the file itself, needs nothing else.
pc() { local name=$1; shift; pkg-config "$@" "$prefix/$lib/pkgconfig/$name.pc"; }
[ "$(pc exifinfo --variable=prefix)" = "$prefix" ] || { echo "exifinfo.pc names '$(pc exifinfo --variable=prefix)'"; exit 1; }
flags=$(pc tolvane-exif-info --cflags --libs)
# shellcheck disable=SC2086
cc -std=c99 -Wall -Werror "$here/consumers/consumer.c" $flags -o "$work/pkgconfig-consumer"
with_pkgconfig=$(LD_LIBRARY_PATH="$prefix/$lib" "$work/pkgconfig-consumer" "$sample")

# The C API example, built against the installed files each way; the README's recipe for a
# private prefix records the library's folder as the program's run path.
api_flags="$(pc exifinfo --cflags --libs) -Wl,-rpath,$(pc exifinfo --variable=libdir)"
# shellcheck disable=SC2086
cc -std=c99 -Wall -Wextra -pedantic -Werror "$here/../examples/read_photo.c" $api_flags -o "$work/read_photo"
# No environment: the example by its run path, the installed tool by its own ($ORIGIN/../lib).
line=$(env -i "$work/read_photo" "$sample")
case "$line" in "$sample: Tolvane Optics"*) ;; *) echo "example without environment printed '$line'"; exit 1 ;; esac
# Without the run path (a distribution's build) the loader is told where the library is.
case $rpath in
  ON | on | TRUE | true | 1) tool_env=() ;;
  *) tool_env=("LD_LIBRARY_PATH=$prefix/$lib") ;;
esac
env -i "${tool_env[@]}" "$prefix/bin/exifinfo" "$sample" | grep -q '^Camera Make: Tolvane Optics' ||
  { echo "installed tool without environment (rpath $rpath) failed"; exit 1; }
expected="$sample: Tolvane Optics TX-100 Travel Zoom, 160x120, ISO 200, 0.004 s, thumbnail"
for program in "$work/read_photo" "$work/cmake-build/read_photo"; do
  line=$(LD_LIBRARY_PATH="$prefix/$lib" "$program" "$sample")
  case "$line" in "$expected "*" bytes, start_of_scan") ;; *) echo "$program printed '$line'"; exit 1 ;; esac
done
missing=$(LD_LIBRARY_PATH="$prefix/$lib" "$work/read_photo" /nonexistent.jpg 2>&1 && echo "exit 0" || true)
[ "$missing" = "/nonexistent.jpg: No such file or directory" ] || { echo "example on a missing file: '$missing'"; exit 1; }
MANPATH="$prefix/share/man" man -w 3 exifinfo >/dev/null 2>&1 || [ -s "$prefix/share/man/man3/exifinfo.3" ] || { echo "no man page"; exit 1; }

LD_LIBRARY_PATH="$prefix/$lib" "$prefix/bin/exifinfo" "$sample" | grep -q '^Camera Make: ' || { echo "installed tool failed"; exit 1; }

# The Python module, installed where the interpreter looks under that prefix, finds the
# libraries through the loader.
module=$(find "$prefix" -path '*/tolvane_exif_info/__init__.py')
[ -n "$module" ] || { echo "Python package not installed"; exit 1; }
module=$(dirname "$module")
make=$(cd /tmp && env -u EXIFINFO_LIBRARY -u TOLVANE_EXIF_INFO_LIBRARY PYTHONPATH="$(dirname "$module")" \
  LD_LIBRARY_PATH="$prefix/$lib" python3 -c 'import sys, tolvane_exif_info as t; print(t.read(sys.argv[1]).Make, t.fields(sys.argv[1])["Width"])' "$sample")
[ "$make" = "Tolvane Optics 160" ] || { echo "installed Python module printed '$make'"; exit 1; }
[ "$with_cmake" = "Tolvane Optics" ] || { echo "find_package consumer printed '$with_cmake'"; exit 1; }
[ "$with_pkgconfig" = "Tolvane Optics" ] || { echo "pkg-config consumer printed '$with_pkgconfig'"; exit 1; }
echo "installed; find_package and pkg-config consumers both read: $with_cmake"
