#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# libexifinfo exports its exifinfo_ names, each under a symbol version, and nothing else.
# Usage: api_exports_test.sh LIBRARY
set -eu
lib=$1
syms=$(nm -D --defined-only "$lib" | awk '$2 ~ /[TtWwDdBbRrVvIi]/ {print $3}')
odd=$(printf '%s\n' "$syms" | grep -v -E '^exifinfo_[a-z_]+@@EXIFINFO_1\.([0-6]|8)$' || true)
[ -z "$odd" ] || { echo "unexpected exports: $odd"; exit 1; }
count=$(printf '%s\n' "$syms" | grep -c . || true)
[ "$count" -ge 10 ] || { echo "only $count exports: $syms"; exit 1; }
soname=$(readelf -d "$lib" | sed -n 's/.*Library soname: \[\(.*\)\]/\1/p')
[ "$soname" = "libexifinfo.so.1" ] || { echo "SONAME is '$soname'"; exit 1; }
# A name added since is found under the version that added it.
printf '%s\n' "$syms" | grep -qx 'exifinfo_container_name@@EXIFINFO_1.1' || { echo "exifinfo_container_name not at EXIFINFO_1.1"; exit 1; }
for name in exifinfo_read_source exifinfo_read_ranges exifinfo_read_many; do
  printf '%s\n' "$syms" | grep -qx "$name@@EXIFINFO_1.2" || { echo "$name not at EXIFINFO_1.2"; exit 1; }
done
for name in exifinfo_read_source_within exifinfo_read_ranges_within; do
  printf '%s\n' "$syms" | grep -qx "$name@@EXIFINFO_1.3" || { echo "$name not at EXIFINFO_1.3"; exit 1; }
done
printf '%s\n' "$syms" | grep -qx "exifinfo_field_meaning@@EXIFINFO_1.4" || { echo "exifinfo_field_meaning not at EXIFINFO_1.4"; exit 1; }
for name in exifinfo_record_count exifinfo_record_key exifinfo_record_type exifinfo_record_offset exifinfo_record_meaning; do
  printf '%s\n' "$syms" | grep -qx "$name@@EXIFINFO_1.5" || { echo "$name not at EXIFINFO_1.5"; exit 1; }
done
for name in exifinfo_record_value exifinfo_failure_text exifinfo_record_json exifinfo_records_json exifinfo_free_text; do
  printf '%s\n' "$syms" | grep -qx "$name@@EXIFINFO_1.6" || { echo "$name not at EXIFINFO_1.6"; exit 1; }
done
printf '%s\n' "$syms" | grep -qx "exifinfo_apply_sidecar@@EXIFINFO_1.8" || { echo "exifinfo_apply_sidecar not at EXIFINFO_1.8"; exit 1; }
echo "exports: $count exifinfo_ names at EXIFINFO_1.0 to 1.8; SONAME $soname"
