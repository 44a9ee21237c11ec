// SPDX-License-Identifier: MIT
// The EXIF header and the walk of the TIFF directories behind it.
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "exif/byte_order.h"
#include "exif/exif_section.h"
#include "exif/errors.h"
#include "exif/exif_reader.h"

namespace exifinfo {
namespace {

constexpr uint8_t kExifHeader[] = {'E', 'x', 'i', 'f', 0, 0};
static_assert(sizeof kExifHeader == kExifHeaderBytes, "the EXIF header is named once");
// "Exif" 0 0, then the TIFF header: byte order, 42, first-directory offset.
constexpr size_t kHeaderBytes = kExifHeaderBytes + 8;
constexpr int32_t kMinFirstDirectory = 8;
constexpr int32_t kMaxFirstDirectory = 16;
constexpr uint64_t kFirstDirectory = 8;  // where the walk starts, whatever the offset says

enum DimensionTag : uint16_t {
  kTagPixelXDimension = 0xA002,
  kTagPixelYDimension = 0xA003,
};

}  // namespace

// The walker's own bookkeeping (declared ahead in exif_reader.h).
// The thumbnail tags of one directory; recorded only when both stand there.
struct Thumbnail {
  uint32_t offset = 0;
  uint32_t length = 0;
};

// A 16-bit section length less the length bytes and the EXIF header.
constexpr uint64_t kMaxTiffBlockBytes = 65535 - kSectionLengthBytes - kExifHeaderBytes;
constexpr int kMaxDirectoryDepth = 32;  // the first directory is depth 1

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
  // IFD0's GPS link, walked once the main walk is over so that nothing it holds (a loop, an
  // overlap, a directory the main walk also reaches) can change what the main walk reads.
  bool hasGps = false;
  uint32_t gpsOffset = 0;
};

bool ExifReader::ParseExifSection(MutableByteView contents) {
  Info->FlashUsed = 0;
  Info->Comments[0] = '\0';
  LargestDimension = 0;
  DirectoriesWalked = 0;
  // Too short for the headers, or longer than any section can be.
  if (contents.size < kHeaderBytes || contents.size - kExifHeaderBytes > kMaxTiffBlockBytes)
    return Fail(errors::kIncorrectHeader);
  if (std::memcmp(contents.At(0), kExifHeader, sizeof kExifHeader) != 0)
    return Fail(errors::kIncorrectHeader);
  if (std::memcmp(contents.At(kExifHeaderBytes), "II", 2) == 0) {
    BigEndian = 0;
  } else if (std::memcmp(contents.At(kExifHeaderBytes), "MM", 2) == 0) {
    BigEndian = 1;
  } else {
    return Fail(errors::kInvalidAlignment);
  }
  TiffBlock block(contents.Slice(kExifHeaderBytes, contents.size - kExifHeaderBytes), BigEndian != 0);
  uint16_t magic = 0;
  block.U16At(2, magic);
  if (magic != kTiffMagic) return Fail(errors::kInvalidStart);
  const int32_t firstOffset = ReadS32(block.view().At(4), block.bigEndian());
  if (firstOffset < kMinFirstDirectory || firstOffset > kMaxFirstDirectory)
    return Fail(errors::kSuspiciousOffset);

  DirectoryWalk walk;
  walk.entryBudget = block.size();
  const bool walked = WalkDirectory(block, kFirstDirectory, 1, DirectoryKind::kIfd0, walk);
  if (walk.hasGps && WantExtras) WalkGpsDirectory(block, walk.gpsOffset);
  if (!walked) return false;

  if (Info->FocalplaneXRes != 0.0f) {
    // Single precision, the quotient first; infinity times 0 stores 0.
    const float inchesPerPixel = Info->FocalplaneUnits / Info->FocalplaneXRes;
    const float width = inchesPerPixel * static_cast<float>(LargestDimension);
    Info->CCDWidth = std::isnan(width) ? 0.0f : width;
  }
  return true;
}

// A failure here abandons this directory only; the directory that linked to it goes on.
bool ExifReader::WalkDirectory(TiffBlock& block, uint64_t offset, int depth, DirectoryKind kind,
                               DirectoryWalk& walk) {
  if (depth > kMaxDirectoryDepth || offset > kMaxTiffBlockBytes || !walk.started.Mark(offset))
    return Fail(errors::kDirectoryRevisited);
  ++DirectoriesWalked;

  uint16_t entryCount = 0;
  if (!block.U16At(offset, entryCount) || !block.Has(offset, 2 + kEntryBytes * entryCount))
    return Fail(errors::kIllegalDirectorySize);
  // Directories laid side by side never need more than one entry per 12 bytes of the block;
  // only overlapping ones, which no camera writes, can exhaust this.
  if (walk.entryBudget < 1u + entryCount) return Fail(errors::kTooManyEntries);
  walk.entryBudget -= 1u + entryCount;

  Thumbnail thumbnail;
  for (uint64_t i = 0; i < entryCount; ++i) {
    DirectoryEntry entry{};  // inside: the directory's extent was checked above
    const EntryFault fault = DecodeEntry(block, offset + 2 + kEntryBytes * i, entry);
    if (fault == EntryFault::kIllegalFormat) return Fail(errors::kIllegalFormat);
    if (fault == EntryFault::kIllegalValueOffset) return Fail(errors::kIllegalValueOffset);
    InterpretTag(entry, block);
    if (WantExtras && kind != DirectoryKind::kOther) InterpretExtraTag(entry, block);
    if (!ActOnStructuralTag(entry, block, depth, kind, walk, thumbnail)) return false;
  }

  // A link whose bytes run past the block's end reads as "no next directory".
  uint32_t next = 0;
  block.U32At(offset + 2 + kEntryBytes * entryCount, next);
  if (next != 0) {
    if (next > block.size()) return Fail(errors::kIllegalLink);
    WalkDirectory(block, next, depth + 1, DirectoryKind::kOther, walk);  // a linked walk's failure is its own
  }

  // Both tags must stand in this directory, and the thumbnail must lie inside the block.
  if (thumbnail.length != 0 && thumbnail.offset != 0 && block.Has(thumbnail.offset, thumbnail.length)) {
    Info->ThumbnailStart = block.view().Slice(thumbnail.offset, thumbnail.length).data;
    Info->ThumbnailLength = thumbnail.length;
    ThumbnailOffset = thumbnail.offset;
  }
  return true;
}

// False when the entry abandons its directory.
bool ExifReader::ActOnStructuralTag(const DirectoryEntry& entry, TiffBlock& block, int depth, DirectoryKind kind,
                                    DirectoryWalk& walk, Thumbnail& thumbnail) {
  switch (entry.tag) {
    case kTagThumbnailOffset:
      thumbnail.offset = ToUnsigned(ConvertValue(block, entry.valueOffset, entry.format));
      return true;
    case kTagThumbnailLength:
      thumbnail.length = ToUnsigned(ConvertValue(block, entry.valueOffset, entry.format));
      return true;
    case kTagPixelXDimension:
    case kTagPixelYDimension: {
      const int32_t dimension = ToInt(ConvertValue(block, entry.valueOffset, entry.format));
      if (dimension > LargestDimension) LargestDimension = dimension;
      return true;
    }
    case kTagExifDirectory:
    case kTagInteropDirectory: {
      // The link is the value's first four bytes whatever the format; the value always has
      // four bytes inside the block (inline, or more than four at a checked offset).
      uint32_t link = 0;
      block.U32At(entry.valueOffset, link);
      // A link equal to the size is accepted, and then fails there.
      if (link > block.size()) return Fail(errors::kIllegalLink);
      const DirectoryKind linked = entry.tag == kTagExifDirectory && kind == DirectoryKind::kIfd0
                                       ? DirectoryKind::kExif : DirectoryKind::kOther;
      WalkDirectory(block, link, depth + 1, linked, walk);  // a linked walk's failure is its own
      return true;
    }
    case kTagGpsDirectory:
      // Only IFD0's link counts; it never stops this walk, whatever it holds.
      if (kind == DirectoryKind::kIfd0 && !walk.hasGps && block.U32At(entry.valueOffset, walk.gpsOffset))
        walk.hasGps = true;
      return true;
    default:
      return true;
  }
}

}  // namespace exifinfo
