// SPDX-License-Identifier: MIT
#include "container/tiff_compact.h"

#include <cstring>
#include <memory>
#include <new>

#include "exif/byte_order.h"

namespace exifinfo {
namespace {

constexpr size_t kMaxBlockBytes = 65535 - kSectionLengthBytes - kExifHeaderBytes;  // one APP1 section's
constexpr int kMaxDirectories = 32;
constexpr uint64_t kMaxEntries = 2048;  // a directory claiming more is no directory
constexpr size_t kMaxEntriesTotal = kMaxBlockBytes / 12;  // more could never fit the block
constexpr uint64_t kMaxKeptValueBytes = 2048;
constexpr uint64_t kMaxThumbnailBytes = 60 * 1024;
constexpr uint64_t kBigEntryBytes = 20;

enum Tag : uint16_t {
  kTagImageWidth = 0x0100,
  kTagImageLength = 0x0101,
  kTagPhotometric = 0x0106,
  kTagSamplesPerPixel = 0x0115,
};
enum TiffMagic : uint16_t {
  kClassic = kTiffMagic,
  kBig = 43,
  kOlympusRO = 0x4F52,  // ORF "IIRO" and "MMOR"
  kOlympusRS = 0x5352,  // ORF "IIRS"
  kPanasonic = 0x0055,  // RW2 "IIU\0"
};
constexpr uint16_t kFormatLong8 = 16;  // then SLONG8 (17) and IFD8 (18): BigTIFF's 8-byte integers
constexpr uint16_t kFormatIfd = 13;  // TIFF's IFD type: 32-bit offsets

bool IsLink(uint16_t tag) {
  return tag == kTagExifDirectory || tag == kTagGpsDirectory || tag == kTagInteropDirectory;
}
// Bytes a component, BigTIFF's 8-byte integers included; 0 for a format no walker knows.
uint64_t ComponentBytes(uint16_t format) {
  if (format < kFormatCodes) return kComponentBytes[format];
  if (format == kFormatIfd) return 4;
  return format >= kFormatLong8 && format <= kFormatLong8 + 2 ? 8 : 0;
}
bool IsBytes(uint16_t format) {
  return format == kFormatByte || format == kFormatAscii || format == kFormatSByte || format == kFormatUndefined;
}
bool IsColourPhotometric(uint64_t p) {
  return p == 2 || p == 3 || p == 5 || p == 6 || p == 8 || p == 9 || p == 10 || p == 32803 || p == 34892;
}

void PutU16(uint8_t* p, uint16_t v, bool big) {
  p[big ? 0 : 1] = static_cast<uint8_t>(v >> 8);
  p[big ? 1 : 0] = static_cast<uint8_t>(v);
}
void PutU32(uint8_t* p, uint32_t v, bool big) {
  for (int i = 0; i < 4; ++i) p[big ? 3 - i : i] = static_cast<uint8_t>(v >> (8 * i));
}

// One directory entry as the file gives it, and what the rebuilt block does with it.
struct Entry {
  uint8_t part;           // the TIFF block it was read from
  uint8_t graftPart;      // for an added link: the part whose first directory it names, else 0
  uint16_t tag;
  uint16_t format;
  uint32_t count;         // as written into the block (a kept prefix of bytes may shorten it)
  uint64_t byteCount;     // of the value as written into the block
  uint64_t valueOffset;   // in the file, from the TIFF header, when the value is not inline
  uint8_t inlineBytes[8];  // the entry's value field as the file gives it
  bool isInline;          // the value is in inlineBytes (4 bytes classic, 8 BigTIFF)
  bool kept;
  int linkTo;             // links: the directory's index, -1 when it is not in the block
  uint32_t newValueOffset;
};

struct Directory {
  int part;
  uint64_t offset;
  size_t firstEntry;
  size_t entryCount;
  uint64_t nextOffset;  // as the file gives it; 0 for none
  int next;             // the chained directory's index, -1 for none
  bool included;        // laid out in the block
  uint32_t newOffset;
};

class Compactor {
 public:
  Compactor(RangeReader& reader, const TiffPart (&parts)[kTiffParts]) : reader_(reader) {
    for (int k = 0; k < kTiffParts; ++k) parts_[k].place = parts[k];
  }
  CompactTiff Run();

 private:
  struct Part {
    TiffPart place;
    bool big = false;
    bool bigTiff = false;
    uint64_t firstDirectory = 0;
  };
  ByteView Get(int part, uint64_t offset, uint64_t count);
  bool ReadHeader(Part& part, int index);
  void Graft(int part, uint16_t tag);
  int AddDirectory(int part, uint64_t offset);
  bool ReadDirectory(Directory& directory);
  void ReadEntry(const Part& part, const uint8_t* p, Entry& entry);
  bool FirstNumber(const Entry& entry, uint64_t& value);
  void FollowLinks(int index);
  void ReadFrame(TiffFrame& frame);
  size_t Layout();
  void KeepThumbnail(size_t& size);
  bool Write(CompactTiff& out, size_t size);
  TiffOutcome Outcome() const;

  RangeReader& reader_;
  Part parts_[kTiffParts];
  bool big_ = false;  // the block's byte order: part 0's
  bool truncated_ = false;
  bool damaged_ = false;
  bool outsideBlock_ = false;
  Directory directories_[kMaxDirectories];
  int directoryCount_ = 0;
  std::unique_ptr<Entry[]> entries_;
  size_t entryCount_ = 0;
  // The one thumbnail kept: where the file has it and where the block puts it.
  uint64_t thumbnailAt_ = 0, thumbnailBytes_ = 0;
  uint32_t thumbnailNewOffset_ = 0;
  bool hasThumbnail_ = false;
  int thumbnailDirectory_ = -1;
  int thumbnailPart_ = 0;
};

// The bytes [offset, offset + count) from a part's TIFF header; empty when they are not all there.
ByteView Compactor::Get(int part, uint64_t offset, uint64_t count) {
  const TiffPart& place = parts_[part].place;
  if (place.limit != kUnknownSize && (offset > place.limit || count > place.limit - offset)) {
    // Outside the block its container gives it: what links there is left out, as a JPEG's
    // walk leaves out what lies past its section. Only IFD0 outside is damage (see Run).
    outsideBlock_ = true;
    return ByteView{};
  }
  if (count > RangeReader::kMaxFetchBytes || offset > UINT64_MAX - place.base - count) {
    damaged_ = true;
    return ByteView{};
  }
  const ByteView bytes = reader_.Fetch(place.base + offset, static_cast<size_t>(count));
  if (bytes.size < count) {
    if (!reader_.failed()) truncated_ = true;
    return ByteView{};
  }
  return bytes;
}

bool Compactor::ReadHeader(Part& part, int index) {
  const ByteView header = Get(index, 0, 8);
  if (header.size == 0) return false;
  if (std::memcmp(header.data, "II", 2) == 0) {
    part.big = false;
  } else if (std::memcmp(header.data, "MM", 2) == 0) {
    part.big = true;
  } else {
    damaged_ = true;
    return false;
  }
  const uint16_t magic = ReadU16(header.At(2), part.big);
  if (magic == kBig) {
    const ByteView bigHeader = Get(index, 0, 16);
    if (bigHeader.size == 0) return false;
    if (ReadU16(bigHeader.At(4), part.big) != 8 || ReadU16(bigHeader.At(6), part.big) != 0) {
      damaged_ = true;
      return false;
    }
    part.bigTiff = true;
    part.firstDirectory = ReadU64(bigHeader.At(8), part.big);
    return true;
  }
  if (magic != kClassic && magic != kOlympusRO && magic != kOlympusRS && magic != kPanasonic) {
    damaged_ = true;
    return false;
  }
  part.firstDirectory = ReadU32(header.At(4), part.big);
  return true;
}

// Adds to IFD0 (the last directory read) a link of kind `tag` to `part`'s first directory.
void Compactor::Graft(int part, uint16_t tag) {
  Directory& ifd0 = directories_[0];
  for (size_t i = 0; i < ifd0.entryCount; ++i)
    if (entries_[ifd0.firstEntry + i].tag == tag) entries_[ifd0.firstEntry + i].kept = false;
  if (entryCount_ == kMaxEntriesTotal) return;
  Entry& link = entries_[entryCount_++];
  ++ifd0.entryCount;
  link = Entry{};
  link.part = 0;
  link.graftPart = static_cast<uint8_t>(part);
  link.tag = tag;
  link.format = kFormatLong;
  link.count = 1;
  link.byteCount = 4;
  link.isInline = true;
  link.kept = true;
  link.linkTo = -1;
}

// The directory at `offset` of `part`: its index, read now when it is new; -1 when it cannot be had.
int Compactor::AddDirectory(int part, uint64_t offset) {
  for (int i = 0; i < directoryCount_; ++i)
    if (directories_[i].part == part && directories_[i].offset == offset) return i;  // the walker refuses the revisit
  if (directoryCount_ == kMaxDirectories || offset < 8) return -1;
  Directory& directory = directories_[directoryCount_];
  directory = Directory{part, offset, entryCount_, 0, 0, -1, false, 0};
  if (!ReadDirectory(directory)) return -1;
  return directoryCount_++;
}

bool Compactor::ReadDirectory(Directory& directory) {
  const Part& part = parts_[directory.part];
  const uint64_t countBytes = part.bigTiff ? 8 : 2, linkBytes = part.bigTiff ? 8 : 4;
  const uint64_t entryBytes = part.bigTiff ? kBigEntryBytes : kEntryBytes;
  const ByteView head = Get(directory.part, directory.offset, countBytes);
  if (head.size == 0) return false;
  const uint64_t count = part.bigTiff ? ReadU64(head.data, part.big) : ReadU16(head.data, part.big);
  if (count > kMaxEntries || entryCount_ + count >= kMaxEntriesTotal) {
    damaged_ = true;
    return false;
  }
  const ByteView body = Get(directory.part, directory.offset + countBytes, count * entryBytes + linkBytes);
  if (body.size == 0) return false;
  for (uint64_t i = 0; i < count; ++i) {
    Entry& entry = entries_[entryCount_ + i];
    ReadEntry(part, body.At(i * entryBytes), entry);
    entry.part = static_cast<uint8_t>(directory.part);
  }
  const uint8_t* link = body.At(count * entryBytes);
  directory.nextOffset = part.bigTiff ? ReadU64(link, part.big) : ReadU32(link, part.big);
  directory.entryCount = static_cast<size_t>(count);
  entryCount_ += directory.entryCount;
  return true;
}

// Decides each entry's fate from the entry alone; links and values are checked later.
void Compactor::ReadEntry(const Part& part, const uint8_t* p, Entry& entry) {
  const bool big = part.big, bigTiff = part.bigTiff;
  entry = Entry{};
  entry.linkTo = -1;
  entry.tag = ReadU16(p, big);
  entry.format = ReadU16(p + 2, big);
  const uint64_t count = bigTiff ? ReadU64(p + 4, big) : ReadU32(p + 4, big);
  const uint8_t* value = p + (bigTiff ? 12 : 8);
  const uint64_t inlineBytes = bigTiff ? 8 : 4;
  std::memcpy(entry.inlineBytes, value, inlineBytes);
  const uint64_t component = ComponentBytes(entry.format);
  if (component == 0 || count > UINT32_MAX) return;  // a format no walker reads: left out
  const uint64_t byteCount = count * component;
  entry.isInline = byteCount <= inlineBytes;
  if (!entry.isInline) entry.valueOffset = bigTiff ? ReadU64(value, big) : ReadU32(value, big);
  entry.count = static_cast<uint32_t>(count);
  entry.byteCount = byteCount;
  if (entry.format == kFormatIfd) entry.format = kFormatLong;  // a LONG by another name, which the walker knows
  if (entry.format >= kFormatLong8) {
    // BigTIFF's 8-byte integers: one that fits 32 bits becomes a LONG; others are left out.
    uint64_t number = 0;
    if (count != 1 || !entry.isInline) return;
    number = ReadU64(value, big);
    if (number > UINT32_MAX) return;
    entry.format = kFormatLong;
    entry.byteCount = 4;
    PutU32(entry.inlineBytes, static_cast<uint32_t>(number), big);
  } else if (byteCount > kMaxKeptValueBytes) {
    if (!IsBytes(entry.format)) return;
    entry.count = static_cast<uint32_t>(kMaxKeptValueBytes);  // a text's start is all any value needs
    entry.byteCount = kMaxKeptValueBytes;
  }
  entry.kept = true;
}

// The first component of a byte, short or long value, inline or not.
bool Compactor::FirstNumber(const Entry& entry, uint64_t& value) {
  if (!entry.kept || (entry.format != 1 && entry.format != 3 && entry.format != 4)) return false;  // IFD is LONG by now
  const uint8_t* p = entry.inlineBytes;
  if (!entry.isInline) {
    const ByteView bytes = Get(entry.part, entry.valueOffset, 4);
    if (bytes.size == 0) return false;
    p = bytes.data;
  }
  const bool big = parts_[entry.part].big;
  value = entry.format == 1 ? p[0] : entry.format == 3 ? ReadU16(p, big) : ReadU32(p, big);
  return true;
}

// Reads the directories `index` links to; a link that cannot be followed leaves its entry out.
void Compactor::FollowLinks(int index) {
  Directory& directory = directories_[index];
  for (size_t i = 0; i < directory.entryCount; ++i) {
    Entry& entry = entries_[directory.firstEntry + i];
    if (!entry.kept || !IsLink(entry.tag)) continue;
    uint64_t offset = 0;
    if (entry.graftPart != 0) {
      entry.linkTo = AddDirectory(entry.graftPart, parts_[entry.graftPart].firstDirectory);
      entry.kept = entry.linkTo >= 0;
      continue;
    }
    entry.kept = FirstNumber(entry, offset) && (entry.linkTo = AddDirectory(entry.part, offset)) >= 0;
    if (entry.kept) entry.isInline = true, entry.format = kFormatLong, entry.count = 1, entry.byteCount = 4;
  }
  if (directory.nextOffset != 0) directories_[index].next = AddDirectory(directory.part, directory.nextOffset);
}

void Compactor::ReadFrame(TiffFrame& frame) {
  const Directory& ifd0 = directories_[0];
  uint64_t photometric = 0, samples = 0;
  for (size_t i = 0; i < ifd0.entryCount; ++i) {
    const Entry& entry = entries_[ifd0.firstEntry + i];
    uint64_t value = 0;
    if (entry.count == 0 || !FirstNumber(entry, value)) continue;
    const int32_t number = value > INT32_MAX ? INT32_MAX : static_cast<int32_t>(value);
    switch (entry.tag) {
      case kTagImageWidth: frame.width = number; break;
      case kTagImageLength: frame.height = number; break;
      case kTagPhotometric: photometric = value; break;
      case kTagSamplesPerPixel: samples = value; break;
      default: break;
    }
  }
  frame.isColor = samples >= 3 || IsColourPhotometric(photometric) ? 1 : 0;
}

// Places the directories, then the values; drops the largest values until all fits.
// Returns the TIFF block's size.
size_t Compactor::Layout() {
  for (;;) {
    uint64_t at = 8;
    for (int d = 0; d < directoryCount_; ++d) {
      Directory& directory = directories_[d];
      size_t kept = 0;
      for (size_t i = 0; i < directory.entryCount; ++i) kept += entries_[directory.firstEntry + i].kept;
      directory.included = at + 2 + 12 * kept + 4 <= kMaxBlockBytes;
      if (!directory.included) continue;
      directory.newOffset = static_cast<uint32_t>(at);
      at += 2 + 12 * kept + 4;
    }
    Entry* largest = nullptr;
    for (size_t e = 0; e < entryCount_; ++e) {
      Entry& entry = entries_[e];
      if (!entry.kept || entry.byteCount <= 4) continue;
      at += at & 1;  // values start on even offsets, as TIFF has them
      entry.newValueOffset = static_cast<uint32_t>(at);
      at += entry.byteCount;
      if (largest == nullptr || entry.byteCount > largest->byteCount) largest = &entry;
    }
    if (at <= kMaxBlockBytes || largest == nullptr) return static_cast<size_t>(at);
    largest->kept = false;
  }
}

// The first directory after IFD0 holding both thumbnail tags gets its thumbnail, when it fits.
void Compactor::KeepThumbnail(size_t& size) {
  // Never IFD0: there 0x0201 is an old-style JPEG TIFF's own image, not a thumbnail.
  for (int d = 1; d < directoryCount_ && !hasThumbnail_; ++d) {
    const Directory& directory = directories_[d];
    uint64_t offset = 0, length = 0;
    bool hasOffset = false, hasLength = false;
    for (size_t i = 0; i < directory.entryCount; ++i) {
      const Entry& entry = entries_[directory.firstEntry + i];
      if (entry.tag == kTagThumbnailOffset) hasOffset = FirstNumber(entry, offset);
      if (entry.tag == kTagThumbnailLength) hasLength = FirstNumber(entry, length);
    }
    if (!directory.included || !hasOffset || !hasLength || length == 0 || length > kMaxThumbnailBytes ||
        offset == 0 || size + length > kMaxBlockBytes)
      continue;
    const TiffPart& place = parts_[directory.part].place;
    if (place.limit != kUnknownSize && (offset > place.limit || length > place.limit - offset)) continue;
    thumbnailPart_ = directory.part;
    thumbnailDirectory_ = d;
    thumbnailAt_ = offset;
    thumbnailBytes_ = length;
    thumbnailNewOffset_ = static_cast<uint32_t>(size);
    hasThumbnail_ = true;
    size += static_cast<size_t>(length);
  }
}

bool Compactor::Write(CompactTiff& out, size_t size) {
  const size_t total = kSectionLengthBytes + kExifHeaderBytes + size;
  uint8_t* section = new (std::nothrow) uint8_t[total]();
  if (section == nullptr) return false;
  PutU16(section, static_cast<uint16_t>(total), true);
  std::memcpy(section + kSectionLengthBytes, "Exif\0\0", kExifHeaderBytes);
  uint8_t* tiff = section + kSectionLengthBytes + kExifHeaderBytes;
  std::memcpy(tiff, big_ ? "MM" : "II", 2);
  PutU16(tiff + 2, kClassic, big_);
  PutU32(tiff + 4, 8, big_);
  // The thumbnail first: one that cannot be read whole is left out rather than kept in part.
  const uint64_t thumbnailBase = parts_[thumbnailPart_].place.base;
  if (hasThumbnail_ && (thumbnailBytes_ > UINT64_MAX - thumbnailBase - thumbnailAt_ ||
                        reader_.CopyOut(thumbnailBase + thumbnailAt_, tiff + thumbnailNewOffset_,
                                        static_cast<size_t>(thumbnailBytes_)) != thumbnailBytes_)) {
    hasThumbnail_ = false;
    if (!reader_.failed()) truncated_ = true;
  }
  for (int d = 0; d < directoryCount_; ++d) {
    const Directory& directory = directories_[d];
    if (!directory.included) continue;
    uint8_t* p = tiff + directory.newOffset + 2;
    uint16_t written = 0;
    for (size_t i = 0; i < directory.entryCount; ++i) {
      Entry& entry = entries_[directory.firstEntry + i];
      if (!entry.kept || (entry.linkTo >= 0 && !directories_[entry.linkTo].included)) continue;
      PutU16(p, entry.tag, big_);
      PutU16(p + 2, entry.format, big_);
      PutU32(p + 4, entry.count, big_);
      if (entry.linkTo >= 0) {
        PutU32(p + 8, directories_[entry.linkTo].newOffset, big_);
      } else if (entry.tag == kTagThumbnailOffset) {
        PutU32(p + 8, hasThumbnail_ && d == thumbnailDirectory_ ? thumbnailNewOffset_ : 0, big_);
        PutU16(p + 2, kFormatLong, big_);
        PutU32(p + 4, 1, big_);
      } else if (entry.byteCount <= 4) {
        std::memcpy(p + 8, entry.inlineBytes, 4);
      } else {
        PutU32(p + 8, entry.newValueOffset, big_);
        if (entry.isInline) {
          std::memcpy(tiff + entry.newValueOffset, entry.inlineBytes, static_cast<size_t>(entry.byteCount));
        } else {
          const ByteView value = Get(entry.part, entry.valueOffset, entry.byteCount);
          if (value.size != 0) std::memcpy(tiff + entry.newValueOffset, value.data, value.size);
          // A value the input lacks reads as zeros; the ending says the input was cut.
        }
      }
      p += 12;
      ++written;
    }
    PutU16(tiff + directory.newOffset, written, big_);
    const int next = directory.next;
    PutU32(p, next >= 0 && directories_[next].included ? directories_[next].newOffset : 0, big_);
  }
  out.section = section;
  out.size = total;
  return true;
}

TiffOutcome Compactor::Outcome() const {
  if (reader_.failed()) return TiffOutcome::kReadError;
  if (reader_.outOfMemory()) return TiffOutcome::kOutOfMemory;
  if (damaged_) return TiffOutcome::kDamaged;
  if (truncated_) return TiffOutcome::kTruncated;
  return TiffOutcome::kComplete;
}

CompactTiff Compactor::Run() {
  CompactTiff out;
  entries_.reset(new (std::nothrow) Entry[kMaxEntriesTotal]);
  if (entries_ == nullptr) {
    out.outcome = TiffOutcome::kOutOfMemory;
    return out;
  }
  if (!ReadHeader(parts_[0], 0) || AddDirectory(0, parts_[0].firstDirectory) != 0) {
    out.outcome = Outcome();
    if (out.outcome == TiffOutcome::kComplete) out.outcome = TiffOutcome::kDamaged;
    return out;
  }
  big_ = parts_[0].big;
  const uint16_t graftTags[kTiffParts] = {0, kTagExifDirectory, kTagGpsDirectory};
  for (int k = 1; k < kTiffParts; ++k)
    if (parts_[k].place.present && ReadHeader(parts_[k], k) && parts_[k].big == big_) Graft(k, graftTags[k]);
  for (int d = 0; d < directoryCount_; ++d) FollowLinks(d);  // breadth first: IFD0 stays first
  ReadFrame(out.frame);
  size_t size = Layout();
  KeepThumbnail(size);
  if (!Write(out, size)) {
    out.outcome = TiffOutcome::kOutOfMemory;
    return out;
  }
  if (hasThumbnail_) out.thumbnailOffset = static_cast<uint32_t>(thumbnailAt_);
  out.outcome = Outcome();
  return out;
}

}  // namespace

CompactTiff CompactTiffParts(RangeReader& reader, const TiffPart (&parts)[kTiffParts]) {
  return Compactor(reader, parts).Run();
}


}  // namespace exifinfo
