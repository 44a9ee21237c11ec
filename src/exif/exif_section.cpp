// SPDX-License-Identifier: MIT
// The EXIF header and the one walk of TIFF directories, wherever their block lies; the walk's
// policy (walk_policy.h) says what it does where readers of the format differ.
#include <cstring>
#include <memory>
#include <new>

#include "exif/byte_order.h"
#include "exif/errors.h"
#include "exif/exif_reader.h"
#include "exif/exif_section.h"
#include "exif/tags.h"

namespace exifinfo {
namespace {

constexpr uint8_t kExifHeader[] = {'E', 'x', 'i', 'f', 0, 0};
static_assert(sizeof kExifHeader == kExifHeaderBytes, "the EXIF header is named once");
// "Exif" 0 0, then the TIFF header: byte order, 42, first-directory offset.
constexpr size_t kHeaderBytes = kExifHeaderBytes + 8;
constexpr int32_t kMinFirstDirectory = 8;
constexpr int32_t kMaxFirstDirectory = 16;
constexpr uint64_t kFirstDirectory = 8;  // where the report's JPEG walk starts
constexpr uint64_t kLeastDirectoryOffset = 8;  // a directory cannot overlap its block's header

// The tags ActOnStructuralTag acts on: most entries are none of them, and pass it by.
bool IsStructural(uint16_t tag) {
  switch (tag) {
    case kTagThumbnailOffset:
    case kTagThumbnailLength:
    case kTagPixelXDimension:
    case kTagPixelYDimension:
    case kTagExifDirectory:
    case kTagInteropDirectory:
    case kTagGpsDirectory: return true;
    default: return false;
  }
}

bool IsColourPhotometric(uint64_t p) {
  return p == 2 || p == 3 || p == 5 || p == 6 || p == 8 || p == 9 || p == 10 || p == 32803 || p == 34892;
}

// The first component of a BYTE, SHORT or LONG value: how a whole file's walk reads offsets,
// lengths and the frame (a value of another format is none of these).
bool FirstInteger(const DirectoryEntry& entry, const TiffBlock& block, uint64_t& value) {
  const size_t bytes = entry.format == kFormatByte ? 1 : entry.format == kFormatShort ? 2 : entry.format == kFormatLong ? 4 : 0;
  const uint8_t* p = bytes == 0 ? nullptr : block.At(entry.valueOffset, bytes);
  if (p == nullptr) return false;
  value = bytes == 1 ? p[0] : bytes == 2 ? ReadU16(p, block.bigEndian()) : ReadU32(p, block.bigEndian());
  return true;
}

}  // namespace

EntryFault DecodeWideEntry(const TiffBlock& block, const uint8_t* p, uint64_t at, bool tiffFormats,
                           DirectoryEntry& entry) {
  const bool big = block.bigEndian(), wide = block.bigTiff();
  const uint64_t count = wide ? ReadU64(p + 4, big) : ReadU32(p + 4, big);
  const uint64_t valueAt = at + (wide ? 12 : 8);
  uint64_t component = entry.format < kFormatCodes ? kComponentBytes[entry.format] : 0;
  if (tiffFormats && entry.format == kFormatIfd) {
    entry.format = kFormatLong;  // a LONG by another name
    component = 4;
  } else if (tiffFormats && wide && entry.format >= kFormatLong8 && entry.format <= kFormatLong8 + 2) {
    // One 8-byte integer that fits 32 bits reads as the LONG of its low half.
    if (count != 1 || ReadU64(p + 12, big) > UINT32_MAX) return EntryFault::kIllegalFormat;
    entry.format = kFormatLong;
    entry.count = 1;
    entry.byteCount = 4;
    entry.valueOffset = valueAt + (big ? 4 : 0);
    return EntryFault::kNone;  // inline: inside the directory read
  }
  if (component == 0 || count > UINT32_MAX) return EntryFault::kIllegalFormat;
  entry.count = static_cast<uint32_t>(count);
  entry.byteCount = count * component;
  if (tiffFormats && entry.byteCount > kMaxNumbersBytes && !IsBytesFormat(entry.format)) return EntryFault::kIllegalFormat;
  entry.valueOffset = valueAt;
  if (entry.byteCount > (wide ? 8u : 4u)) {
    const uint64_t valueOffset = wide ? ReadU64(p + 12, big) : ReadU32(p + 8, big);
    if (!block.Has(valueOffset, tiffFormats ? CheckedBytes(entry) : entry.byteCount)) return EntryFault::kIllegalValueOffset;
    entry.valueOffset = valueOffset;
  }
  if (block.inPlace() && !block.Reaches(entry.valueOffset, CheckedBytes(entry))) return EntryFault::kIllegalValueOffset;
  return EntryFault::kNone;
}

// The walker's own bookkeeping (declared ahead in exif_reader.h).
// The thumbnail tags of one directory; recorded only when both stand there.
struct Thumbnail {
  uint64_t offset = 0;
  uint64_t length = 0;
};

// A 16-bit section length less the length bytes and the EXIF header.
constexpr uint64_t kMaxTiffBlockBytes = 65535 - kSectionLengthBytes - kExifHeaderBytes;
constexpr int kMaxDirectoryDepth = 32;  // the first directory is depth 1

// The directories whose walk began, by their place in the input (the blocks of one read may
// lie apart). Camera files have a handful: they fit inline, and only a JPEG block that links
// more gets a bitmap of every offset it can hold (8 KiB).
class StartedDirectories {
 public:
  // Marks `place`; false when it was marked already, or when no more can be marked, so that
  // the walk can only shrink, never loop.
  bool Mark(uint64_t place) {
    if (bitmap_ == nullptr) {
      for (int i = 0; i < count_; ++i)
        if (inline_[i] == place) return false;
      if (count_ < kInline) {
        inline_[count_++] = place;
        return true;
      }
      if (place > kMaxTiffBlockBytes) return false;
      bitmap_.reset(new (std::nothrow) uint64_t[kWords]());
      if (bitmap_ == nullptr) return false;
      for (int i = 0; i < count_; ++i) Set(inline_[i]);
    }
    if (place > kMaxTiffBlockBytes) return false;
    const uint64_t bit = uint64_t{1} << (place % 64);
    if ((bitmap_[place / 64] & bit) != 0) return false;
    bitmap_[place / 64] |= bit;
    return true;
  }

 private:
  static constexpr int kInline = 32;
  static constexpr size_t kWords = (kMaxTiffBlockBytes + 64) / 64;
  void Set(uint64_t place) {
    if (place <= kMaxTiffBlockBytes) bitmap_[place / 64] |= uint64_t{1} << (place % 64);
  }
  uint64_t inline_[kInline];
  int count_ = 0;
  std::unique_ptr<uint64_t[]> bitmap_;
};

// Bookkeeping of one walk. Each directory is walked at most once and the entries examined are
// bounded by the policy (by default by the block's size), so no walk takes more than linear time.
struct DirectoryWalk {
  explicit DirectoryWalk(const WalkPolicy& p) : policy(p) {}
  const WalkPolicy& policy;
  StartedDirectories started;
  uint64_t entryBudget = 0;
  uint32_t directories = 0;
  // IFD0's GPS link, walked once the main walk is over so that nothing it holds (a loop, an
  // overlap, a directory the main walk also reaches) can change what the main walk reads.
  bool hasGps = false;
  uint64_t gpsOffset = 0;
  const TiffBlock* gpsBlock = nullptr;
  // Directories a container keeps in blocks of their own, in place of IFD0's links.
  TiffGraft exif, gps;
  bool thumbnailTaken = false;
  bool damaged = false;
  uint64_t photometric = 0, samples = 0;
  // IFD0's SubIFDs (a raw file's full-resolution image among them): where their offsets lie.
  uint64_t subIfdsAt = 0, subIfdCount = 0, subIfdBytes = 0;
  // Panasonic's sensor borders, top, left, bottom and right; 0 when absent.
  uint64_t borders[4] = {0, 0, 0, 0};
  TiffWalkResult* result = nullptr;
};

namespace {

constexpr uint64_t kMaxSubIfds = 8;  // raw files have two or three: the image, a preview or two
constexpr int32_t kMaxPixels = 1 << 17;  // a side longer than any sensor's: a damaged value, not a size

// The width and height a directory gives (0 where it does not), by the entries' first integers.
void DirectoryFrame(const TiffBlock& block, uint64_t offset, uint32_t maxEntries, uint64_t& width, uint64_t& height) {
  width = height = 0;
  const DirectoryLayout& layout = LayoutOf(block);
  const uint8_t* head = block.At(offset, layout.countBytes);
  if (head == nullptr) return;
  const uint64_t entryCount = block.bigTiff() ? ReadU64(head, block.bigEndian()) : ReadU16(head, block.bigEndian());
  if (entryCount > maxEntries || block.At(offset, layout.countBytes + layout.entryBytes * entryCount) == nullptr) return;
  for (uint64_t i = 0; i < entryCount; ++i) {
    DirectoryEntry entry{};
    if (DecodeEntry(block, offset + layout.countBytes + layout.entryBytes * i, entry, true) != EntryFault::kNone ||
        entry.count == 0)
      continue;
    if (entry.tag == kTagImageWidth) FirstInteger(entry, block, width);
    if (entry.tag == kTagImageLength) FirstInteger(entry, block, height);
  }
}

}  // namespace

void ExifReader::BeginWalk() {
  Info->FlashUsed = 0;
  Info->Comments[0] = '\0';
  LargestDimension = 0;
  DirectoriesWalked = 0;
}

bool ExifReader::ParseExifSection(MutableByteView contents) {
  BeginWalk();
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
  const TiffBlock block(contents.Slice(kExifHeaderBytes, contents.size - kExifHeaderBytes), BigEndian != 0);
  uint16_t magic = 0;
  block.U16At(2, magic);
  const int32_t firstOffset = ReadS32(block.At(4, 4), block.bigEndian());
  static_assert(kReportWalk.firstDirectoryAtEight, "a JPEG's walk starts at offset 8");
  const uint32_t faults = Faults;
  bool walked = false;
  if (magic != kTiffMagic) {
    Fail(errors::kInvalidStart);
  } else if (firstOffset < kMinFirstDirectory || firstOffset > kMaxFirstDirectory) {
    Fail(errors::kSuspiciousOffset);
  } else {
    DirectoryWalk walk(kReportWalk);
    walk.entryBudget = block.size();
    walked = Walk(block, kFirstDirectory, walk);
  }
  // The report's walk gives up at the first fault; the record reads past it where it can.
  if (Faults != faults && WantExtras) WalkForRecord(block, static_cast<uint32_t>(firstOffset), true);
  return walked;
}

// A walk under the record's policy, for the values beyond the report only: everything the
// report's walk set is put back as it was, so the report cannot tell it happened. `fresh`: the
// values read before are dropped (the same block read again), else kept where it has none.
void ExifReader::WalkForRecord(const TiffBlock& block, uint64_t first, bool fresh) {
  if (first < kLeastDirectoryOffset || first >= block.size()) return;
  const ImageInfo report = *Info;
  char lastError[kLastErrorBytes];
  std::memcpy(lastError, LastError, sizeof lastError);
  const int largest = LargestDimension;
  const uint32_t directories = DirectoriesWalked, thumbnailOffset = ThumbnailOffset;
  if (fresh) {
    const ByteView comment = Extras.texts[kComment];
    Extras = ExtraValues();
    Extras.texts[kComment] = comment;
  }
  DirectoryWalk walk(kRecordWalk);
  walk.entryBudget = block.size();
  Walk(block, first, walk);
  *Info = report;
  std::memcpy(LastError, lastError, sizeof lastError);
  LargestDimension = largest;
  DirectoriesWalked = directories;
  ThumbnailOffset = thumbnailOffset;
}

TiffWalkResult ExifReader::WalkTiff(const TiffBlock& block, uint64_t first, TiffGraft exif, TiffGraft gps,
                                    bool wholeFile) {
  BeginWalk();
  BigEndian = block.bigEndian() ? 1 : 0;
  TiffWalkResult result;
  DirectoryWalk walk(kContainerWalk);
  walk.entryBudget = kContainerWalk.entryBudget;
  walk.exif = exif;
  walk.gps = gps;
  walk.result = &result;
  result.ifd0Read = first >= kLeastDirectoryOffset && Walk(block, first, walk);
  Info->HasExif = result.ifd0Read;
  if (result.ifd0Read && wholeFile && WantExtras) NoteMainImage(block, walk);
  result.damaged = walk.damaged;
  if (result.ifd0Read) result.isColor = walk.samples >= 3 || IsColourPhotometric(walk.photometric) ? 1 : 0;
  return result;
}

bool ExifReader::Walk(const TiffBlock& block, uint64_t first, DirectoryWalk& walk) {
  const bool walked = WalkDirectory(block, first, 1, DirectoryKind::kIfd0, walk);
  if (walk.hasGps && WantExtras) WalkGpsDirectory(*walk.gpsBlock, walk.gpsOffset, walk.policy.tiffFormats);
  if (!walked) return false;
  Extras.ints[kExifRead] = 1;
  DeriveReportValues();
  return true;
}

// A failure here abandons this directory only; the directory that linked to it goes on.
bool ExifReader::WalkDirectory(const TiffBlock& block, uint64_t offset, int depth, DirectoryKind kind,
                               DirectoryWalk& walk) {
  const WalkPolicy& policy = walk.policy;
  if (policy.maxDirectories != 0 && walk.directories == policy.maxDirectories) return false;
  if (depth > kMaxDirectoryDepth || !walk.started.Mark(block.base() + offset)) return Fail(errors::kDirectoryRevisited);
  ++walk.directories;
  ++DirectoriesWalked;

  const DirectoryLayout& layout = LayoutOf(block);
  const uint8_t* head = block.At(offset, layout.countBytes);
  if (head == nullptr) return Fail(errors::kIllegalDirectorySize);
  const uint64_t entryCount = block.bigTiff() ? ReadU64(head, block.bigEndian()) : ReadU16(head, block.bigEndian());
  if (policy.maxEntries != 0 && entryCount > policy.maxEntries) {
    walk.damaged = true;
    return Fail(errors::kTooManyEntries);
  }
  const uint64_t entriesAt = offset + layout.countBytes;
  if (entryCount > UINT32_MAX || block.At(offset, layout.countBytes + layout.entryBytes * entryCount) == nullptr)
    return Fail(errors::kIllegalDirectorySize);
  // Directories laid side by side never need more than one entry per 12 bytes of the block;
  // only overlapping ones, which no camera writes, can exhaust this.
  if (walk.entryBudget < 1u + entryCount) {
    walk.damaged = !policy.abandonOnFault;
    return Fail(errors::kTooManyEntries);
  }
  walk.entryBudget -= 1u + entryCount;

  Thumbnail thumbnail;
  const bool grafted = kind == DirectoryKind::kIfd0 && (walk.exif.block != nullptr || walk.gps.block != nullptr);
  for (uint64_t i = 0; i < entryCount; ++i) {
    DirectoryEntry entry{};  // inside: the directory's extent was checked above
    const EntryFault fault = DecodeEntry(block, entriesAt + layout.entryBytes * i, entry, policy.tiffFormats);
    if (fault != EntryFault::kNone) {
      if (!policy.abandonOnFault) continue;
      return Fail(fault == EntryFault::kIllegalFormat ? errors::kIllegalFormat : errors::kIllegalValueOffset);
    }
    if (grafted && ((entry.tag == kTagExifDirectory && walk.exif.block != nullptr) ||
                    (entry.tag == kTagGpsDirectory && walk.gps.block != nullptr)))
      continue;  // the container's own block stands in for this link
    InterpretTag(entry, block);
    if (WantExtras && kind != DirectoryKind::kOther && !ValueInStructure(entry, layout, offset, entryCount))
      InterpretExtraTag(entry, block);
    if (policy.readsFrame && kind == DirectoryKind::kIfd0) NoteFrame(entry, block, walk);
    if (IsStructural(entry.tag) && !ActOnStructuralTag(entry, block, depth, kind, walk, thumbnail)) return false;
  }
  if (grafted) WalkGrafts(depth, walk);

  // The first thumbnail in walk order is taken before the next directory is walked; the
  // report's outer directory wins over the ones it links, so its thumbnail is taken after.
  if (policy.firstThumbnailAfterIfd0) TakeThumbnail(block, thumbnail, kind, walk);
  // A link whose bytes run past the block's end reads as "no next directory".
  uint64_t next = 0;
  if (const uint8_t* link = block.At(entriesAt + layout.entryBytes * entryCount, layout.linkBytes))
    next = block.bigTiff() ? ReadU64(link, block.bigEndian()) : ReadU32(link, block.bigEndian());
  if (next != 0) {
    if (next > block.size() || (!policy.abandonOnFault && next < kLeastDirectoryOffset)) {
      if (policy.abandonOnFault) return Fail(errors::kIllegalLink);
    } else {
      WalkDirectory(block, next, depth + 1, DirectoryKind::kOther, walk);  // a linked walk's failure is its own
    }
  }
  if (!policy.firstThumbnailAfterIfd0) TakeThumbnail(block, thumbnail, kind, walk);
  return true;
}

// The directories a container keeps apart, walked where IFD0's own links would have been.
void ExifReader::WalkGrafts(int depth, DirectoryWalk& walk) {
  if (walk.exif.block != nullptr) WalkDirectory(*walk.exif.block, walk.exif.first, depth + 1, DirectoryKind::kExif, walk);
  if (walk.gps.block != nullptr && !walk.hasGps) {
    walk.hasGps = true;
    walk.gpsOffset = walk.gps.first;
    walk.gpsBlock = walk.gps.block;
  }
}

// Both tags must stand in the directory, and the thumbnail must lie inside the block.
void ExifReader::TakeThumbnail(const TiffBlock& block, const Thumbnail& thumbnail, DirectoryKind kind,
                               DirectoryWalk& walk) {
  if (thumbnail.length == 0 || thumbnail.offset == 0) return;
  const WalkPolicy& policy = walk.policy;
  if (policy.firstThumbnailAfterIfd0 && (kind == DirectoryKind::kIfd0 || walk.thumbnailTaken)) return;
  if (policy.maxThumbnailBytes != 0 && thumbnail.length > policy.maxThumbnailBytes) return;
  const uint8_t* bytes = block.At(thumbnail.offset, thumbnail.length);
  if (bytes == nullptr) return;
  Info->ThumbnailStart = bytes;
  Info->ThumbnailLength = static_cast<uint32_t>(thumbnail.length);
  ThumbnailOffset = static_cast<uint32_t>(thumbnail.offset);
  walk.thumbnailTaken = true;
}

// The main image is the largest among IFD0, its SubIFDs and the size the EXIF directory gives:
// a raw file's IFD0 is often a preview.
void ExifReader::NoteMainImage(const TiffBlock& block, const DirectoryWalk& walk) {
  uint64_t bestWidth = static_cast<uint64_t>(walk.result->width), bestHeight = static_cast<uint64_t>(walk.result->height);
  const uint64_t* b = walk.borders;
  if (b[3] > b[1] && b[2] > b[0] && (b[3] - b[1]) * (b[2] - b[0]) > bestWidth * bestHeight)
    bestWidth = b[3] - b[1], bestHeight = b[2] - b[0];
  for (uint64_t k = 0; k < walk.subIfdCount && k < kMaxSubIfds; ++k) {
    const uint8_t* p = block.At(walk.subIfdsAt + walk.subIfdBytes * k, walk.subIfdBytes);
    if (p == nullptr) break;
    const uint64_t offset = walk.subIfdBytes == 8 ? ReadU64(p, block.bigEndian()) : ReadU32(p, block.bigEndian());
    uint64_t width = 0, height = 0;
    if (offset >= kLeastDirectoryOffset) DirectoryFrame(block, offset, walk.policy.maxEntries, width, height);
    if (width * height > bestWidth * bestHeight) bestWidth = width, bestHeight = height;
  }
  // A raw file whose full image lies in no SubIFD (CR2 links it from IFD3, with a compression
  // of its own) says its size in the EXIF directory.
  const int32_t exifWidth = Extras.ints[kExifImageWidth], exifHeight = Extras.ints[kExifImageHeight];
  if (exifWidth > 0 && exifHeight > 0 && exifWidth <= kMaxPixels && exifHeight <= kMaxPixels &&
      static_cast<uint64_t>(exifWidth) * static_cast<uint64_t>(exifHeight) > bestWidth * bestHeight)
    bestWidth = static_cast<uint64_t>(exifWidth), bestHeight = static_cast<uint64_t>(exifHeight);
  if (bestWidth == 0 || bestHeight == 0 || bestWidth > INT32_MAX || bestHeight > INT32_MAX) return;
  Extras.ints[kImageWidth] = static_cast<int32_t>(bestWidth);
  Extras.ints[kImageHeight] = static_cast<int32_t>(bestHeight);
}

void ExifReader::NoteFrame(const DirectoryEntry& entry, const TiffBlock& block, DirectoryWalk& walk) {
  if (entry.tag == kTagJpgFromRaw && entry.byteCount > kInlineValueBytes) {
    walk.result->embeddedJpegOffset = block.base() + entry.valueOffset;
    walk.result->embeddedJpegLength = entry.byteCount;
    return;
  }
  if (entry.tag == kTagSubIfds && entry.count != 0 && (entry.byteCount / entry.count == 4 || entry.byteCount / entry.count == 8)) {
    walk.subIfdsAt = entry.valueOffset;
    walk.subIfdCount = entry.count;
    walk.subIfdBytes = entry.byteCount / entry.count;
    return;
  }
  uint64_t value = 0;
  if (entry.count == 0 || !FirstInteger(entry, block, value)) return;
  const int32_t number = value > INT32_MAX ? INT32_MAX : static_cast<int32_t>(value);
  switch (entry.tag) {
    case kTagImageWidth: walk.result->width = number; break;
    case kTagImageLength: walk.result->height = number; break;
    case kTagPhotometric: walk.photometric = value; break;
    case kTagSamplesPerPixel: walk.samples = value; break;
    case kTagSensorTopBorder:
    case kTagSensorTopBorder + 1:
    case kTagSensorTopBorder + 2:
    case kTagSensorRightBorder: walk.borders[entry.tag - kTagSensorTopBorder] = value; break;
    default: break;
  }
}

// False when the entry abandons its directory.
bool ExifReader::ActOnStructuralTag(const DirectoryEntry& entry, const TiffBlock& block, int depth, DirectoryKind kind,
                                    DirectoryWalk& walk, Thumbnail& thumbnail) {
  const WalkPolicy& policy = walk.policy;
  // An offset or length: the report reads any format's first component, a whole file's walk
  // only an integer's (and an unreadable one is no value).
  const auto number = [&](uint64_t& out) {
    if (policy.tiffFormats) return FirstInteger(entry, block, out);
    out = ToUnsigned(ConvertValue(block, entry.valueOffset, entry.format));
    return true;
  };
  // A link: the report takes the value's first four bytes whatever the format; the value
  // always has four bytes inside the block (inline, or more than four at a checked offset).
  const auto link = [&](uint64_t& out) {
    if (policy.tiffFormats) return FirstInteger(entry, block, out);
    uint32_t value = 0;
    const bool read = block.U32At(entry.valueOffset, value);
    out = value;
    return read;
  };
  switch (entry.tag) {
    case kTagThumbnailOffset:
      if (!number(thumbnail.offset)) thumbnail.offset = 0;
      return true;
    case kTagThumbnailLength:
      if (!number(thumbnail.length)) thumbnail.length = 0;
      // The record's ThumbnailLength is the tag as written (IFD0's is a TIFF's own image).
      if (WantExtras && kind != DirectoryKind::kIfd0 && Extras.ints[kThumbnailLength] == kAbsentInt &&
          thumbnail.length <= INT32_MAX)
        Extras.ints[kThumbnailLength] = static_cast<int32_t>(thumbnail.length);
      return true;
    case kTagPixelXDimension:
    case kTagPixelYDimension: {
      const int32_t dimension = ToInt(ConvertValue(block, entry.valueOffset, entry.format));
      if (dimension > LargestDimension) LargestDimension = dimension;
      return true;
    }
    case kTagExifDirectory:
    case kTagInteropDirectory: {
      uint64_t offset = 0;
      if (!link(offset) && policy.tiffFormats) return true;
      // A link equal to the size is accepted, and then fails there.
      if (offset > block.size() || (policy.tiffFormats && offset < kLeastDirectoryOffset))
        return policy.abandonOnFault ? Fail(errors::kIllegalLink) : true;
      const DirectoryKind linked = entry.tag == kTagExifDirectory && kind == DirectoryKind::kIfd0
                                       ? DirectoryKind::kExif : DirectoryKind::kOther;
      WalkDirectory(block, offset, depth + 1, linked, walk);  // a linked walk's failure is its own
      return true;
    }
    case kTagGpsDirectory: {
      // Only IFD0's link counts; it never stops this walk, whatever it holds.
      uint64_t offset = 0;
      if (kind == DirectoryKind::kIfd0 && !walk.hasGps && link(offset)) {
        walk.hasGps = true;
        walk.gpsOffset = offset;
        walk.gpsBlock = &block;
      }
      return true;
    }
    default:
      return true;
  }
}

}  // namespace exifinfo
