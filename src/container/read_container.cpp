// SPDX-License-Identifier: MIT
// Knowing a container by its first bytes; the TIFF and RAF walks; the step every container
// takes with its EXIF block; how a walk's findings become the reader's ending.
#include <cstring>

#include "container/container_walk.h"
#include "exif/errors.h"

namespace exifinfo {
namespace {

constexpr uint8_t kPngSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr uint8_t kJxlSignature[] = {0, 0, 0, 12, 'J', 'X', 'L', ' ', '\r', '\n', 0x87, '\n'};
constexpr char kRafMagic[] = "FUJIFILMCCD-RAW ";
constexpr size_t kRafMagicBytes = sizeof kRafMagic - 1;
constexpr uint64_t kRafJpegOffsetAt = 84;  // big-endian offset, then length, of the embedded JPEG
constexpr uint64_t kRafHeaderBytes = 92;
constexpr uint64_t kWholeBlockBytes = 65536;

bool StartsWith(ByteView head, const void* bytes, size_t count) {
  return head.Has(0, count) && std::memcmp(head.data, bytes, count) == 0;
}

bool IsTiffHeader(ByteView head) {
  static const char* const kHeaders[] = {"II*\0", "MM\0*", "II+\0", "MM\0+", "IIRO", "IIRS", "MMOR", "IIU\0"};
  for (const char* header : kHeaders)
    if (StartsWith(head, header, 4)) return true;
  return false;
}

// The brand's container, kUnknown when the brand says nothing about one.
Container BrandContainer(const uint8_t* brand) {
  static const char* const kHeifBrands[] = {"heic", "heix", "heim", "heis", "hevc", "hevx", "mif1", "msf1"};
  if (std::memcmp(brand, "avif", 4) == 0 || std::memcmp(brand, "avis", 4) == 0) return Container::kAvif;
  if (std::memcmp(brand, "crx ", 4) == 0) return Container::kCr3;
  for (const char* heif : kHeifBrands)
    if (std::memcmp(brand, heif, 4) == 0) return Container::kHeif;
  return Container::kUnknown;
}

// An ftyp box first: its major brand, else the most specific of its compatible brands (an AVIF
// brand before the generic image brands mif1 and msf1, which both formats list).
Container IdentifyIsoBaseMedia(ByteView head) {
  if (!head.Has(0, 16) || std::memcmp(head.At(4), "ftyp", 4) != 0) return Container::kUnknown;
  const Container major = BrandContainer(head.At(8));
  if (major != Container::kUnknown && std::memcmp(head.At(8), "mif1", 4) != 0 &&
      std::memcmp(head.At(8), "msf1", 4) != 0)
    return major;
  uint64_t end = ReadU32Big(head.data);
  if (end > head.size) end = head.size;
  Container found = major;
  for (uint64_t at = 16; at + 4 <= end; at += 4) {
    const Container brand = BrandContainer(head.At(at));
    if (brand == Container::kAvif) return brand;
    if (found == Container::kUnknown) found = brand;
  }
  return found;
}

}  // namespace

Container IdentifyContainer(ByteView head) {
  if (head.size > kIdentifyBytes) head.size = kIdentifyBytes;
  if (head.Has(0, 2) && head.data[0] == 0xFF && head.data[1] == 0xD8) return Container::kJpeg;
  if (IsTiffHeader(head)) return Container::kTiff;
  if (StartsWith(head, kPngSignature, sizeof kPngSignature)) return Container::kPng;
  if (head.Has(0, 12) && std::memcmp(head.data, "RIFF", 4) == 0 && std::memcmp(head.At(8), "WEBP", 4) == 0)
    return Container::kWebp;
  if (StartsWith(head, kRafMagic, kRafMagicBytes)) return Container::kRaf;
  if (StartsWith(head, kJxlSignature, sizeof kJxlSignature)) return Container::kJxl;
  return IdentifyIsoBaseMedia(head);
}

bool ReadTiffParts(ContainerWalk& walk, const TiffPart (&parts)[kTiffParts], ExifReader& reader, TiffFrame* frame) {
  CompactTiff block = CompactTiffParts(walk.source, parts);
  switch (block.outcome) {
    case TiffOutcome::kTruncated: walk.truncated = true; break;
    case TiffOutcome::kDamaged: walk.damaged = true; break;
    case TiffOutcome::kOutOfMemory: walk.outOfMemory = true; break;
    default: break;
  }
  if (block.section == nullptr) return false;
  if (frame != nullptr) *frame = block.frame;
  reader.TakeExifSection(block.section, block.size);
  if (block.thumbnailOffset != 0) reader.RestoreThumbnailOffset(block.thumbnailOffset);
  return true;
}

bool ReadTiffBlock(ContainerWalk& walk, uint64_t offset, uint64_t length, ExifReader& reader, TiffFrame* frame) {
  // A block of known size up to 64 KiB (every EXIF block a container carries, in practice) is
  // read in one request: the directories and values inside it then cost no read of their own.
  if (length <= kWholeBlockBytes) walk.source.Fetch(offset, static_cast<size_t>(length));
  const TiffPart parts[kTiffParts] = {{offset, length, true}, {}, {}};
  return ReadTiffParts(walk, parts, reader, frame);
}

void ReadExifBlock(ContainerWalk& walk, uint64_t offset, uint64_t length, ExifReader& reader) {
  const ByteView start = walk.source.Fetch(offset, kExifHeaderBytes);
  if (length >= kExifHeaderBytes && start.size == kExifHeaderBytes &&
      std::memcmp(start.data, "Exif\0\0", kExifHeaderBytes) == 0) {
    offset += kExifHeaderBytes;
    length -= kExifHeaderBytes;
  }
  ReadTiffBlock(walk, offset, length, reader, nullptr);
}

void ReadContainer(Container container, RangeReader& source, ExifReader& reader) {
  ContainerWalk walk(source);
  switch (container) {
    case Container::kTiff: {
      TiffFrame frame;
      if (ReadTiffBlock(walk, 0, kUnknownSize, reader, &frame)) {
        walk.hasFrame = true;
        walk.width = frame.width, walk.height = frame.height, walk.isColor = frame.isColor;
      }
      break;
    }
    case Container::kPng: WalkPng(walk, reader); break;
    case Container::kWebp: WalkWebp(walk, reader); break;
    case Container::kHeif:
    case Container::kAvif:
    case Container::kCr3:
    case Container::kJxl: WalkIsoBaseMedia(walk, container, reader); break;
    default: walk.damaged = true; break;
  }
  if (walk.hasFrame) reader.SetFrame(walk.width, walk.height, walk.isColor);
  if (source.failed()) {
    reader.EndContainer(ScanEnding::kReadError, errors::kReadError);
  } else if (source.outOfMemory() || walk.outOfMemory) {
    reader.EndContainer(ScanEnding::kOutOfMemory, errors::kNoMemory);
  } else if (walk.damaged) {
    reader.EndContainer(ScanEnding::kDamaged, errors::kDamagedContainer);
  } else if (walk.truncated) {
    reader.EndContainer(ScanEnding::kPrematureEnd, errors::kPrematureEnd);
  } else {
    reader.EndContainer(ScanEnding::kEndOfMetadata, nullptr);
  }
}

bool FindRafJpeg(RangeReader& source, uint64_t& offset, uint64_t& length, ScanEnding& ending) {
  ContainerWalk walk(source);
  const ByteView header = walk.Need(0, kRafHeaderBytes);
  if (header.size != 0) {
    offset = ReadU32Big(header.At(kRafJpegOffsetAt));
    length = ReadU32Big(header.At(kRafJpegOffsetAt + 4));
    if (offset >= kRafHeaderBytes && length != 0) return true;
    walk.damaged = true;
  }
  ending = source.failed() ? ScanEnding::kReadError : walk.damaged ? ScanEnding::kDamaged : ScanEnding::kPrematureEnd;
  return false;
}

}  // namespace exifinfo
