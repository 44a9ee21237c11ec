// SPDX-License-Identifier: MIT
// One directory entry: what the directory walker hands the tag table.
#pragma once

#include <cstdint>

#include "exif/byte_order.h"

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

// How the entry at `at` decoded: whole, or with a format no TIFF has, or with a value that
// does not lie inside the block. The one decoder of a directory entry in a block: the report's
// walk abandons its directory on either fault, the GPS walk passes over the entry.
enum class EntryFault { kNone, kIllegalFormat, kIllegalValueOffset };
// `at` must lie inside a directory whose extent was checked. Inline: it runs for every entry.
inline EntryFault DecodeEntry(const TiffBlock& block, uint64_t at, DirectoryEntry& entry) {
  block.U16At(at, entry.tag);
  block.U16At(at + 2, entry.format);
  block.U32At(at + 4, entry.count);
  if (entry.format >= kFormatCodes) return EntryFault::kIllegalFormat;
  entry.byteCount = uint64_t{entry.count} * kComponentBytes[entry.format];
  entry.valueOffset = at + 8;
  if (entry.byteCount > kInlineValueBytes) {
    uint32_t valueOffset = 0;
    block.U32At(at + 8, valueOffset);
    if (!block.Has(valueOffset, entry.byteCount)) return EntryFault::kIllegalValueOffset;
    entry.valueOffset = valueOffset;
  }
  return EntryFault::kNone;
}

}  // namespace exifinfo
