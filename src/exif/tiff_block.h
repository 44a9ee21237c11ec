// SPDX-License-Identifier: MIT
// A TIFF block wherever it lies: bytes in memory (a JPEG's EXIF section copy, an EXIF block a
// container gave whole), or a stretch of a file read in place through the range reader, where
// only the directories and values a walk asks for are fetched. Either way every read is
// bounded by the block, and offsets count from its byte-order mark.
#pragma once

#include <cstdint>

#include "io/byte_view.h"
#include "io/range_reader.h"

namespace exifinfo {

// The bytes fetched from a file for the walks of one read, kept until the read is over: the
// record and the values beyond it hold views into them (texts, the thumbnail), as they hold
// views into a JPEG's section copies.
class HeldBytes {
 public:
  // What one read may hold: twice what it may fetch (kReadBudget), as values that overlap are
  // held apart. Past it a hostile layout (thousands of long texts a few bytes apart) would have
  // every copy made; the read ends as cut instead.
  static constexpr uint64_t kMaxBytes = 2 * kReadBudget.bytes;

  HeldBytes() = default;
  ~HeldBytes();
  HeldBytes(const HeldBytes&) = delete;
  HeldBytes& operator=(const HeldBytes&) = delete;
  // The held bytes [offset, offset + count) of the file, when one fetch holds them all.
  uint8_t* Find(uint64_t offset, uint64_t count) const;
  // A copy of `bytes`, the file's from `offset` on; null when memory ran out or full().
  uint8_t* Keep(uint64_t offset, ByteView bytes);
  // Holding more would pass kMaxBytes.
  bool full() const { return full_; }

 private:
  struct Chunk;
  Chunk* newest_ = nullptr;
  uint64_t bytes_ = 0;
  bool full_ = false;
};

// How an in-place block's fetches went: the walk's outcome is judged from these.
struct FetchFaults {
  bool truncated = false;    // the input ended before bytes the structure points at, or the
                             // read held all it may (HeldBytes::kMaxBytes)
  bool outOfMemory = false;
};

class TiffBlock {
 public:
  // In memory: `bytes` from the byte-order mark to the block's end; `base`, where they lie in
  // their input.
  TiffBlock(MutableByteView bytes, bool bigEndian, bool bigTiff = false, uint64_t base = 0)
      : bytes_(bytes), size_(bytes.size), bigEndian_(bigEndian), bigTiff_(bigTiff), base_(base) {}
  // In place: the `size` bytes of `reader`'s input from `base` (kUnknownSize: to its end),
  // fetched into `held`. `faults` notes what the fetches met.
  TiffBlock(RangeReader& reader, HeldBytes& held, FetchFaults& faults, uint64_t base, uint64_t size, bool bigEndian,
            bool bigTiff)
      : size_(size), bigEndian_(bigEndian), bigTiff_(bigTiff), reader_(&reader), held_(&held), faults_(&faults),
        base_(base) {}

  uint64_t size() const { return size_; }
  bool bigEndian() const { return bigEndian_; }
  // BigTIFF's layout: 8-byte counts and offsets, 20-byte entries.
  bool bigTiff() const { return bigTiff_; }
  bool inPlace() const { return reader_ != nullptr; }
  // Where the block's byte 0 lies in its input (0 for a block in memory): keeps the
  // directories of the blocks of one read apart.
  uint64_t base() const { return base_; }
  bool Has(uint64_t offset, uint64_t count) const { return offset <= size_ && count <= size_ - offset; }

  // The bytes [offset, offset + count) when all of them lie in the block and the input has
  // them; else null.
  const uint8_t* At(uint64_t offset, uint64_t count) const {
    if (!Has(offset, count)) return nullptr;
    if (__builtin_expect(reader_ == nullptr, 1)) return bytes_.data + offset;
    return FetchAt(offset, count);
  }
  // Up to `count` bytes from `offset`: fewer where the block or the input ends (texts read as
  // far as they go).
  ByteView Span(uint64_t offset, uint64_t count) const {
    if (offset >= size_) return ByteView{};
    if (count > size_ - offset) count = size_ - offset;
    if (__builtin_expect(reader_ == nullptr, 1)) return ByteView{bytes_.data + offset, static_cast<size_t>(count)};
    return Fetch(offset, count, true);
  }
  // The same bytes, writable: an in-place block's are its own held copy.
  MutableByteView MutableSpan(uint64_t offset, uint64_t count) const {
    const ByteView bytes = Span(offset, count);
    return MutableByteView{const_cast<uint8_t*>(bytes.data), bytes.size};
  }
  // Whether the input holds the bytes [offset, offset + count) of the block, without keeping
  // them: a block in place whose end is not known learns it from the value's last byte.
  bool Reaches(uint64_t offset, uint64_t count) const {
    if (!Has(offset, count)) return false;
    return reader_ == nullptr || count == 0 || size_ != kUnknownSize || ReachesInPlace(offset + count - 1);
  }
  uint8_t ByteOrZero(uint64_t offset) const {
    const uint8_t* p = At(offset, 1);
    return p != nullptr ? *p : 0;
  }

  // Checked reads: false, and `out` untouched, unless every byte lies inside the block.
  bool U16At(uint64_t offset, uint16_t& out) const {
    const uint8_t* p = At(offset, 2);
    if (p == nullptr) return false;
    out = ReadU16(p, bigEndian_);
    return true;
  }
  bool U32At(uint64_t offset, uint32_t& out) const {
    const uint8_t* p = At(offset, 4);
    if (p == nullptr) return false;
    out = ReadU32(p, bigEndian_);
    return true;
  }

 private:
  ByteView Fetch(uint64_t offset, uint64_t count, bool partial) const;
  bool ReachesInPlace(uint64_t last) const;
  // The in-place path of At, kept out of line: a walk in memory pays one test for it.
  __attribute__((noinline, cold)) const uint8_t* FetchAt(uint64_t offset, uint64_t count) const;

  MutableByteView bytes_{};
  uint64_t size_;
  bool bigEndian_;
  bool bigTiff_ = false;
  RangeReader* reader_ = nullptr;
  HeldBytes* held_ = nullptr;
  FetchFaults* faults_ = nullptr;
  uint64_t base_ = 0;
};

}  // namespace exifinfo
