#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The shared library exports EXIFInfo and nothing else, under its SONAME.
# Usage: exports_test.sh LIBRARY
set -eu
lib=$1
syms=$(nm -D --defined-only "$lib" | awk '$2 ~ /[TtWwDdBbRrVvIi]/ {print $3}')
if [ "$syms" != "EXIFInfo" ]; then
  echo "exports: $syms (expected EXIFInfo alone)"
  exit 1
fi
nm -D --defined-only "$lib" | grep -q ' T EXIFInfo$' || { echo "EXIFInfo is not a text symbol"; exit 1; }
soname=$(readelf -d "$lib" | sed -n 's/.*Library soname: \[\(.*\)\]/\1/p')
[ "$soname" = "libTOLVANEEXIFINFO.so.1" ] || { echo "SONAME is '$soname'"; exit 1; }
# It reads JPEGs for the report alone: no container's zlib, no XMP's expat.
needed=$(readelf -d "$lib" | sed -n 's/.*Shared library: \[\(.*\)\]/\1/p' | tr '\n' ' ')
case "$needed" in *libz.*|*libexpat.*) echo "needs $needed"; exit 1 ;; esac
echo "exports: EXIFInfo alone; SONAME $soname; needs $needed"
