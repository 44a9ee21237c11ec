// SPDX-License-Identifier: MIT
// ISO base media files: HEIF and AVIF (the primary item's Exif item through meta, iinf, iref
// and iloc; its size from ispe), Canon's CR3 (TIFF blocks in a uuid box of moov) and JPEG XL's
// box container (an Exif box). The meta box is read in one piece; everything else by ranges.
#include <cstring>

#include "container/boxes.h"
#include "container/container_walk.h"

namespace exifinfo {
namespace {

constexpr uint64_t kMaxTopLevelBoxes = 4096;
constexpr uint64_t kFullBoxBytes = 4;  // version and flags
constexpr int kMaxExifItems = 8;
constexpr uint64_t kMaxExtents = 64;
constexpr uint64_t kExifItemOffsetBytes = 4;  // an Exif item starts with the offset to its TIFF header
constexpr uint8_t kCanonUuid[16] = {0x85, 0xc0, 0xb6, 0x87, 0x82, 0x0f, 0x11, 0xe0,
                                    0x81, 0x11, 0xf4, 0xce, 0x46, 0x2b, 0x6a, 0x48};


// Where an item's bytes are: in the file, or in the meta box's idat.
struct ItemLocation {
  bool found = false;
  bool inIdat = false;
  uint64_t extentCount = 0;
  uint64_t offsets[kMaxExtents];
  uint64_t lengths[kMaxExtents];
};

// What the meta box says about the primary item and its Exif item.
struct MetaFacts {
  uint32_t primary = 0;
  bool hasPrimary = false;
  uint32_t exifItems[kMaxExifItems];
  int exifCount = 0;
  uint32_t exifItem = 0;  // the one chosen
  ItemLocation exif;
  uint32_t xmpItem = 0;  // the first mime item of type application/rdf+xml: an XMP packet
  bool hasXmpItem = false;
  ItemLocation xmp;
  uint64_t idatStart = 0, idatSize = 0;  // in the file
  bool hasIdat = false;
  uint64_t width = 0, height = 0;
  bool hasSize = false;
  int colour = -1;  // -1 unknown
};

void ParsePitm(ByteView box, MetaFacts& facts) {
  Cursor c(box);
  const uint64_t version = c.Read(1);
  c.Skip(3);
  facts.primary = static_cast<uint32_t>(c.Read(version == 0 ? 2 : 4));
  facts.hasPrimary = c.ok();
}

// iinf: the Exif items, from infe boxes of version 2 and 3.
void ParseIinf(ByteView box, MetaFacts& facts, bool& damaged) {
  Cursor c(box);
  const uint64_t version = c.Read(1);
  c.Skip(3);
  c.Read(version == 0 ? 2 : 4);  // entry count: the boxes themselves are walked
  if (!c.ok()) return void(damaged = true);
  Children entries(box, c.at());
  Box child;
  ByteView infe;
  while (entries.Next(child, infe)) {
    if (!IsType(child, "infe")) continue;
    Cursor e(infe);
    const uint64_t infeVersion = e.Read(1);
    e.Skip(3);
    if (infeVersion < 2) continue;
    const uint64_t id = e.Read(infeVersion == 2 ? 2 : 4);
    e.Skip(2);  // protection index
    const ByteView type = infe.Slice(e.at(), 4);
    if (e.ok() && type.size == 4 && std::memcmp(type.data, "Exif", 4) == 0 && facts.exifCount < kMaxExifItems)
      facts.exifItems[facts.exifCount++] = static_cast<uint32_t>(id);
    if (e.ok() && type.size == 4 && std::memcmp(type.data, "mime", 4) == 0 && !facts.hasXmpItem) {
      // The item's name, then its content type, each ending in a NUL.
      constexpr char kXmpType[] = "application/rdf+xml";
      const ByteView rest = infe.Slice(e.at() + 4, infe.size - e.at() - 4);
      const auto* nameEnd = static_cast<const uint8_t*>(std::memchr(rest.data, 0, rest.size));
      const size_t typeAt = nameEnd == nullptr ? rest.size : static_cast<size_t>(nameEnd - rest.data) + 1;
      const ByteView contentType = rest.Slice(typeAt, sizeof kXmpType);
      if (contentType.size == sizeof kXmpType && std::memcmp(contentType.data, kXmpType, sizeof kXmpType) == 0) {
        facts.xmpItem = static_cast<uint32_t>(id);
        facts.hasXmpItem = true;
      }
    }
  }
  damaged = damaged || entries.damaged;
}

// iref: the first Exif item that describes (cdsc) the primary item; else the first Exif item.
void ChooseExifItem(ByteView iref, MetaFacts& facts) {
  if (facts.exifCount == 0) return;
  facts.exifItem = facts.exifItems[0];
  if (iref.data == nullptr || !facts.hasPrimary) return;
  Cursor c(iref);
  const uint64_t idBytes = c.Read(1) == 0 ? 2 : 4;
  c.Skip(3);
  Children references(iref, c.at());
  Box child;
  ByteView reference;
  while (references.Next(child, reference)) {
    if (!IsType(child, "cdsc")) continue;
    Cursor r(reference);
    const uint64_t from = r.Read(idBytes);
    const uint64_t count = r.Read(2);
    for (uint64_t i = 0; i < count && r.ok(); ++i) {
      if (r.Read(idBytes) != facts.primary || !r.ok()) continue;
      for (int k = 0; k < facts.exifCount; ++k) {
        if (facts.exifItems[k] == from) {
          facts.exifItem = facts.exifItems[k];
          return;
        }
      }
    }
  }
}

// iloc: the chosen Exif item's extents, and the XMP item's. Other items are passed over by
// arithmetic, never looped.
void ParseIloc(ByteView box, MetaFacts& facts, bool& damaged) {
  Cursor c(box);
  const uint64_t version = c.Read(1);
  c.Skip(3);
  const uint64_t sizes = c.Read(2);
  const uint64_t offsetBytes = sizes >> 12, lengthBytes = sizes >> 8 & 15, baseBytes = sizes >> 4 & 15;
  const uint64_t indexBytes = version == 1 || version == 2 ? (sizes & 15) : 0;
  const auto valid = [](uint64_t n) { return n == 0 || n == 4 || n == 8; };
  if (version > 2 || !valid(offsetBytes) || !valid(lengthBytes) || !valid(baseBytes) || !valid(indexBytes)) {
    damaged = true;
    return;
  }
  const uint64_t itemCount = c.Read(version < 2 ? 2 : 4);
  const uint64_t extentBytes = indexBytes + offsetBytes + lengthBytes;
  for (uint64_t i = 0; i < itemCount && c.ok(); ++i) {
    const uint64_t id = c.Read(version < 2 ? 2 : 4);
    const uint64_t method = version >= 1 ? (c.Read(2) & 15) : 0;
    c.Skip(2);  // data reference index
    const uint64_t base = c.Read(baseBytes);
    const uint64_t extents = c.Read(2);
    const bool exif = facts.exifCount > 0 && id == facts.exifItem && !facts.exif.found;
    const bool xmp = facts.hasXmpItem && id == facts.xmpItem && !facts.xmp.found;
    if (!exif && !xmp) {
      c.Skip(extents * extentBytes);
      continue;
    }
    if (method > 1 || extents == 0 || extents > kMaxExtents) {
      damaged = damaged || exif;  // a malformed XMP item is passed over
      c.Skip(extents * extentBytes);
      continue;
    }
    ItemLocation& at = exif ? facts.exif : facts.xmp;
    at.inIdat = method == 1;
    at.extentCount = extents;
    for (uint64_t e = 0; e < extents; ++e) {
      c.Read(indexBytes);
      const uint64_t offset = c.Read(offsetBytes);
      at.lengths[e] = c.Read(lengthBytes);
      at.offsets[e] = offset > UINT64_MAX - base ? UINT64_MAX : base + offset;
    }
    at.found = c.ok();
  }
  if (!c.ok()) damaged = true;
}

// The primary item's properties: ispe for its size, pixi or its decoder configuration for colour.
void ReadProperty(const Box& box, ByteView contents, MetaFacts& facts, bool colourOnly) {
  Cursor c(contents);
  if (IsType(box, "ispe") && !colourOnly) {
    c.Skip(kFullBoxBytes);
    const uint64_t width = c.Read(4), height = c.Read(4);
    if (c.ok()) facts.width = width, facts.height = height, facts.hasSize = true;
  } else if (IsType(box, "pixi") && facts.colour < 0) {
    c.Skip(kFullBoxBytes);
    const uint64_t channels = c.Read(1);
    if (c.ok()) facts.colour = channels >= 3;
  } else if (IsType(box, "hvcC") && facts.colour < 0) {
    c.Skip(16);
    const uint64_t chroma = c.Read(1) & 3;  // chroma_format_idc: 0 is monochrome
    if (c.ok()) facts.colour = chroma != 0;
  } else if (IsType(box, "av1C") && facts.colour < 0) {
    c.Skip(2);
    const uint64_t flags = c.Read(1);  // the monochrome bit
    if (c.ok()) facts.colour = (flags & 0x10) == 0;
  }
}

void ParseIprp(ByteView iprp, MetaFacts& facts, bool& damaged) {
  ByteView ipco, ipma;
  Children parts(iprp);
  Box child;
  ByteView contents;
  while (parts.Next(child, contents)) {
    if (IsType(child, "ipco") && ipco.data == nullptr) ipco = contents;
    if (IsType(child, "ipma") && ipma.data == nullptr) ipma = contents;
  }
  if (ipco.data == nullptr || ipma.data == nullptr || !facts.hasPrimary) return;
  // The primary item's associations: 1-based property indices.
  uint16_t indices[256];
  int indexCount = 0;
  Cursor c(ipma);
  const uint64_t version = c.Read(1);
  const uint64_t flags = c.Read(3);
  const uint64_t entries = c.Read(4);
  for (uint64_t i = 0; i < entries && c.ok(); ++i) {
    const uint64_t id = c.Read(version < 1 ? 2 : 4);
    const uint64_t count = c.Read(1);
    for (uint64_t a = 0; a < count && c.ok(); ++a) {
      const uint64_t index = (flags & 1) != 0 ? (c.Read(2) & 0x7FFF) : (c.Read(1) & 0x7F);
      if (id == facts.primary && indexCount < 256) indices[indexCount++] = static_cast<uint16_t>(index);
    }
  }
  if (!c.ok()) damaged = true;
  Children properties(ipco);
  for (uint64_t index = 1; properties.Next(child, contents); ++index)
    for (int k = 0; k < indexCount; ++k)
      if (indices[k] == index) ReadProperty(child, contents, facts, false);
  if (facts.colour >= 0) return;
  // A derived primary (a grid) carries no decoder configuration: its tiles' tell the colour.
  Children any(ipco);
  while (any.Next(child, contents)) ReadProperty(child, contents, facts, true);
}

// The XMP item, when it lies in one piece: the packet as it is.
void ReadXmpItem(ContainerWalk& walk, const MetaFacts& facts, ExifReader& reader) {
  const ItemLocation& at = facts.xmp;
  uint64_t offset = at.offsets[0];
  const uint64_t length = at.lengths[0];
  if (at.extentCount != 1 || length == 0) return;
  if (at.inIdat) {
    if (!facts.hasIdat || offset > facts.idatSize || length > facts.idatSize - offset) return;
    offset += facts.idatStart;
  }
  ReadXmpAt(walk, offset, length, reader);
}

// The Exif item: its 4-byte offset to the TIFF header, then the block.
void ReadExifItem(ContainerWalk& walk, const MetaFacts& facts, ExifReader& reader) {
  const ItemLocation& at = facts.exif;
  uint64_t offset = at.offsets[0], length = at.lengths[0];
  if (at.extentCount != 1) {
    walk.damaged = true;  // an Exif item in pieces: not written by any known writer
    return;
  }
  if (at.inIdat) {
    if (!facts.hasIdat || offset > facts.idatSize || (length != 0 && length > facts.idatSize - offset)) {
      walk.damaged = true;
      return;
    }
    if (length == 0) length = facts.idatSize - offset;
    offset += facts.idatStart;
  } else if (length == 0) {
    length = kUnknownSize;  // to the end of the file
  }
  ReadExifItemAt(walk, offset, length, reader);
}

void ReadMeta(ContainerWalk& walk, const Box& meta, ExifReader& reader) {
  // Read in one piece, up to 1 MiB (a real meta box holds a few KiB; one that runs to the end of
  // a pipe has no size to go by); a child past what was read is cut or damaged like any other.
  const uint64_t declared = meta.end == kUnknownSize ? UINT64_MAX : meta.end - meta.contents;
  const size_t wanted = declared < RangeReader::kMaxFetchBytes ? static_cast<size_t>(declared) : RangeReader::kMaxFetchBytes;
  const ByteView bytes = walk.source.Fetch(meta.contents, wanted);
  if (bytes.size < wanted && meta.end != kUnknownSize && !walk.source.failed()) walk.truncated = true;
  if (bytes.size == 0) return;
  MetaFacts facts;
  ByteView iinf, iref, iloc, iprp;
  Children children(bytes, kFullBoxBytes);
  Box child;
  ByteView contents;
  while (children.Next(child, contents)) {
    if (IsType(child, "pitm")) ParsePitm(contents, facts);
    if (IsType(child, "iinf")) iinf = contents;
    if (IsType(child, "iref")) iref = contents;
    if (IsType(child, "iloc")) iloc = contents;
    if (IsType(child, "iprp")) iprp = contents;
    if (IsType(child, "idat")) {
      facts.hasIdat = true;
      facts.idatStart = meta.contents + child.contents;
      facts.idatSize = contents.size;
    }
  }
  // A child that runs past what was read is cut off with the meta box, not malformed.
  bool damaged = children.damaged && bytes.size == declared;
  if (iinf.data != nullptr) ParseIinf(iinf, facts, damaged);
  ChooseExifItem(iref, facts);
  if ((facts.exifCount > 0 || (facts.hasXmpItem && reader.gathersExtras())) && iloc.data != nullptr)
    ParseIloc(iloc, facts, damaged);
  if (iprp.data != nullptr) ParseIprp(iprp, facts, damaged);
  if (damaged) walk.damaged = true;
  if (facts.hasSize) walk.SetFrame(facts.width, facts.height, facts.colour > 0 ? 1 : 0);
  // The meta box's bytes are not looked at again: the next fetch may reuse them.
  if (facts.exif.found) ReadExifItem(walk, facts, reader);
  if (facts.xmp.found) ReadXmpItem(walk, facts, reader);
}

// CR3: moov holds a uuid box whose CMT1 box is IFD0 as a TIFF block, CMT2 the EXIF directory
// and CMT4 the GPS directory, each as a TIFF block of its own.
void ReadCanonMoov(ContainerWalk& walk, const Box& moov, ExifReader& reader) {
  uint64_t at = moov.contents;  // an end of kUnknownSize (to the end of a pipe) is a bound like any other
  for (uint64_t n = 0; n < kMaxChildBoxes && at < moov.end; ++n) {
    const ByteView header = walk.source.Fetch(at, 24);  // the header, and a uuid box's uuid
    Box box;
    if (header.size < 8) return void(walk.truncated = !walk.source.failed());
    // Children are held to the input's end, not their parent's: a moov that runs to the end of
    // a pipe has no end to hold them to, and the walk reads the same either way.
    if (!ParseBoxHeader(header, at, kUnknownSize, box)) return void(walk.damaged = true);
    if (IsType(box, "uuid") && header.size >= box.contents - at + 16 &&
        std::memcmp(header.At(box.contents - at), kCanonUuid, 16) == 0) {
      TiffPart parts[3] = {};
      const char* const names[3] = {"CMT1", "CMT2", "CMT4"};
      uint64_t inner = box.contents + 16;
      for (uint64_t m = 0; m < kMaxChildBoxes && inner < box.end; ++m) {
        const ByteView h = walk.source.Fetch(inner, 16);
        Box part;
        if (h.size < 8) {
          walk.truncated = !walk.source.failed();
          break;
        }
        if (!ParseBoxHeader(h, inner, kUnknownSize, part)) {
          walk.damaged = true;
          break;
        }
        for (int k = 0; k < 3; ++k)
          if (IsType(part, names[k]))
            parts[k] = TiffPart{part.contents, part.end == kUnknownSize ? kUnknownSize : part.end - part.contents, true};
        inner = part.end;
      }
      TiffFrame frame;  // CMT1 is IFD0 of the main image: its size, as a TIFF's
      if (ReadTiffParts(walk, parts, reader, &frame)) walk.SetFrame(static_cast<uint64_t>(frame.width),
                                                                    static_cast<uint64_t>(frame.height), frame.isColor);
      return;
    }
    at = box.end;
  }
}

}  // namespace

void ReadExifItemAt(ContainerWalk& walk, uint64_t offset, uint64_t length, ExifReader& reader) {
  const ByteView head = walk.Need(offset, kExifItemOffsetBytes);
  if (head.size == 0) return;
  const uint64_t toHeader = ReadU32Big(head.data);
  if (length < kExifItemOffsetBytes || (length != kUnknownSize && toHeader > length - kExifItemOffsetBytes)) {
    walk.damaged = true;  // the offset points outside the item
    return;
  }
  const uint64_t block = offset + kExifItemOffsetBytes + toHeader;
  ReadTiffBlock(walk, block, length == kUnknownSize ? kUnknownSize : length - kExifItemOffsetBytes - toHeader,
                reader, nullptr);
}

namespace {

constexpr size_t kJxlSizeHeaderBytes = 12;  // the signature and the largest size header (2 + 1 + 2 x 32 bits + 3)

// A JPEG XL codestream's size header (after its signature FF 0A), bits read from each byte's
// least significant on: `small` then 5-bit eighths, or a 2-bit selector of 9, 13, 18 or 30 bits;
// the width from a 3-bit ratio of the height, or coded the same way. False when it is no
// codestream.
bool JxlSize(ByteView head, uint64_t& width, uint64_t& height) {
  if (head.size < 2 || head.data[0] != 0xFF || head.data[1] != 0x0A) return false;
  uint64_t bit = 16;
  const auto bits = [&](int n) {
    uint64_t value = 0;
    for (int k = 0; k < n; ++k, ++bit)
      if (bit / 8 < head.size) value |= uint64_t{(head.data[bit / 8] >> (bit % 8)) & 1u} << k;
    return value;
  };
  const bool small = bits(1) != 0;
  const auto dimension = [&] {
    if (small) return (bits(5) + 1) * 8;
    static constexpr int kBits[] = {9, 13, 18, 30};
    return bits(kBits[bits(2)]) + 1;
  };
  height = dimension();
  static constexpr uint64_t kRatios[8][2] = {{0, 0}, {1, 1}, {12, 10}, {4, 3}, {3, 2}, {16, 9}, {5, 4}, {2, 1}};
  const uint64_t ratio = bits(3);
  width = ratio == 0 ? dimension() : height * kRatios[ratio][0] / kRatios[ratio][1];
  return bit <= head.size * 8;
}

}  // namespace

void ReadXmpUuid(ContainerWalk& walk, const Box& box, ExifReader& reader) {
  if (box.end - box.contents < kUuidBytes) return;
  const ByteView uuid = walk.Need(box.contents, kUuidBytes);
  if (uuid.size == kUuidBytes && std::memcmp(uuid.data, kXmpUuid, kUuidBytes) == 0)
    ReadXmpAt(walk, box.contents + kUuidBytes, box.end - box.contents - kUuidBytes, reader);
}

void WalkIsoBaseMedia(ContainerWalk& walk, Container container, ExifReader& reader) {
  uint64_t at = 0;
  const uint64_t end = walk.source.size();
  bool exifRead = false, sized = false;
  for (uint64_t n = 0; n < kMaxTopLevelBoxes && at < end; ++n) {
    const ByteView header = walk.source.Fetch(at, 16);
    if (header.size == 0) return;  // the end of the input between boxes: nothing more to find
    Box box;
    if (header.size < 8) return void(walk.truncated = true);
    if (!ParseBoxHeader(header, at, kUnknownSize, box)) return void(walk.damaged = true);
    if (box.end == kUnknownSize) box.end = end;  // size 0: to the end of the file
    // A box cut by the end of the input is walked as it says it is: what it holds before the
    // cut is still read, and a read past the end says the input was cut.
    if (container == Container::kCr3 && IsType(box, "moov")) {
      ReadCanonMoov(walk, box, reader);
      if (!reader.gathersExtras()) return;  // else on to the XMP box that follows, up to the media
      ReadMovieHeaders(walk, box, reader);
    }
    if (container == Container::kCr3 && IsType(box, "mdat")) return;
    if (container == Container::kCr3 && IsType(box, "uuid") && box.end != kUnknownSize && reader.gathersExtras())
      ReadXmpUuid(walk, box, reader);
    if ((container == Container::kHeif || container == Container::kAvif) && IsType(box, "meta"))
      return ReadMeta(walk, box, reader);
    // JPEG XL: the Exif box, and the codestream's first bytes for the image's size (the record's
    // alone: the report's frame of a JPEG XL stays 0 x 0), in either order.
    if (container == Container::kJxl && IsType(box, "Exif")) {
      ReadExifItemAt(walk, box.contents, box.end == kUnknownSize ? kUnknownSize : box.end - box.contents, reader);
      if (sized) return;
      exifRead = true;
    }
    if (container == Container::kJxl && IsType(box, "xml ") && box.end != kUnknownSize)
      ReadXmpAt(walk, box.contents, box.end - box.contents, reader);
    if (container == Container::kJxl && (IsType(box, "jxlc") || IsType(box, "jxlp")) && !sized) {
      // A partial codestream box starts with its 4-byte index.
      const uint64_t codestream = box.contents + (IsType(box, "jxlp") ? 4 : 0);
      const uint64_t inBox = box.end > codestream ? box.end - codestream : 0;  // never past the box
      const ByteView head = walk.source.Fetch(codestream, static_cast<size_t>(inBox < kJxlSizeHeaderBytes ? inBox : kJxlSizeHeaderBytes));
      uint64_t width = 0, height = 0;
      if (JxlSize(head, width, height)) reader.NoteImageSize(width, height);
      sized = true;
      if (exifRead) return;
    }
    if (box.end == kUnknownSize) return;
    at = box.end;
  }
  // The last box ran past the end: the box the walk looks for may have been cut off.
  if (end != kUnknownSize && at > end) walk.truncated = true;
}

}  // namespace exifinfo
