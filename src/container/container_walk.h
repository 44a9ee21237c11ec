// SPDX-License-Identifier: MIT
// What the container walks share: how a walk went, the frame values it found, and the step
// that hands an EXIF block at a place in the file to the walker.
#pragma once

#include <cstring>

#include <cstdint>

#include "container/containers.h"
#include "exif/exif_reader.h"
#include "io/range_reader.h"

namespace exifinfo {

inline uint32_t ReadU32Big(const uint8_t* p) { return ReadU32(p, true); }
inline uint32_t ReadU32Little(const uint8_t* p) { return ReadU32(p, false); }

// One container walk: its findings and the worst thing it met.
struct ContainerWalk {
  explicit ContainerWalk(RangeReader& r) : source(r) {}
  RangeReader& source;
  bool truncated = false;  // the input ended inside a structure the walk needed
  bool damaged = false;    // a structure the walk needed is malformed
  bool outOfMemory = false;
  bool hasFrame = false;
  int32_t width = 0, height = 0, isColor = 0;

  // The bytes [offset, offset + count), all of them or an empty view (the reason noted).
  ByteView Need(uint64_t offset, uint64_t count) {
    if (count > RangeReader::kMaxFetchBytes) {
      damaged = true;
      return ByteView{};
    }
    const ByteView bytes = source.Fetch(offset, static_cast<size_t>(count));
    if (bytes.size == count) return bytes;
    if (!source.failed() && !source.outOfMemory()) truncated = true;
    return ByteView{};
  }
  // The bytes [offset, offset + count) copied to `out` a piece at a time, each from the window
  // that holds it or fetched: a view across a window's end would read that window again. False
  // (the reason noted) when the input ends first.
  bool Copy(uint64_t offset, uint64_t count, uint8_t* out) {
    for (uint64_t got = 0; got < count;) {
      ByteView piece = source.Cached(offset + got);
      if (piece.size == 0) {
        const uint64_t rest = count - got;
        piece = source.Fetch(offset + got, static_cast<size_t>(rest < RangeReader::kMaxFetchBytes ? rest : RangeReader::kMaxFetchBytes));
      }
      if (piece.size == 0) {
        if (!source.failed() && !source.outOfMemory()) truncated = true;
        return false;
      }
      const uint64_t n = piece.size < count - got ? piece.size : count - got;
      std::memcpy(out + got, piece.data, static_cast<size_t>(n));
      got += n;
    }
    return true;
  }
  void SetFrame(uint64_t w, uint64_t h, int32_t colour) {
    hasFrame = true;
    width = w > INT32_MAX ? INT32_MAX : static_cast<int32_t>(w);
    height = h > INT32_MAX ? INT32_MAX : static_cast<int32_t>(h);
    isColor = colour;
  }
};

struct Box;

// One TIFF block of a container: its header's place and the bytes it may use from there
// (kUnknownSize: to the end of the input).
struct TiffPart {
  uint64_t base = 0;
  uint64_t limit = kUnknownSize;
  bool present = false;
};
// A container's TIFF blocks: IFD0's, and the EXIF and GPS directories' where it keeps them apart.
constexpr int kTiffParts = 3;

struct TiffFrame {
  int32_t width = 0;    // IFD0's ImageWidth (0x0100)
  int32_t height = 0;   // IFD0's ImageLength (0x0101)
  int32_t isColor = 0;  // 1 when IFD0 has three or more samples a pixel or a colour photometric
};

// Hands the TIFF block at `offset` (at most `length` bytes; kUnknownSize: to the end) to the
// walker, with its outcome noted in `walk`. True when its IFD0 was read (`frame`, when not
// null, then holds IFD0's frame values).
bool ReadTiffBlock(ContainerWalk& walk, uint64_t offset, uint64_t length, ExifReader& reader, TiffFrame* frame);
// The same for TIFF blocks a container keeps apart: parts[0] gives IFD0 and all it links;
// parts[1] and parts[2], when present, give their first directory as the EXIF and the GPS
// directory in place of IFD0's links of those kinds.
bool ReadTiffParts(ContainerWalk& walk, const TiffPart (&parts)[kTiffParts], ExifReader& reader, TiffFrame* frame);
// An item or box that starts with the 4-byte big-endian offset from its fifth byte to its TIFF
// header (HEIF's Exif item, JPEG XL's Exif box), `length` bytes long (kUnknownSize: to the end).
void ReadExifItemAt(ContainerWalk& walk, uint64_t offset, uint64_t length, ExifReader& reader);
// The same for an EXIF block that may start with "Exif" 0 0 before its TIFF header.
void ReadExifBlock(ContainerWalk& walk, uint64_t offset, uint64_t length, ExifReader& reader);

// A TIFF block the read copied or decoded itself (`bytes`, copied here), held at `base` (its
// offset in the file, or one no file has). True when its IFD0 was read. `recordOnly`: its
// values are the record's alone (ExifReader::WalkForRecordOnly); otherwise it is a decoded
// block, whose thumbnail is not taken (a result's thumbnail is bytes of the file).
bool ReadTiffInMemory(ContainerWalk& walk, ByteView bytes, uint64_t base, ExifReader& reader, bool recordOnly = false);
// A PNG text chunk (tEXt, zTXt or iTXt) at `offset`: when its keyword names a raw EXIF profile,
// its block is decoded and walked (unless `exifRead`: an EXIF block was read already); an XMP
// packet or IPTC block, in iTXt or the same raw form, is kept for the read's end. True when the
// chunk held EXIF and its IFD0 was read.
bool ReadTextChunk(ContainerWalk& walk, uint64_t offset, uint64_t length, bool zTxt, bool iTxt, bool exifRead,
                   ExifReader& reader);
// An XMP packet that fills `length` bytes at `offset` (a WebP chunk, a JPEG XL box): kept for
// the read's end; one larger than a packet may be is noted and not fetched.
void ReadXmpAt(ContainerWalk& walk, uint64_t offset, uint64_t length, ExifReader& reader);

void WalkIsoBaseMedia(ContainerWalk& walk, Container container, ExifReader& reader);
void WalkMovie(ContainerWalk& walk, ExifReader& reader);
// A raw file's movie box (CR3) for the record: the movie header's times and length and the video
// track's rotation; the frame stays the photo's own.
void ReadMovieHeaders(ContainerWalk& walk, const Box& moov, ExifReader& reader);
void WalkPng(ContainerWalk& walk, ExifReader& reader);
void WalkWebp(ContainerWalk& walk, ExifReader& reader);

}  // namespace exifinfo
