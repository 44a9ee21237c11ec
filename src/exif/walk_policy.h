// SPDX-License-Identifier: MIT
// The rules a walk of TIFF directories follows where readers of the format differ. The walk
// itself (exif_section.cpp) is one; what it does at each of these points is read from here.
// What the report makes of the values the walk meets (its fixed-size copies and derived values)
// is the tag table's (tag_table.cpp), the same under either policy.
#pragma once

#include <cstdint>

namespace exifinfo {

struct WalkPolicy {
  // Where the first directory may start. The report's JPEG walk starts at offset 8 whatever
  // the header says, once the header's offset lies in [8, 16]; other blocks start where their
  // header says.
  bool firstDirectoryAtEight;
  // A directory holding an entry of a format EXIF does not know, a value or link outside the
  // block, or a next link past it, is abandoned with its error (the report's rule); otherwise
  // that entry or link is passed over and the directory read on.
  bool abandonOnFault;
  // TIFF's own formats beyond EXIF's twelve: IFD (13) read as LONG, and BigTIFF's 8-byte
  // integers as LONG when they fit.
  bool tiffFormats;
  // Which thumbnail wins. The report's: any directory with both tags, the one linking others
  // over those it links. Whole files': the first directory after IFD0 in walk order (IFD0's
  // 0x0201 there is an old-style JPEG TIFF's own image), at most maxThumbnailBytes.
  bool firstThumbnailAfterIfd0;
  uint64_t maxThumbnailBytes;  // 0: only the block bounds it
  // The frame's width, height and colour from IFD0's own tags.
  bool readsFrame;
  // A directory claiming more entries than this is damage, not a directory (0: no bound).
  uint32_t maxEntries;
  // Entries a walk may examine, over all its directories (0: one per byte of the block).
  uint64_t entryBudget;
  // Directories a walk may start (0: no bound but the block's).
  uint32_t maxDirectories;
};

// A JPEG's EXIF section as the report has always read it.
constexpr WalkPolicy kReportWalk{true, true, false, false, 0, false, 0, 0, 0};

// A JPEG's EXIF section read again for the record where the report's walk stopped short: the
// first directory wherever the header points, and a fault passes over its entry or link.
constexpr WalkPolicy kRecordWalk{false, false, false, false, 0, false, 2048, 0, 32};

// A TIFF structure a container holds, or a TIFF or raw file itself.
constexpr WalkPolicy kContainerWalk{false, false, true, true, 60 * 1024, true, 2048, 65527 / 12, 32};

}  // namespace exifinfo
