// SPDX-License-Identifier: MIT
// Knowing a container by its first bytes; the TIFF and RAF walks; the step every container
// takes with its EXIF block; how a walk's findings become the reader's ending.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>

#include "container/container_walk.h"
#include "exif/byte_order.h"
#include "exif/errors.h"
#include "xmp/xmp_packet.h"

namespace exifinfo {
namespace {

constexpr uint8_t kPngSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr uint8_t kJxlSignature[] = {0, 0, 0, 12, 'J', 'X', 'L', ' ', '\r', '\n', 0x87, '\n'};
constexpr uint8_t kMrwMagic[] = {0, 'M', 'R', 'M'};
constexpr char kRafMagic[] = "FUJIFILMCCD-RAW ";
constexpr size_t kRafMagicBytes = sizeof kRafMagic - 1;
constexpr uint64_t kRafJpegOffsetAt = 84;  // big-endian offset, then length, of the embedded JPEG
constexpr uint64_t kRafHeaderBytes = 92;
constexpr size_t kRafDirectoryBytes = 256;  // its first entries: the sizes come first
constexpr uint16_t kRafFullSize = 0x0100, kRafCroppedSize = 0x0111;
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

// A video brand's container, kUnknown for any other brand.
Container VideoBrandContainer(const uint8_t* brand) {
  if (std::memcmp(brand, "qt  ", 4) == 0) return Container::kMov;
  // ISO's generic brands, MPEG-4's, Apple's M4V, 3GPP's and 3GPP2's families, and the camera
  // makers' own that build on them (Sony's MSNV and XAVC).
  static const char* const kMp4Brands[] = {"isom", "iso2", "iso3", "iso4", "iso5", "iso6", "mp41", "mp42",
                                           "avc1", "M4V ", "M4VH", "M4VP", "MSNV", "XAVC", "f4v "};
  for (const char* mp4 : kMp4Brands)
    if (std::memcmp(brand, mp4, 4) == 0) return Container::kMp4;
  if (std::memcmp(brand, "3gp", 3) == 0 || std::memcmp(brand, "3g2", 3) == 0 || std::memcmp(brand, "3ge", 3) == 0 ||
      std::memcmp(brand, "3gg", 3) == 0)
    return Container::kMp4;
  return Container::kUnknown;
}

// An ftyp box first: its major brand, else the most specific of its compatible brands (an AVIF
// brand before the generic image brands mif1 and msf1, which both formats list; a photo brand
// before a video brand, which a HEIF image may list among its own). A video is known by its
// major brand, else by a compatible one.
Container IdentifyIsoBaseMedia(ByteView head) {
  if (!head.Has(0, 16) || std::memcmp(head.At(4), "ftyp", 4) != 0) return Container::kUnknown;
  const Container major = BrandContainer(head.At(8));
  if (major != Container::kUnknown && std::memcmp(head.At(8), "mif1", 4) != 0 &&
      std::memcmp(head.At(8), "msf1", 4) != 0)
    return major;
  uint64_t end = ReadU32Big(head.data);
  if (end > head.size) end = head.size;
  Container found = major;
  Container video = VideoBrandContainer(head.At(8));
  for (uint64_t at = 16; at + 4 <= end; at += 4) {
    const Container brand = BrandContainer(head.At(at));
    if (brand == Container::kAvif) return brand;
    if (found == Container::kUnknown) found = brand;
    if (video == Container::kUnknown) video = VideoBrandContainer(head.At(at));
  }
  return found != Container::kUnknown ? found : video;
}

// A QuickTime movie of the years before ftyp: its first box one that only movies start with,
// of a size that can be.
Container IdentifyOldMovie(ByteView head) {
  if (!head.Has(0, 8)) return Container::kUnknown;
  static const char* const kFirstBoxes[] = {"moov", "mdat", "wide", "free", "skip", "pnot"};
  const uint32_t size = ReadU32Big(head.data);
  if (size != 0 && size != 1 && size < 8) return Container::kUnknown;
  for (const char* type : kFirstBoxes)
    if (std::memcmp(head.At(4), type, 4) == 0) return Container::kMov;
  return Container::kUnknown;
}

// An XMP packet written on its own (a sidecar), after an optional byte-order mark and blanks:
// its packet wrapper, its xmpmeta element, bare RDF, or an XML declaration that one of them
// follows within the head.
bool IsXmpPacket(ByteView head) {
  size_t at = head.size >= 3 && std::memcmp(head.data, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
  while (at < head.size && (head.data[at] == ' ' || head.data[at] == '\t' || head.data[at] == '\r' || head.data[at] == '\n'))
    ++at;
  const ByteView rest = head.Slice(at, head.size - at);
  const auto starts = [&](const char* text) { return StartsWith(rest, reinterpret_cast<const uint8_t*>(text), std::strlen(text)); };
  if (starts("<?xpacket") || starts("<x:xmpmeta") || starts("<x:xapmeta") || starts("<rdf:RDF")) return true;
  if (!starts("<?xml")) return false;
  const std::string_view text(reinterpret_cast<const char*>(rest.data), rest.size);
  // A document type named for the packet's root is one too (and is refused when read).
  for (const char* marker : {"<?xpacket", "<x:xmpmeta", "<x:xapmeta", "<rdf:RDF", "<!DOCTYPE x:xmpmeta", "<!DOCTYPE rdf:RDF"})
    if (text.find(marker) != std::string_view::npos) return true;
  return false;
}

// A sidecar: its whole packet, to the end of the input, straight into the one copy the packets
// keep (no window holds it); one larger than a packet may be is passed over (and said so).
void ReadSidecar(ContainerWalk& walk, ExifReader& reader) {
  const uint64_t known = walk.source.size();
  if (known != kUnknownSize && known > kMaxXmpBytes) return reader.packets().NoteTooLarge();
  const size_t room = known < kMaxXmpBytes ? static_cast<size_t>(known) : kMaxXmpBytes + 1;
  auto* packet = static_cast<uint8_t*>(std::malloc(room == 0 ? 1 : room));
  if (packet == nullptr) return void(walk.outOfMemory = true);
  size_t got = 0;
  while (got < room) {
    const size_t asked = room - got < RangeReader::kMaxFetchBytes ? room - got : RangeReader::kMaxFetchBytes;
    const size_t given = walk.source.CopyOut(got, packet + got, asked);
    got += given;
    if (given < asked) break;
  }
  if (walk.source.failed() || got > kMaxXmpBytes) {
    std::free(packet);
    if (!walk.source.failed()) reader.packets().NoteTooLarge();
    return;
  }
  reader.packets().AdoptXmp(packet, got);
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
  if (StartsWith(head, kMrwMagic, sizeof kMrwMagic)) return Container::kMrw;
  if (StartsWith(head, kJxlSignature, sizeof kJxlSignature)) return Container::kJxl;
  const Container media = IdentifyIsoBaseMedia(head);
  if (media != Container::kUnknown) return media;
  const Container movie = IdentifyOldMovie(head);
  if (movie != Container::kUnknown) return movie;
  return IsXmpPacket(head) ? Container::kXmp : Container::kUnknown;
}

namespace {

// The magic numbers after the byte order: BigTIFF's, and the raw formats' own for classic TIFF.
enum TiffMagic : uint16_t {
  kBigTiffMagic = 43,
  kOlympusRO = 0x4F52,  // ORF "IIRO" and "MMOR"
  kOlympusRS = 0x5352,  // ORF "IIRS"
  kPanasonic = 0x0055,  // RW2 "IIU\0"
};

// A TIFF block's header: byte order, layout and first directory. False when there is none
// (the reason noted in `walk`).
struct TiffHeader {
  bool big = false, bigTiff = false;
  uint64_t first = 0;
};
bool ReadTiffHeader(ContainerWalk& walk, const TiffPart& part, TiffHeader& header) {
  const auto fetch = [&](uint64_t count) {
    if (part.limit != kUnknownSize && part.limit < count) return ByteView{};  // outside its block
    const ByteView bytes = walk.source.Fetch(part.base, static_cast<size_t>(count));
    if (bytes.size < count && !walk.source.failed() && !walk.source.outOfMemory()) walk.truncated = true;
    return bytes.size < count ? ByteView{} : bytes;
  };
  ByteView bytes = fetch(8);
  if (bytes.size == 0) return false;
  if (std::memcmp(bytes.data, "II", 2) != 0 && std::memcmp(bytes.data, "MM", 2) != 0) return walk.damaged = true, false;
  header.big = bytes.data[0] == 'M';
  const uint16_t magic = ReadU16(bytes.At(2), header.big);
  if (magic == kBigTiffMagic) {
    if ((bytes = fetch(16)).size == 0) return false;
    if (ReadU16(bytes.At(4), header.big) != 8 || ReadU16(bytes.At(6), header.big) != 0) return walk.damaged = true, false;
    header.bigTiff = true;
    header.first = ReadU64(bytes.At(8), header.big);
    return true;
  }
  if (magic != kTiffMagic && magic != kOlympusRO && magic != kOlympusRS && magic != kPanasonic)
    return walk.damaged = true, false;
  header.first = ReadU32(bytes.At(4), header.big);
  return true;
}

// The block a part gives the walk: one of known size up to 64 KiB (every EXIF block a
// container carries, in practice) is fetched whole and walked in memory, so its directories
// and values cost no request of their own; anything else is walked in place.
TiffBlock BlockOf(ContainerWalk& walk, const TiffPart& part, const TiffHeader& header, ExifReader& reader,
                  FetchFaults& faults) {
  if (part.limit <= kWholeBlockBytes) {
    const ByteView bytes = walk.source.Fetch(part.base, static_cast<size_t>(part.limit));
    if (bytes.size < part.limit && !walk.source.failed() && !walk.source.outOfMemory()) walk.truncated = true;
    uint8_t* held = reader.held().Keep(part.base, bytes);
    if (held == nullptr) (reader.held().full() ? walk.truncated : walk.outOfMemory) = true;
    return TiffBlock(MutableByteView{held, held != nullptr ? bytes.size : 0}, header.big, header.bigTiff, part.base);
  }
  return TiffBlock(walk.source, reader.held(), faults, part.base, part.limit, header.big, header.bigTiff);
}

constexpr int kMaxEmbeddedSections = 16;  // its EXIF block comes first or second in practice

// A raw file's embedded JPEG: its APP1 EXIF block, found among its first sections, walked for
// the record alone. Nothing here marks the walk damaged: the raw file's own read is whole.
void ReadEmbeddedJpegExif(ContainerWalk& walk, uint64_t offset, uint64_t length, ExifReader& reader) {
  const uint64_t end = offset + length;
  const ByteView soi = walk.source.Fetch(offset, 2);
  if (length < 4 || soi.size < 2 || soi.data[0] != 0xFF || soi.data[1] != 0xD8) return;
  uint64_t at = offset + 2;
  for (int k = 0; k < kMaxEmbeddedSections && at + 4 <= end; ++k) {
    const ByteView marker = walk.source.Fetch(at, 4);
    if (marker.size < 4 || marker.data[0] != 0xFF || marker.data[1] == 0xDA || marker.data[1] == 0xD9) return;
    const uint64_t size = ReadU16(marker.At(2), true);
    if (size < 2 || at + 2 + size > end) return;
    if (marker.data[1] == 0xE1 && size > 2 + kExifHeaderBytes + 8) {
      const uint64_t tiffAt = at + 4 + kExifHeaderBytes, tiffBytes = size - 2 - kExifHeaderBytes;
      const ByteView header = walk.source.Fetch(at + 4, kExifHeaderBytes);
      if (header.size == kExifHeaderBytes && std::memcmp(header.data, "Exif\0\0", kExifHeaderBytes) == 0) {
        std::unique_ptr<uint8_t[]> copy(new (std::nothrow) uint8_t[tiffBytes]);
        if (copy == nullptr || !walk.Copy(tiffAt, tiffBytes, copy.get())) return;
        ReadTiffInMemory(walk, ByteView{copy.get(), static_cast<size_t>(tiffBytes)}, tiffAt, reader, true);
        return;
      }
    }
    at += 2 + size;
  }
}

// Minolta raw: "\0MRM" and the length of the header's blocks, which follow, each a 4-byte name,
// a 32-bit big-endian length and its contents; the image data comes after them. PRD holds the
// raw image's size (after an 8-byte version and the sensor's height and width, the image's
// height and width, 16-bit big-endian), TTW a TIFF block: IFD0 and the EXIF directory.
constexpr size_t kMrwPrdSizeAt = 12;
constexpr int kMaxMrwBlocks = 64;  // a camera writes five

void WalkMrw(ContainerWalk& walk, ExifReader& reader) {
  const ByteView head = walk.Need(0, 8);
  if (head.size == 0) return;
  const uint64_t end = 8 + uint64_t{ReadU32Big(head.At(4))};
  bool sized = false, tiffRead = false;
  uint64_t at = 8;
  for (int n = 0; n < kMaxMrwBlocks && at < end && !(sized && tiffRead); ++n) {
    const ByteView block = walk.Need(at, 8);
    if (block.size == 0) return;
    const uint64_t contents = at + 8, length = ReadU32Big(block.At(4));
    if (contents > end || length > end - contents) return void(walk.damaged = true);
    if (std::memcmp(block.data, "\0PRD", 4) == 0 && length >= kMrwPrdSizeAt + 4 && !sized) {
      const ByteView size = walk.Need(contents + kMrwPrdSizeAt, 4);
      if (size.size == 0) return;
      walk.SetFrame(ReadU16(size.At(2), true), ReadU16(size.data, true), 1);
      sized = true;
    } else if (std::memcmp(block.data, "\0TTW", 4) == 0 && !tiffRead) {
      ReadTiffBlock(walk, contents, length, reader, nullptr);
      tiffRead = true;
    }
    at = contents + length;
  }
}

}  // namespace

bool ReadTiffParts(ContainerWalk& walk, const TiffPart (&parts)[kTiffParts], ExifReader& reader, TiffFrame* frame) {
  TiffHeader headers[kTiffParts];
  if (!parts[0].present || !ReadTiffHeader(walk, parts[0], headers[0])) {
    if (!walk.truncated && !walk.source.failed()) walk.damaged = true;
    return false;
  }
  FetchFaults faults;
  const TiffBlock ifd0 = BlockOf(walk, parts[0], headers[0], reader, faults);
  // The EXIF and GPS directories a container keeps apart; one in the other byte order is left out.
  std::optional<TiffBlock> blocks[kTiffParts];
  TiffGraft grafts[kTiffParts];
  for (int k = 1; k < kTiffParts; ++k) {
    if (!parts[k].present || !ReadTiffHeader(walk, parts[k], headers[k]) || headers[k].big != headers[0].big) continue;
    blocks[k].emplace(BlockOf(walk, parts[k], headers[k], reader, faults));
    grafts[k] = TiffGraft{&*blocks[k], headers[k].first};
  }
  const TiffWalkResult result = reader.WalkTiff(ifd0, headers[0].first, grafts[1], grafts[2], frame != nullptr);
  if (faults.truncated) walk.truncated = true;
  if (faults.outOfMemory) walk.outOfMemory = true;
  if (result.damaged) walk.damaged = true;
  if (!result.ifd0Read) {
    if (!walk.truncated && !walk.source.failed() && !walk.outOfMemory) walk.damaged = true;
    return false;
  }
  if (frame != nullptr) *frame = TiffFrame{result.width, result.height, result.isColor};
  if (frame != nullptr && result.embeddedJpegLength != 0)
    ReadEmbeddedJpegExif(walk, result.embeddedJpegOffset, result.embeddedJpegLength, reader);
  return true;
}

bool ReadTiffInMemory(ContainerWalk& walk, ByteView bytes, uint64_t base, ExifReader& reader, bool recordOnly) {
  if (bytes.size < 8 || (std::memcmp(bytes.data, "II", 2) != 0 && std::memcmp(bytes.data, "MM", 2) != 0)) return false;
  const bool big = bytes.data[0] == 'M';
  if (ReadU16(bytes.At(2), big) != kTiffMagic) return false;
  uint8_t* held = reader.held().Keep(base, bytes);
  if (held == nullptr) {
    (reader.held().full() ? walk.truncated : walk.outOfMemory) = true;
    return false;
  }
  const TiffBlock block(MutableByteView{held, bytes.size}, big, false, base);
  if (recordOnly) {
    reader.WalkForRecordOnly(block, ReadU32(bytes.At(4), big));
    return true;
  }
  const bool read = reader.WalkTiff(block, ReadU32(bytes.At(4), big), TiffGraft{}, TiffGraft{}, false).ifd0Read;
  // A result's thumbnail is always bytes of the file, which a decoded block's are not: it has
  // none (the record still says its length as the block writes it).
  ImageInfo& info = reader.record();
  info.ThumbnailStart = nullptr, info.ThumbnailLength = 0;
  return read;
}

bool ReadTiffBlock(ContainerWalk& walk, uint64_t offset, uint64_t length, ExifReader& reader, TiffFrame* frame) {
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
    case Container::kMp4:
    case Container::kMov: WalkMovie(walk, reader); break;
    case Container::kXmp: ReadSidecar(walk, reader); break;
    case Container::kMrw: WalkMrw(walk, reader); break;
    default: walk.damaged = true; break;
  }
  if (walk.hasFrame) {
    ImageInfo& record = reader.record();
    record.Width = walk.width, record.Height = walk.height, record.IsColor = walk.isColor;
  }
  if (source.failed()) {
    reader.Finish(ScanEnding::kReadError, errors::kReadError);
  } else if (source.outOfMemory() || walk.outOfMemory) {
    reader.Finish(ScanEnding::kOutOfMemory, errors::kNoMemory);
  } else if (walk.damaged) {
    reader.Finish(ScanEnding::kDamaged, errors::kDamagedContainer);
  } else if (walk.truncated) {
    reader.Finish(ScanEnding::kPrematureEnd, errors::kPrematureEnd);
  } else {
    reader.Finish(ScanEnding::kEndOfMetadata, nullptr);
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

void ReadRafSize(RangeReader& source, ExifReader& reader) {
  // The header's next pair after the JPEG's: the offset and length of the RAF directory, whose
  // entries are a big-endian tag, a size and that many bytes; 0x0111 is the cropped image's
  // height and width, 0x0100 the full sensor's.
  const ByteView where = source.Fetch(kRafHeaderBytes, 8);
  if (where.size < 8) return;
  const uint64_t at = ReadU32Big(where.data), length = ReadU32Big(where.At(4));
  const ByteView dir = source.Fetch(at, static_cast<size_t>(length < kRafDirectoryBytes ? length : kRafDirectoryBytes));
  if (dir.size < 4) return;
  uint64_t full[2] = {0, 0}, cropped[2] = {0, 0};
  const uint64_t count = ReadU32Big(dir.data);
  uint64_t i = 4;
  for (uint64_t k = 0; k < count && i + 4 <= dir.size; ++k) {
    const uint16_t tag = ReadU16(dir.At(i), true), size = ReadU16(dir.At(i + 2), true);
    if (size == 4 && i + 8 <= dir.size && (tag == kRafFullSize || tag == kRafCroppedSize)) {
      uint64_t* out = tag == kRafFullSize ? full : cropped;
      out[0] = ReadU16(dir.At(i + 4), true), out[1] = ReadU16(dir.At(i + 6), true);  // height, width
    }
    i += 4 + uint64_t{size};
  }
  const uint64_t* size = cropped[0] != 0 ? cropped : full;
  reader.NoteImageSize(size[1], size[0]);
}

}  // namespace exifinfo
