// SPDX-License-Identifier: MIT
// What the container walks share: how a walk went, the frame values it found, and the step
// that hands an EXIF block at a place in the file to the walker.
#pragma once

#include <cstdint>

#include "container/containers.h"
#include "container/tiff_compact.h"

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
  void SetFrame(uint64_t w, uint64_t h, int32_t colour) {
    hasFrame = true;
    width = w > INT32_MAX ? INT32_MAX : static_cast<int32_t>(w);
    height = h > INT32_MAX ? INT32_MAX : static_cast<int32_t>(h);
    isColor = colour;
  }
};

// Hands the TIFF block at `offset` (at most `length` bytes; kUnknownSize: to the end) to the
// walker, with its outcome noted in `walk`. True when its IFD0 was read (`frame`, when not
// null, then holds IFD0's frame values).
bool ReadTiffBlock(ContainerWalk& walk, uint64_t offset, uint64_t length, ExifReader& reader, TiffFrame* frame);
// The same for TIFF blocks a container keeps apart (see CompactTiffParts).
bool ReadTiffParts(ContainerWalk& walk, const TiffPart (&parts)[kTiffParts], ExifReader& reader, TiffFrame* frame);
// An item or box that starts with the 4-byte big-endian offset from its fifth byte to its TIFF
// header (HEIF's Exif item, JPEG XL's Exif box), `length` bytes long (kUnknownSize: to the end).
void ReadExifItemAt(ContainerWalk& walk, uint64_t offset, uint64_t length, ExifReader& reader);
// The same for an EXIF block that may start with "Exif" 0 0 before its TIFF header.
void ReadExifBlock(ContainerWalk& walk, uint64_t offset, uint64_t length, ExifReader& reader);

void WalkIsoBaseMedia(ContainerWalk& walk, Container container, ExifReader& reader);
void WalkPng(ContainerWalk& walk, ExifReader& reader);
void WalkWebp(ContainerWalk& walk, ExifReader& reader);

}  // namespace exifinfo
