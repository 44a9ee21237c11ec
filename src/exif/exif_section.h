// SPDX-License-Identifier: MIT
// Shared between the directory walker and the tag table.
#pragma once

#include <cstdint>
#include <memory>
#include <new>

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

// The directory offsets whose walk began. Camera files have a handful of directories: they
// fit inline, and only a block that links more gets a bitmap of every offset (8 KiB).
class StartedDirectories {
 public:
  // Marks `offset` (at most kMaxTiffBlockBytes); false when it was marked already, or when
  // the bitmap cannot be allocated, so that the walk can only shrink, never loop.
  bool Mark(uint64_t offset) {
    if (bitmap_ == nullptr) {
      for (int i = 0; i < count_; ++i)
        if (inline_[i] == offset) return false;
      if (count_ < kInline) {
        inline_[count_++] = static_cast<uint32_t>(offset);
        return true;
      }
      bitmap_.reset(new (std::nothrow) uint64_t[kWords]());
      if (bitmap_ == nullptr) return false;
      for (int i = 0; i < count_; ++i) Set(inline_[i]);
    }
    const uint64_t bit = uint64_t{1} << (offset % 64);
    if ((bitmap_[offset / 64] & bit) != 0) return false;
    bitmap_[offset / 64] |= bit;
    return true;
  }

 private:
  static constexpr int kInline = 16;
  static constexpr size_t kWords = (kMaxTiffBlockBytes + 64) / 64;
  void Set(uint64_t offset) { bitmap_[offset / 64] |= uint64_t{1} << (offset % 64); }
  uint32_t inline_[kInline];
  int count_ = 0;
  std::unique_ptr<uint64_t[]> bitmap_;
};

// Bookkeeping of one EXIF section's walk. Each directory offset is walked at most once and the
// entries examined are bounded by the block's size, so no block takes more than linear time.
struct DirectoryWalk {
  StartedDirectories started;
  uint64_t entryBudget = 0;
};

}  // namespace exifinfo
