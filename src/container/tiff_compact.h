// SPDX-License-Identifier: MIT
// A TIFF structure anywhere in a file (a whole TIFF or raw file, or the EXIF block a container
// holds) made into the small block a JPEG's EXIF section carries, so that the one walker reads
// every container. Only the directories the walker follows (IFD0 and its chain, the EXIF,
// interoperability and GPS directories) and their values are read, page by page; strips, tiles
// and maker notes are never touched. BigTIFF and the raw variants' own magic numbers come out as
// classic TIFF in the file's byte order.
#pragma once

#include <cstddef>
#include <cstdint>

#include "io/range_reader.h"

namespace exifinfo {

// How a compaction went. A block is given whenever IFD0 could be read.
enum class TiffOutcome {
  kComplete,   // every directory and value the walker follows was read
  kTruncated,  // the input ended before something the structure points at
  kDamaged,    // no TIFF header, or a directory that cannot be one
  kReadError,  // a read failed (RangeReader::error())
  kOutOfMemory,
};

struct TiffFrame {
  int32_t width = 0;   // IFD0's ImageWidth (0x0100)
  int32_t height = 0;  // IFD0's ImageLength (0x0101)
  int32_t isColor = 0;  // 1 when IFD0 has three or more samples a pixel or a colour photometric
};

struct CompactTiff {
  uint8_t* section = nullptr;  // new[]'d: two length bytes, "Exif" 0 0, the rebuilt TIFF block
  size_t size = 0;
  TiffFrame frame;
  uint32_t thumbnailOffset = 0;  // the thumbnail's offset as the file gives it, when one was kept
  TiffOutcome outcome = TiffOutcome::kDamaged;
};

// One TIFF block of a container: its header's place and the bytes it may use from there
// (kUnknownSize: to the end of the input).
struct TiffPart {
  uint64_t base = 0;
  uint64_t limit = kUnknownSize;
  bool present = false;
};
constexpr int kTiffParts = 3;

// A block rebuilt from TIFF blocks that a container keeps apart: parts[0] gives IFD0 and all it
// links; parts[1] and parts[2], when present, give their first directory as the EXIF and the GPS
// directory (any link IFD0 has of that kind is replaced). A part in the other byte order is
// left out.
CompactTiff CompactTiffParts(RangeReader& reader, const TiffPart (&parts)[kTiffParts]);


}  // namespace exifinfo
