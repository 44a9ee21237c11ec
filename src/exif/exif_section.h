// Shared between the directory walker and the tag table.
#pragma once

#include <bitset>
#include <cstdint>

namespace exifinfo {

// One 12-byte directory entry, with its value located: inline in the entry when it needs at
// most 4 bytes, else at the offset the entry holds (checked to lie inside the block).
struct DirectoryEntry {
  uint16_t tag;
  uint16_t format;
  uint32_t count;
  uint64_t byteCount;    // count x bytes per component; 64 bits, so it cannot wrap
  uint64_t valueOffset;  // from the start of the TIFF block
};

// The thumbnail tags of one directory; recorded only when both stand there.
struct Thumbnail {
  uint32_t offset = 0;
  uint32_t length = 0;
};

constexpr uint64_t kMaxTiffBlockBytes = 65535 - 8;  // a 16-bit section length less the headers
constexpr int kMaxDirectoryDepth = 32;              // the first directory is depth 1

// Bookkeeping of one EXIF section's walk. Each directory offset is walked at most once and the
// entries examined are bounded by the block's size, so no block takes more than linear time.
struct DirectoryWalk {
  std::bitset<kMaxTiffBlockBytes + 1> started;  // offsets whose walk began (links reach at most len)
  uint64_t entryBudget = 0;
};

}  // namespace exifinfo
