// SPDX-License-Identifier: MIT
// Bounded windows on bytes owned elsewhere (a section copy, or the TIFF block inside it).
// Positions are offsets from the start of the view, which is what links in the file are too.
#pragma once

#include <cstddef>
#include <cstdint>

namespace exifinfo {

// A JPEG section's layout: its big-endian length comes first and counts itself; an APP1 EXIF
// section's contents then start with "Exif", 0, 0 and the TIFF block follows.
constexpr size_t kSectionLengthBytes = 2;
constexpr size_t kExifHeaderBytes = 6;

// The one way 16-, 32- and 64-bit numbers are read from file bytes; p must point at as many
// readable bytes as the width read.
inline uint16_t ReadU16(const uint8_t* p, bool bigEndian) {
  return bigEndian ? static_cast<uint16_t>(p[0] << 8 | p[1]) : static_cast<uint16_t>(p[1] << 8 | p[0]);
}
inline uint32_t ReadU32(const uint8_t* p, bool bigEndian) {
  const uint32_t b0 = p[0], b1 = p[1], b2 = p[2], b3 = p[3];
  return bigEndian ? (b0 << 24 | b1 << 16 | b2 << 8 | b3) : (b3 << 24 | b2 << 16 | b1 << 8 | b0);
}
inline uint64_t ReadU64(const uint8_t* p, bool bigEndian) {
  const uint64_t first = ReadU32(p, bigEndian), second = ReadU32(p + 4, bigEndian);
  return bigEndian ? (first << 32 | second) : (second << 32 | first);
}

struct ByteView {
  const uint8_t* data = nullptr;
  size_t size = 0;

  // "Is there room": written so that no sum can wrap.
  bool Has(uint64_t offset, uint64_t count) const { return offset <= size && count <= size - offset; }
  // Total read: past the end reads as 0. Only where a short read has a meaning of its own.
  uint8_t ByteOrZero(uint64_t offset) const { return offset < size ? data[offset] : 0; }
  // The caller has checked Has(offset, count).
  const uint8_t* At(uint64_t offset) const { return data + offset; }
  // The bytes [offset, offset + count), or an empty view when they do not all lie inside.
  ByteView Slice(uint64_t offset, uint64_t count) const {
    if (!Has(offset, count)) return ByteView{};
    return ByteView{data + offset, static_cast<size_t>(count)};
  }
};

// The one kind of view that may change file bytes: the user-comment step edits the section copy
// in place, and every later read of those bytes sees the change.
struct MutableByteView {
  uint8_t* data = nullptr;
  size_t size = 0;

  operator ByteView() const { return ByteView{data, size}; }
  bool Has(uint64_t offset, uint64_t count) const { return offset <= size && count <= size - offset; }
  uint8_t* At(uint64_t offset) const { return data + offset; }
  MutableByteView Slice(uint64_t offset, uint64_t count) const {
    if (!Has(offset, count)) return MutableByteView{};
    return MutableByteView{data + offset, static_cast<size_t>(count)};
  }
};

}  // namespace exifinfo
