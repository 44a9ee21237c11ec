// SPDX-License-Identifier: MIT
// One directory entry: what the directory walker hands the tag table.
#pragma once

#include <cstdint>

#include "exif/byte_order.h"
#include "exif/tiff_block.h"

namespace exifinfo {

// Which directory a walk is in: the new values are read from IFD0 and the EXIF directory only.
enum class DirectoryKind { kIfd0, kExif, kOther };

// One directory entry, with its value located: inline in the entry when it fits there (4 bytes,
// 8 in BigTIFF), else at the offset the entry holds (checked to lie inside the block).
struct DirectoryEntry {
  uint16_t tag;
  uint16_t format;
  uint32_t count;
  uint64_t byteCount;    // count x bytes per component; 64 bits, so it cannot wrap
  uint64_t valueOffset;  // from the start of the TIFF block
};

// A directory's layout: classic TIFF's, or BigTIFF's wider counts, offsets and entries.
struct DirectoryLayout {
  uint64_t countBytes, entryBytes, linkBytes, inlineBytes;
};
constexpr DirectoryLayout kClassicLayout{2, kEntryBytes, 4, kInlineValueBytes};
constexpr DirectoryLayout kBigTiffLayout{8, 20, 8, 8};
inline const DirectoryLayout& LayoutOf(const TiffBlock& block) {
  return block.bigTiff() ? kBigTiffLayout : kClassicLayout;
}

// How the entry at `at` decoded: whole, or with a format the walk does not know, or with a
// value that does not lie inside the block. The one decoder of a directory entry: the walk's
// policy says what a fault does to the directory, the GPS walk passes over the entry.
// `tiffFormats`: TIFF's IFD format reads as LONG, and so does a BigTIFF 8-byte integer that
// fits 32 bits.
enum class EntryFault { kNone, kIllegalFormat, kIllegalValueOffset };
constexpr uint16_t kFormatIfd = 13;
// With TIFF's formats: a value of numbers larger than this is passed over. Every numeric tag a
// walk reads holds one to four numbers; thousands in one are damage (a fuzzed count), and
// reading their first one would take a number from wherever the offset points.
constexpr uint64_t kMaxNumbersBytes = 2048;
inline bool IsBytesFormat(uint16_t format) {
  return format == kFormatByte || format == kFormatAscii || format == kFormatSByte || format == kFormatUndefined;
}
constexpr uint16_t kFormatLong8 = 16;  // then SLONG8 (17) and IFD8 (18)

// A value kept away from its entry whose bytes lie in the block's header or in the table of
// its own directory (`directory`, holding `entryCount` entries): bytes that are structure, never
// a value a writer put there. Damage or a crafted file; the record passes such an entry over
// (the report's tag table keeps its own rules).
inline bool ValueInStructure(const DirectoryEntry& entry, const DirectoryLayout& layout, uint64_t directory,
                             uint64_t entryCount) {
  if (entry.byteCount <= layout.inlineBytes) return false;  // inline: inside its own entry
  const uint64_t headerBytes = layout.countBytes == 2 ? 8 : 16;
  const uint64_t tableEnd = directory + layout.countBytes + layout.entryBytes * entryCount + layout.linkBytes;
  return entry.valueOffset < headerBytes || (entry.valueOffset < tableEnd && entry.valueOffset + entry.byteCount > directory);
}

EntryFault DecodeWideEntry(const TiffBlock& block, const uint8_t* p, uint64_t at, bool tiffFormats, DirectoryEntry& entry);

// With TIFF's formats a value is there when its first 2 KiB are (all of a shorter one): a block
// read in place whose end is not known fetches those to check, so that it reads what the same
// block in memory reads and notes a cut input, and the rest of a longer value (a maker note, an
// XMP packet) is not fetched only to check it. A longer value is read as far as the block goes.
inline uint64_t CheckedBytes(const DirectoryEntry& entry) {
  return entry.byteCount < kMaxNumbersBytes ? entry.byteCount : kMaxNumbersBytes;
}

// `at` must lie inside a directory whose extent was checked. Inline: it runs for every entry.
inline EntryFault DecodeEntry(const TiffBlock& block, uint64_t at, DirectoryEntry& entry, bool tiffFormats = false) {
  const uint8_t* p = block.At(at, LayoutOf(block).entryBytes);
  if (p == nullptr) return EntryFault::kIllegalValueOffset;
  const bool big = block.bigEndian();
  entry.tag = ReadU16(p, big);
  entry.format = ReadU16(p + 2, big);
  if (block.bigTiff() || (tiffFormats && (entry.format >= kFormatCodes || entry.format == kFormatNone)))
    return DecodeWideEntry(block, p, at, tiffFormats, entry);
  entry.count = ReadU32(p + 4, big);
  if (entry.format >= kFormatCodes) return EntryFault::kIllegalFormat;
  entry.byteCount = uint64_t{entry.count} * kComponentBytes[entry.format];
  if (tiffFormats && entry.byteCount > kMaxNumbersBytes && !IsBytesFormat(entry.format)) return EntryFault::kIllegalFormat;
  entry.valueOffset = at + 8;
  if (entry.byteCount > kInlineValueBytes) {
    const uint32_t valueOffset = ReadU32(p + 8, big);
    if (!block.Has(valueOffset, tiffFormats ? CheckedBytes(entry) : entry.byteCount)) return EntryFault::kIllegalValueOffset;
    entry.valueOffset = valueOffset;
  }
  if (block.inPlace() && !block.Reaches(entry.valueOffset, CheckedBytes(entry))) return EntryFault::kIllegalValueOffset;
  return EntryFault::kNone;
}

}  // namespace exifinfo
