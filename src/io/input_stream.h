// SPDX-License-Identifier: MIT
// The scanner's input: an open descriptor read through a caller's buffer, or bytes already in
// memory. Every read goes through here, so the two ways a read can stop are told apart once:
// the end of the input, and a read that failed (with its errno). Both are sticky: once met,
// every later read reports the same ending without touching the descriptor again, so a reader
// can never read on past a failure and parse bytes from the wrong place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

#include "io/byte_view.h"
#include "io/sources.h"

namespace exifinfo {

// The first read of a file. Most photos' sections up to the start of scan fit in it (over the
// shared corpus: median 3.2 KiB, 90th percentile 14 KiB), so a whole read is one system call.
constexpr size_t kFirstReadBytes = 16384;

class InputStream {
 public:
  enum class State { kReading, kEnd, kError };

  // Reads `fd` from byte `startOffset` with pread, leaving the descriptor's own position alone;
  // -1 (or a descriptor that cannot seek: pipes, sockets) reads on from where it stands. Bytes
  // arrive through `buffer`, whose first fill is the one read most photos need. A descriptor
  // opened O_NONBLOCK is waited on (poll) when it has nothing yet, never changed.
  // (Out of line, as everything that touches the descriptor's reader: the core's classes carry
  // no type information, and code built with it must not reach into them inline.)
  InputStream(int fd, int64_t startOffset, uint8_t* buffer, size_t capacity);
  InputStream(const uint8_t* data, size_t size) : next_(data), end_(data + size) {}
  // Reads `source` from byte `startOffset` on, through `buffer`, by its positioned reads.
  InputStream(RangeSource& source, int64_t startOffset, uint8_t* buffer, size_t capacity)
      : source_(&source), callerSource_(true), offset_(startOffset), buffer_(buffer), capacity_(capacity) {}
  ~InputStream();
  InputStream(const InputStream&) = delete;
  InputStream& operator=(const InputStream&) = delete;

  // The next byte as 0..255, or -1 at the end of the input or after a failed read.
  int ReadByte() {
    if (next_ < end_) return *next_++;
    return Refill() ? *next_++ : -1;
  }
  // Reads up to count bytes into out; fewer only at the end or after a failed read.
  size_t ReadBlock(uint8_t* out, size_t count);
  // Passes over count bytes that nothing reads; false when fewer than count remained (or a
  // read failed). On a descriptor that can seek, the bytes are not read at all.
  bool Skip(size_t count);

  // Lets the reader keep what it takes where it lies in the buffer (Lend) rather than copy it:
  // for a caller whose stream outlives every use of what was read. Bytes in memory are the
  // caller's and are never lent.
  void AllowLending() { lending_ = source_ != nullptr; }
  // The `count` bytes that follow, taken in place, with the `before` bytes taken just ahead of
  // them: when lending is allowed and all of them lie in the buffer as one fill left it; else
  // null and nothing is taken (the caller copies). Lent bytes stay put: a later fill goes to a
  // buffer of the stream's own, and nothing more is lent.
  uint8_t* Lend(size_t before, size_t count) {
    if (!lending_ || static_cast<size_t>(next_ - buffer_) < before || static_cast<size_t>(end_ - next_) < count)
      return nullptr;
    uint8_t* at = buffer_ + (next_ - buffer_) - before;
    next_ += count;
    lent_ = true;
    return at;
  }

  // The bytes buffered and not yet taken: before anything was taken, the input's first bytes,
  // read until there are at least `wanted` (or the input ends) without taking any of them.
  ByteView Peek(size_t wanted);
  // A descriptor read forward (a pipe, a socket), known once the first read was tried.
  bool forwardOnly() const { return source_ != nullptr && source_->forwardOnly(); }
  bool fromSource() const { return callerSource_; }
  const ReadCall& injectedReads() const;

  // Routes every later read of the descriptor through `call` instead of the system.
  void InjectReads(ReadCall call);

  State state() const { return state_; }
  int error() const { return error_; }  // errno of the failed read; 0 unless kError
  bool outOfMemory() const { return outOfMemory_; }  // the stream's own buffer could not be had
  bool nothingRead() const { return delivered_ == 0; }  // no byte ever came from the descriptor
  uint32_t reads() const { return reads_; }        // requests made of the descriptor or source
  uint64_t delivered() const { return delivered_; }  // bytes they gave

 private:
  bool Refill();  // false once the input has ended or failed
  // One read of the source into out. Returns the bytes read; 0 sets the sticky ending.
  size_t ReadOnce(uint8_t* out, size_t count);

  DescriptorSource descriptor_{-1, -1};  // the descriptor's reads, when the stream reads one
  RangeSource* source_ = nullptr;        // null: bytes in memory
  bool callerSource_ = false;
  int64_t offset_ = 0;  // where the next read of the source starts
  uint8_t* buffer_ = nullptr;
  size_t capacity_ = 0;
  const uint8_t* next_ = nullptr;
  const uint8_t* end_ = nullptr;
  State state_ = State::kReading;
  int error_ = 0;
  uint64_t delivered_ = 0;
  uint32_t reads_ = 0;
  uint8_t* spare_ = nullptr;  // the stream's own buffer, once the caller's holds lent bytes
  bool lending_ = false;
  bool lent_ = false;
  bool outOfMemory_ = false;
};

}  // namespace exifinfo
