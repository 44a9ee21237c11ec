// SPDX-License-Identifier: MIT
// The chunked containers: PNG (big-endian lengths, a CRC after each chunk) and WebP (RIFF:
// little-endian sizes, chunks padded to even). Chunks are passed over by their length; only the
// headers and the few chunks the metadata lives in are read.
#include <cstring>

#include "container/container_walk.h"

namespace exifinfo {
namespace {

constexpr uint64_t kPngSignatureBytes = 8;
constexpr uint64_t kPngChunkHeaderBytes = 8;  // length, type
constexpr uint64_t kPngCrcBytes = 4;
constexpr uint64_t kPngIhdrBytes = 13;
constexpr uint32_t kPngMaxChunkLength = 0x7FFFFFFF;
constexpr uint8_t kPngColourTypeColour = 2;  // the colour bit of IHDR's colour type (2, 3, 6)
constexpr uint64_t kMaxChunks = uint64_t{1} << 20;  // a walk's bound, far past any real file

constexpr uint64_t kRiffHeaderBytes = 12;  // "RIFF", size, "WEBP"
constexpr uint64_t kRiffChunkHeaderBytes = 8;

bool IsType(ByteView header, uint64_t at, const char* type) { return std::memcmp(header.At(at), type, 4) == 0; }

// VP8X: flags, three reserved bytes, canvas width - 1 and height - 1 in 24 bits each.
void ReadVp8xFrame(ContainerWalk& walk, uint64_t at, uint64_t size) {
  if (size < 10) return;
  const ByteView b = walk.Need(at, 10);
  if (b.size == 0) return;
  const auto u24 = [&](uint64_t i) { return uint64_t{b.data[i]} | uint64_t{b.data[i + 1]} << 8 | uint64_t{b.data[i + 2]} << 16; };
  walk.SetFrame(1 + u24(4), 1 + u24(7), 1);
}

// VP8 (lossy): a 3-byte frame tag, the start code 9D 01 2A, then 14-bit width and height.
// VP8L (lossless): the signature 0x2F, then width - 1 and height - 1 in 14 bits each.
void ReadBitstreamFrame(ContainerWalk& walk, uint64_t at, uint64_t size, bool lossless) {
  if (size < 10) return;
  const ByteView b = walk.Need(at, 10);
  if (b.size == 0) return;
  if (lossless) {
    if (b.data[0] != 0x2F) return;
    const uint32_t bits = ReadU32Little(b.At(1));
    walk.SetFrame(1 + (bits & 0x3FFF), 1 + (bits >> 14 & 0x3FFF), 1);
  } else {
    if (b.data[3] != 0x9D || b.data[4] != 0x01 || b.data[5] != 0x2A) return;
    walk.SetFrame(ReadU16(b.At(6), false) & 0x3FFFu, ReadU16(b.At(8), false) & 0x3FFFu, 1);
  }
}

}  // namespace

void WalkPng(ContainerWalk& walk, ExifReader& reader) {
  uint64_t at = kPngSignatureBytes;
  bool exifRead = false;  // then the walk ends at the image data: what comes after is rarely metadata
  for (uint64_t chunks = 0; chunks < kMaxChunks; ++chunks) {
    const ByteView header = walk.Need(at, kPngChunkHeaderBytes);
    if (header.size == 0) return;  // cut before IEND
    const uint32_t length = ReadU32Big(header.data);
    if (length > kPngMaxChunkLength) {
      walk.damaged = true;
      return;
    }
    const uint64_t data = at + kPngChunkHeaderBytes;
    if (chunks == 0) {
      // IHDR first: width, height, bit depth, colour type.
      if (!IsType(header, 4, "IHDR") || length < kPngIhdrBytes) {
        walk.damaged = true;
        return;
      }
      const ByteView ihdr = walk.Need(data, kPngIhdrBytes);
      if (ihdr.size == 0) return;
      walk.SetFrame(ReadU32Big(ihdr.data), ReadU32Big(ihdr.At(4)), (ihdr.data[9] & kPngColourTypeColour) != 0);
    } else if (IsType(header, 4, "eXIf") && !exifRead) {
      ReadExifBlock(walk, data, length, reader);
      exifRead = true;
      if (!reader.gathersExtras()) return;
    } else if (IsType(header, 4, "tEXt") || IsType(header, 4, "zTXt") || IsType(header, 4, "iTXt")) {
      // EXIF's older form in a text chunk (an eXIf chunk later in the file still wins), or XMP.
      ReadTextChunk(walk, data, length, IsType(header, 4, "zTXt"), IsType(header, 4, "iTXt"), exifRead, reader);
    } else if (IsType(header, 4, "IEND") || (exifRead && IsType(header, 4, "IDAT"))) {
      return;
    }
    at = data + length + kPngCrcBytes;
  }
  walk.damaged = true;
}

void WalkWebp(ContainerWalk& walk, ExifReader& reader) {
  const ByteView riff = walk.Need(0, kRiffHeaderBytes);
  if (riff.size == 0) return;
  // The RIFF size counts from after itself; chunks past it are not part of the file.
  const uint64_t end = uint64_t{8} + ReadU32Little(riff.At(4));
  bool hasCanvas = false;
  uint64_t at = kRiffHeaderBytes;
  for (uint64_t chunks = 0; chunks < kMaxChunks && at < end; ++chunks) {
    if (end - at < kRiffChunkHeaderBytes) {
      walk.damaged = true;  // odd padding or a size that ends inside a chunk header
      return;
    }
    const ByteView header = walk.Need(at, kRiffChunkHeaderBytes);
    if (header.size == 0) return;
    const uint64_t size = ReadU32Little(header.At(4));
    const uint64_t data = at + kRiffChunkHeaderBytes;
    if (size > end - data) {
      walk.damaged = true;
      return;
    }
    if (IsType(header, 0, "VP8X")) {
      ReadVp8xFrame(walk, data, size);
      hasCanvas = walk.hasFrame;
    } else if ((IsType(header, 0, "VP8 ") || IsType(header, 0, "VP8L")) && !hasCanvas && !walk.hasFrame) {
      ReadBitstreamFrame(walk, data, size, IsType(header, 0, "VP8L"));
    } else if (IsType(header, 0, "EXIF")) {
      ReadExifBlock(walk, data, size, reader);
      if (!reader.gathersExtras()) return;
    } else if (IsType(header, 0, "XMP ")) {
      ReadXmpAt(walk, data, size, reader);
    }
    at = data + size + (size & 1);
  }
}

}  // namespace exifinfo
