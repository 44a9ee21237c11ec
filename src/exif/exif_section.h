// SPDX-License-Identifier: MIT
// One directory entry: what the directory walker hands the tag table.
#pragma once

#include <cstdint>

namespace exifinfo {

// Which directory a walk is in: the new values are read from IFD0 and the EXIF directory only.
enum class DirectoryKind { kIfd0, kExif, kOther };

// One 12-byte directory entry, with its value located: inline in the entry when it needs at
// most 4 bytes, else at the offset the entry holds (checked to lie inside the block).
struct DirectoryEntry {
  uint16_t tag;
  uint16_t format;
  uint32_t count;
  uint64_t byteCount;    // count x bytes per component; 64 bits, so it cannot wrap
  uint64_t valueOffset;  // from the start of the TIFF block
};

}  // namespace exifinfo
