// SPDX-License-Identifier: MIT
// The boxes of ISO base media files (HEIF, AVIF, CR3, JPEG XL, MP4, QuickTime): a box's header,
// checked reads along its contents, and its children in memory.
#pragma once

#include <cstdint>
#include <cstring>

#include "container/container_walk.h"

namespace exifinfo {

constexpr uint64_t kMaxChildBoxes = 65536;

// Checked big-endian reads along a box's contents; a read past the end sets `ok` false and
// gives 0, so a parse reads on to its end and then looks at `ok` once.
class Cursor {
 public:
  explicit Cursor(ByteView bytes, uint64_t at = 0) : bytes_(bytes), at_(at) {}
  uint64_t Read(uint64_t width) {  // 0, 1, 2, 4 or 8 bytes
    if (!bytes_.Has(at_, width)) {
      ok_ = false;
      at_ = bytes_.size;
      return 0;
    }
    uint64_t value = 0;
    for (uint64_t i = 0; i < width; ++i) value = value << 8 | bytes_.data[at_ + i];
    at_ += width;
    return value;
  }
  void Skip(uint64_t count) {
    if (!bytes_.Has(at_, count)) ok_ = false, at_ = bytes_.size;
    else at_ += count;
  }
  bool ok() const { return ok_; }
  uint64_t at() const { return at_; }

 private:
  ByteView bytes_;
  uint64_t at_;
  bool ok_ = true;
};

struct Box {
  char type[4];
  uint64_t contents;  // where the contents start (in the parent's numbering)
  uint64_t end;       // one past the last byte; kUnknownSize: to the end of the input
};

// A box header at `at`, given the header's bytes (at least 8, 16 when there are). Size 0 runs
// to `parentEnd`, size 1 has a 64-bit size after the type. False for a size that cannot be.
inline bool ParseBoxHeader(ByteView header, uint64_t at, uint64_t parentEnd, Box& box) {
  if (header.size < 8) return false;
  std::memcpy(box.type, header.At(4), 4);
  const uint64_t size = ReadU32Big(header.data);
  if (size == 0) {
    box.contents = at + 8;
    box.end = parentEnd;
    return true;
  }
  if (size == 1) {
    if (header.size < 16) return false;
    const uint64_t large = ReadU64(header.At(8), true);
    if (large < 16 || (parentEnd != kUnknownSize && large > parentEnd - at) || large > UINT64_MAX - at) return false;
    box.contents = at + 16;
    box.end = at + large;
    return true;
  }
  if (size < 8 || (parentEnd != kUnknownSize && size > parentEnd - at)) return false;
  box.contents = at + 8;
  box.end = at + size;
  return true;
}

// The children of a box in memory, one by one.
class Children {
 public:
  explicit Children(ByteView parent, uint64_t from = 0) : parent_(parent), at_(from) {}
  // The next child; false at the end or at a child that cannot be (`damaged` then says so).
  bool Next(Box& box, ByteView& contents) {
    if (at_ >= parent_.size || ++count_ > kMaxChildBoxes) return false;
    const uint64_t left = parent_.size - at_;
    const ByteView header = parent_.Slice(at_, left < 16 ? left : 16);
    if (!ParseBoxHeader(header, at_, parent_.size, box)) {
      damaged = true;
      return false;
    }
    contents = parent_.Slice(box.contents, box.end - box.contents);
    at_ = box.end;
    return true;
  }
  bool damaged = false;

 private:
  ByteView parent_;
  uint64_t at_;
  uint64_t count_ = 0;
};

inline bool IsType(const Box& box, const char* type) { return std::memcmp(box.type, type, 4) == 0; }

// The uuid box that holds an XMP packet (a CR3's, an MP4's) after its 16 bytes of UUID.
constexpr uint8_t kXmpUuid[16] = {0xbe, 0x7a, 0xcf, 0xcb, 0x97, 0xa9, 0x42, 0xe8,
                                  0x9c, 0x71, 0x99, 0x94, 0x91, 0xe3, 0xaf, 0xac};
constexpr uint64_t kUuidBytes = 16;

}  // namespace exifinfo
