// SPDX-License-Identifier: MIT
// Where a photo's bytes come from: a source answers "the bytes at this offset" (a descriptor
// read with pread or forward, memory, a caller's callback or ranges). Every system read of a
// photo is made here; the stream (input_stream.h) and the range reader (range_reader.h) are
// their two ways of asking.
#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

#include "io/byte_view.h"

namespace exifinfo {

// Opens a file for reading without waiting: a FIFO with no writer opens at once (and then reads
// as empty); the stream waits for data when there is a writer. Returns the descriptor, or -1
// with `error` set (EINVAL for a null path).
int OpenForReading(const char* path, int& error);

// A stand-in for the read system calls, for tests and fuzzers that inject failures: it reads
// like pread (offset >= 0) or read (offset -1) and fails with -1 and errno as they do.
struct ReadCall {
  ssize_t (*call)(void* context, int fd, uint8_t* out, size_t count, int64_t offset) = nullptr;
  void* context = nullptr;
};

// One read of `fd` (pread at `offset` >= 0, read at -1, or through `inject`), retried on EINTR
// and waited on (poll) while a non-blocking descriptor has nothing yet. Returns the bytes read,
// 0 at the end, or -1 with `error` set.
ssize_t ReadDescriptor(int fd, uint8_t* out, size_t count, int64_t offset, const ReadCall& inject, int& error);

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
  // A source read forward only, which cannot give a byte before those it gave last.
  virtual bool forwardOnly() const { return false; }
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

// A descriptor. With `base` >= 0 it is read with pread from there on, which leaves its position
// alone; one that turns out not to seek (ESPIPE before any byte came: a pipe, a socket, a
// terminal) is read forward from where it stands instead. With -1 it is read forward from the
// start. Read forward, it keeps what it gave (kKeep, up to kMaxStreamBytes, past which it reads
// as ended), so that a container read from standard input still finds its metadata behind the
// image data; a stream that reads once from front to back keeps nothing (kOnce) and asks only
// at or after where it stands. No size is asked of the system until size() is. `reads` stands
// in for the system calls in tests that inject failures.
class DescriptorSource final : public RangeSource {
 public:
  static constexpr size_t kMaxStreamBytes = size_t{64} << 20;
  enum class Forward { kKeep, kOnce };
  DescriptorSource(int fd, int64_t base, ReadCall reads = {}, Forward forward = Forward::kKeep)
      : fd_(fd), base_(base), reads_(reads), forward_(forward) {}
  ~DescriptorSource() override;
  DescriptorSource(const DescriptorSource&) = delete;
  DescriptorSource& operator=(const DescriptorSource&) = delete;
  int64_t ReadAt(uint64_t offset, uint8_t* out, size_t count, int& error) override;
  uint64_t size() const override;
  bool forwardOnly() const override { return base_ < 0; }
  // A stream's first bytes, already read by the caller, so that the kept copy starts complete.
  bool KeepStreamBytes(ByteView first);
  // Routes every later read through `reads` instead of the system.
  void InjectReads(ReadCall reads) { reads_ = reads; }
  const ReadCall& injectedReads() const { return reads_; }

 private:
  bool ReadStreamTo(uint64_t end, int& error);
  int64_t ReadOnce(uint64_t offset, uint8_t* out, size_t count, int& error);

  int fd_;
  int64_t base_;  // -1: read forward
  ReadCall reads_;
  Forward forward_;
  mutable uint64_t size_ = kUnknownSize;
  mutable bool sized_ = false;
  bool delivered_ = false;   // some byte came: a pipe is no longer told from a file by ESPIPE
  uint64_t position_ = 0;    // read forward once: the offset of the next byte
  uint8_t* kept_ = nullptr;  // read forward and kept: the bytes so far
  size_t keptSize_ = 0;
  size_t keptCapacity_ = 0;
  bool streamEnded_ = false;
};

}  // namespace exifinfo
