// SPDX-License-Identifier: MIT
// Random access to a photo's bytes for the containers whose metadata is not at the front:
// a source answers "the bytes at this offset" (a descriptor, memory, a pipe read forward), and
// the reader in front of it keeps a small bounded cache and counts what it asked for. Nothing
// here knows any container; the walkers ask for the ranges they need and never for image data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "io/byte_view.h"
#include "io/input_stream.h"

namespace exifinfo {

constexpr uint64_t kUnknownSize = UINT64_MAX;

// Where the bytes come from. ReadAt fills `out` with up to `count` bytes at `offset` and
// returns how many it gave (0 only at the end of the input; fewer than asked is no end: the
// reader asks again for the rest); -1 with `error` set when a read failed. Offsets count from
// the photo's first byte.
class RangeSource {
 public:
  virtual ~RangeSource() = default;
  virtual int64_t ReadAt(uint64_t offset, uint8_t* out, size_t count, int& error) = 0;
  // The total size when the source knows it (a regular file, memory), else kUnknownSize.
  virtual uint64_t size() const { return kUnknownSize; }
  // Bytes already in memory: the reader then hands out views of them without copying.
  virtual ByteView direct() const { return ByteView{}; }
  // The fewest bytes worth one request: a page where a request costs a system call, more where
  // it costs a round trip to a store (a caller's callback, a caller's ranges).
  virtual size_t leastRequestBytes() const { return 4096; }
};

// For sources whose every request is a round trip (tens of milliseconds against about a
// millisecond for 64 KiB at 100 MB/s): a miss reads this much, so that the ranges a walker
// needs next to each other come in one request.
constexpr size_t kRemoteRequestBytes = 65536;

// What reading one photo may cost its source, in requests of kRemoteRequestBytes and in bytes
// given: past either bound the source reads as ended, and the read ends as cut with the values
// found so far. No photo of the test corpora takes more than 4 such requests or 450 KiB;
// hostile layouts (directories strewn over a file, thousands of boxes or chunks) would take
// thousands of each. A source of smaller requests (a descriptor: pages) may make as many more
// requests as they are smaller; the bytes stay bounded alike.
struct ReadBudget {
  uint64_t requests;
  uint64_t bytes;
};
constexpr ReadBudget kReadBudget{16, uint64_t{2} << 20};

// A source held to a budget: requests and bytes are counted as they are made, and once either
// is spent it reads as ended without asking its source again.
class BudgetSource final : public RangeSource {
 public:
  BudgetSource(RangeSource& source, ReadBudget budget) : source_(source), budget_(budget) {}
  // The budget kReadBudget gives `source`, its requests scaled to the source's request size.
  static ReadBudget ScaledFor(const RangeSource& source);
  int64_t ReadAt(uint64_t offset, uint8_t* out, size_t count, int& error) override;
  uint64_t size() const override { return source_.size(); }
  ByteView direct() const override { return source_.direct(); }
  size_t leastRequestBytes() const override { return source_.leastRequestBytes(); }
  bool spent() const { return spent_; }

 private:
  RangeSource& source_;
  ReadBudget budget_;
  uint64_t requests_ = 0, bytes_ = 0;
  uint64_t continuesAt_ = UINT64_MAX;  // where the last request, answered short, goes on
  bool spent_ = false;
};

// Bytes in memory, handed out as views of themselves. The other modes make them behave like a
// file (copies through the reader's cache) or a pipe (copies, and no size known), so that tests
// and fuzzers can hold every way of reading to the same result.
class MemorySource final : public RangeSource {
 public:
  enum class Mode { kViews, kCopies, kCopiesOfUnknownSize };
  explicit MemorySource(ByteView bytes, Mode mode = Mode::kViews) : bytes_(bytes), mode_(mode) {}
  int64_t ReadAt(uint64_t offset, uint8_t* out, size_t count, int& error) override;
  uint64_t size() const override { return mode_ == Mode::kCopiesOfUnknownSize ? kUnknownSize : bytes_.size; }
  ByteView direct() const override { return mode_ == Mode::kViews ? bytes_ : ByteView{}; }

 private:
  ByteView bytes_;
  Mode mode_;
};

// The pieces of a photo a caller holds so far (each an offset and its bytes, in any order,
// overlapping or not), and its total size when known. A request whose first byte no piece
// holds ends the read: ReadAt fails with kNeedsMore, and neededOffset()/neededLength() say
// what to fetch (the request as the reader made it, page-rounded and at least 4 KiB).
class PiecesSource final : public RangeSource {
 public:
  struct Piece {
    uint64_t offset;
    ByteView bytes;
  };
  static constexpr int kNeedsMore = -1000;  // not an errno
  PiecesSource(const Piece* pieces, size_t count, uint64_t size);
  ~PiecesSource() override;
  PiecesSource(const PiecesSource&) = delete;
  PiecesSource& operator=(const PiecesSource&) = delete;
  int64_t ReadAt(uint64_t offset, uint8_t* out, size_t count, int& error) override;
  uint64_t size() const override { return size_; }
  size_t leastRequestBytes() const override { return kRemoteRequestBytes; }
  bool needsMore() const { return needed_; }
  uint64_t neededOffset() const { return neededOffset_; }
  uint64_t neededLength() const { return neededLength_; }
  bool valid() const { return pieces_ != nullptr || count_ == 0; }

 private:
  Piece* pieces_ = nullptr;  // sorted by offset
  size_t* reach_ = nullptr;  // reach_[i]: of pieces 0..i, the one that ends last
  size_t count_;
  uint64_t size_;
  bool needed_ = false;
  uint64_t neededOffset_ = 0, neededLength_ = 0;
};

// A descriptor read with pread from `base` on, which leaves its position alone. One that cannot
// seek (a pipe, a socket, a terminal) is read forward and what it gave is kept, up to
// kMaxStreamBytes, so that a container read from standard input still finds its metadata
// behind the image data; past that bound it reads as ended. `reads` stands in for the system
// calls in tests that inject failures.
class DescriptorSource final : public RangeSource {
 public:
  static constexpr size_t kMaxStreamBytes = size_t{64} << 20;
  DescriptorSource(int fd, int64_t base, ReadCall reads = {});
  ~DescriptorSource() override;
  DescriptorSource(const DescriptorSource&) = delete;
  DescriptorSource& operator=(const DescriptorSource&) = delete;
  int64_t ReadAt(uint64_t offset, uint8_t* out, size_t count, int& error) override;
  uint64_t size() const override { return size_; }
  // A stream's first bytes, already read by the caller, so that the kept copy starts complete.
  bool KeepStreamBytes(ByteView first);

 private:
  ssize_t ReadOnce(uint8_t* out, size_t count, int64_t offset);
  bool ReadStreamTo(uint64_t end, int& error);

  int fd_;
  int64_t base_;  // -1: a stream, read forward
  uint64_t size_ = kUnknownSize;
  ReadCall reads_;
  uint8_t* kept_ = nullptr;  // a stream's bytes so far
  size_t keptSize_ = 0;
  size_t keptCapacity_ = 0;
  bool streamEnded_ = false;
};

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
