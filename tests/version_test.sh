#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The one version number set in CMakeLists.txt is the one every artefact carries.
# Usage: version_test.sh VERSION BUILD_DIR SOURCE_DIR
set -u
version=$1
build=$2
source=$3
failed=0
agree() {  # agree WHAT FOUND
  if [ "$2" = "$version" ]; then echo "  $1: $2"; else echo "FAILED: $1 says '$2', CMake says '$version'"; failed=1; fi
}
agree "exifinfo --version" "$("$build/exifinfo" --version | sed -n 's/^exifinfo (TolvaneEXIFInfo) //p')"
agree "libexifinfo file" "$(readlink "$build/libexifinfo.so.1" | sed 's/^libexifinfo\.so\.//')"
agree "libTOLVANEEXIFINFO file" "$(readlink "$build/libTOLVANEEXIFINFO.so.1" | sed 's/^libTOLVANEEXIFINFO\.so\.//')"
agree "exifinfo.pc" "$(sed -n 's/^Version: //p' "$build/exifinfo.pc")"
agree "tolvane-exif-info.pc" "$(sed -n 's/^Version: //p' "$build/tolvane-exif-info.pc")"
agree "CMake package version file" "$(sed -n 's/^set(PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/TolvaneExifInfoConfigVersion.cmake")"
agree "Python __version__" "$(EXIFINFO_LIBRARY="$build/libexifinfo.so.1" PYTHONPATH="$source/python" python3 -c \
  'import tolvane_exif_info as t; print(t.__version__)')"
agree "debian/changelog" "$(sed -n '1s/^tolvane-exif-info (\([^)]*\)).*/\1/p' "$source/debian/changelog")"
agree "exifinfo.1" "$(sed -n 's/^\.TH EXIFINFO 1 .*"TolvaneEXIFInfo \([^"]*\)".*/\1/p' "$source/tools/exifinfo.1")"
agree "exifinfo.3" "$(sed -n 's/^\.TH EXIFINFO 3 .*"libexifinfo \([^"]*\)".*/\1/p' "$source/man/exifinfo.3")"
agree "CHANGELOG.md, newest release" "$(sed -n 's/^## \([0-9][^ ]*\) - .*/\1/p' "$source/CHANGELOG.md" | head -n 1)"
exit $failed
