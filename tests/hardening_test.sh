#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The library is built with control-flow protection (an exported function starts with endbr64)
# and stack-clash probes (its 16 KiB frame is touched a page at a time).
# Usage: hardening_test.sh LIBRARY
set -eu
code=$(objdump -d --no-show-raw-insn "$1" | awk '/<exifinfo_read_path>:$/ {on = 1; next} on && /^$/ {exit} on')
first=$(printf '%s\n' "$code" | head -n 1)
case "$first" in *endbr64*) ;; *) echo "exifinfo_read_path starts with '$first', not endbr64"; exit 1 ;; esac
printf '%s\n' "$code" | grep -Eq '(or|mov)q? +\$0x0,\(%rsp\)' || { echo "no stack probe in exifinfo_read_path"; exit 1; }
echo "hardening: endbr64 and stack probes in exifinfo_read_path"
