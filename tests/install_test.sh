#!/usr/bin/env bash
# Installs the build into a temporary prefix and builds two programs from outside the tree
# against it, one with find_package and one with pkg-config, then runs both on the sample.
# Usage: install_test.sh BUILD_DIR SAMPLE_JPEG
set -euo pipefail
build=$1
sample=$2
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null
for f in lib/libTOLVANEEXIFINFO.so lib/libTOLVANEEXIFINFO.so.1 lib/libTOLVANEEXIFINFO.so.1.0.0.1 \
  include/tolvane_exif_info.h bin/exifinfo share/man/man1/exifinfo.1 \
  lib/libexifinfo.so lib/libexifinfo.so.1 lib/libexifinfo.so.1.0.0 include/exifinfo.h \
  lib/pkgconfig/exifinfo.pc share/man/man3/exifinfo.3; do
  [ -e "$prefix/$f" ] || { echo "not installed: $f"; exit 1; }
done
[ "$(readlink "$prefix/lib/libTOLVANEEXIFINFO.so.1")" = libTOLVANEEXIFINFO.so.1.0.0.1 ] || { echo "bad SONAME link"; exit 1; }

cmake -S "$here/consumers/cmake" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" \
  -DEXAMPLES_DIR="$here/../examples" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
with_cmake=$(LD_LIBRARY_PATH="$prefix/lib" "$work/cmake-build/consumer" "$sample")

flags=$(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --cflags --libs tolvane-exif-info)
# shellcheck disable=SC2086
cc -std=c99 -Wall -Werror "$here/consumers/consumer.c" $flags -o "$work/pkgconfig-consumer"
with_pkgconfig=$(LD_LIBRARY_PATH="$prefix/lib" "$work/pkgconfig-consumer" "$sample")

# The C API example, built against the installed files each way.
api_flags=$(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --cflags --libs exifinfo)
# shellcheck disable=SC2086
cc -std=c99 -Wall -Wextra -pedantic -Werror "$here/../examples/read_photo.c" $api_flags -o "$work/read_photo"
expected="$sample: Tolvane Optics TX-100 Travel Zoom, 160x120, ISO 200, 0.004 s, thumbnail"
for program in "$work/read_photo" "$work/cmake-build/read_photo"; do
  line=$(LD_LIBRARY_PATH="$prefix/lib" "$program" "$sample")
  case "$line" in "$expected "*" bytes, start_of_scan") ;; *) echo "$program printed '$line'"; exit 1 ;; esac
done
missing=$(LD_LIBRARY_PATH="$prefix/lib" "$work/read_photo" /nonexistent.jpg 2>&1 && echo "exit 0" || true)
[ "$missing" = "/nonexistent.jpg: No such file or directory" ] || { echo "example on a missing file: '$missing'"; exit 1; }
MANPATH="$prefix/share/man" man -w 3 exifinfo >/dev/null 2>&1 || [ -s "$prefix/share/man/man3/exifinfo.3" ] || { echo "no man page"; exit 1; }

"$prefix/bin/exifinfo" "$sample" | grep -q '^Camera Make: ' || { echo "installed tool failed"; exit 1; }
[ "$with_cmake" = "Tolvane Optics" ] || { echo "find_package consumer printed '$with_cmake'"; exit 1; }
[ "$with_pkgconfig" = "Tolvane Optics" ] || { echo "pkg-config consumer printed '$with_pkgconfig'"; exit 1; }
echo "installed; find_package and pkg-config consumers both read: $with_cmake"
