// SPDX-License-Identifier: MIT
// Random access to a photo's bytes for the containers whose metadata is not at the front: the
// reader in front of a source (sources.h) keeps a small bounded cache and counts what it asked
// for. Nothing here knows any container; the walkers ask for the ranges they need and never
// for image data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "io/byte_view.h"
#include "io/sources.h"

namespace exifinfo {

// The cache in front of a source. A request that misses reads whole 4 KiB pages around it, at
// least the source's leastRequestBytes(): into the window it starts in or just after, which
// grows by the bytes it lacks (close ranges become one window, read once), else into the
// window used least recently of kWindows. The photo's first bytes stay in a window of their
// own, where most containers keep their structure. Views are valid until the next Fetch.
class RangeReader {
 public:
  static constexpr size_t kPageBytes = 4096;
  static constexpr size_t kMaxFetchBytes = size_t{1} << 20;  // the largest window
  static constexpr int kWindows = 4;  // walkers go back and forth between a few places
  // No file reaches past this: a request beyond reads as the end, so that no range the reader
  // asks for (offset plus length, page-rounded) can pass 2^64.
  static constexpr uint64_t kMaxOffset = uint64_t{INT64_MAX} - kMaxFetchBytes;

  explicit RangeReader(RangeSource& source) : source_(source), size_(source.size()) {}
  ~RangeReader();
  RangeReader(const RangeReader&) = delete;
  RangeReader& operator=(const RangeReader&) = delete;

  // Takes `bytes`, read by the caller at `offset`, as the head window (borrowed: they must
  // outlive the reader; the caller counts that read).
  void SeedHead(uint64_t offset, ByteView bytes);

  // The bytes [offset, offset + count): all of them, or fewer when the input ends first
  // (then ended() is true), or none after a failed read (failed() and error() say so).
  ByteView Fetch(uint64_t offset, size_t count);
  // Reads [offset, offset + count) straight into `out`, bypassing the cache unless the bytes
  // are in it already; returns the bytes given.
  size_t CopyOut(uint64_t offset, uint8_t* out, size_t count);

  // What a window holds from `offset` on (empty when none holds that byte): no request made.
  ByteView Cached(uint64_t offset) const;
  uint64_t size() const { return size_; }  // kUnknownSize unless the source knows
  bool failed() const { return error_ != 0; }
  int error() const { return error_; }
  bool outOfMemory() const { return outOfMemory_; }
  uint32_t reads() const { return reads_; }        // requests made of the source
  uint64_t bytesRead() const { return bytesRead_; }  // bytes those requests gave

 private:
  struct Window {
    const uint8_t* bytes = nullptr;
    uint8_t* owned = nullptr;  // the bytes when the window owns them (all but the head)
    uint64_t offset = 0;
    size_t size = 0;  // bytes held
    uint32_t used = 0;  // when it last served a request: the least recent is replaced
    bool Holds(uint64_t at, size_t count) const { return at >= offset && at - offset <= size && count <= size - (at - offset); }
  };
  Window* Holding(uint64_t offset, size_t count);
  // Makes `window` hold [start, end): bytes it already holds from `start` on are kept and only
  // the rest is read. False when the read failed or memory ran out.
  bool Load(Window& window, uint64_t start, uint64_t end);
  int64_t ReadSource(uint64_t offset, uint8_t* out, size_t count);

  RangeSource& source_;
  uint64_t size_;
  Window head_;               // borrowed
  Window windows_[kWindows];  // owned
  uint32_t clock_ = 0;
  int error_ = 0;
  bool outOfMemory_ = false;
  uint32_t reads_ = 0;
  uint64_t bytesRead_ = 0;
};

// A reader as a source for a stream read forward from a place in the photo (a RAF's embedded
// JPEG, scanned section by section): what its windows hold costs no request, the rest is
// fetched through them, counted and held to the same budget as every other read of the photo.
class ReaderSource final : public RangeSource {
 public:
  explicit ReaderSource(RangeReader& reader) : reader_(reader) {}
  int64_t ReadAt(uint64_t offset, uint8_t* out, size_t count, int& error) override;
  uint64_t size() const override { return reader_.size(); }

 private:
  RangeReader& reader_;
};

}  // namespace exifinfo
