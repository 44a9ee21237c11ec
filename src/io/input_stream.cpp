// SPDX-License-Identifier: MIT
#include "io/input_stream.h"

#include "io/range_reader.h"

#include <cerrno>
#include <new>
#include <cstring>

namespace exifinfo {

InputStream::InputStream(int fd, int64_t startOffset, uint8_t* buffer, size_t capacity)
    : descriptor_(fd, startOffset >= 0 ? 0 : -1, {}, DescriptorSource::Forward::kOnce), source_(&descriptor_),
      offset_(startOffset >= 0 ? startOffset : 0), buffer_(buffer), capacity_(capacity) {}

InputStream::~InputStream() { delete[] spare_; }

const ReadCall& InputStream::injectedReads() const { return descriptor_.injectedReads(); }

void InputStream::InjectReads(ReadCall call) { descriptor_.InjectReads(call); }

size_t InputStream::ReadOnce(uint8_t* out, size_t count) {
  if (state_ != State::kReading || source_ == nullptr) {
    if (state_ == State::kReading) state_ = State::kEnd;  // bytes in memory: nothing more
    return 0;
  }
  int error = 0;
  ++reads_;
  const int64_t n = source_->ReadAt(static_cast<uint64_t>(offset_), out, count, error);
  if (n < 0) {
    error_ = error != 0 ? error : EIO;
    state_ = State::kError;
    return 0;
  }
  if (n == 0) {
    state_ = State::kEnd;
    return 0;
  }
  offset_ += n;
  delivered_ += static_cast<uint64_t>(n);
  return static_cast<size_t>(n);
}

bool InputStream::Refill() {
  if (lent_ && buffer_ != spare_) {  // the caller's buffer holds lent bytes: later fills go elsewhere
    spare_ = new (std::nothrow) uint8_t[capacity_];
    if (spare_ == nullptr) {
      error_ = ENOMEM;
      state_ = State::kError;
      outOfMemory_ = true;
      return false;
    }
    buffer_ = spare_;
    next_ = end_ = buffer_;
    lending_ = false;
  }
  const size_t n = ReadOnce(buffer_, capacity_);
  if (n == 0) return false;
  next_ = buffer_;
  end_ = buffer_ + n;
  return true;
}

ByteView InputStream::Peek(size_t wanted) {
  if (delivered_ == 0 && next_ == end_) Refill();
  if (wanted > capacity_) wanted = capacity_;
  // Nothing taken yet: the buffered bytes start the buffer, and more can follow them.
  while (source_ != nullptr && next_ == buffer_ && static_cast<size_t>(end_ - next_) < wanted) {
    const size_t n = ReadOnce(buffer_ + (end_ - buffer_), capacity_ - static_cast<size_t>(end_ - buffer_));
    if (n == 0) break;
    end_ += n;
  }
  return ByteView{next_, static_cast<size_t>(end_ - next_)};
}

size_t InputStream::ReadBlock(uint8_t* out, size_t count) {
  size_t done = 0;
  while (done < count) {
    const size_t buffered = static_cast<size_t>(end_ - next_);
    if (buffered == 0) {
      const size_t wanted = count - done;
      // A block as large as the buffer goes straight to its destination: one copy fewer.
      if (wanted >= capacity_ && source_ != nullptr) {
        const size_t n = ReadOnce(out + done, wanted);
        if (n == 0) break;
        done += n;
        continue;
      }
      if (!Refill()) break;
      continue;
    }
    const size_t taken = count - done < buffered ? count - done : buffered;
    std::memcpy(out + done, next_, taken);
    next_ += taken;
    done += taken;
  }
  return done;
}

bool InputStream::Skip(size_t count) {
  const size_t buffered = static_cast<size_t>(end_ - next_);
  if (count <= buffered) {
    next_ += count;
    return true;
  }
  count -= buffered;
  next_ = end_;
  if (source_ != nullptr && !source_->forwardOnly() && state_ == State::kReading) {
    // Lands on the last skipped byte rather than after it, so that the read which fills the
    // buffer for what follows also tells a file that ends inside the skipped bytes (nothing
    // there) from one that ends right after them (that byte, then the end).
    offset_ += static_cast<int64_t>(count - 1);
    if (!Refill()) return false;
    ++next_;
    return true;
  }
  while (count != 0) {  // a pipe: the bytes must be read through
    if (next_ == end_ && !Refill()) return false;
    const size_t available = static_cast<size_t>(end_ - next_);
    const size_t taken = count < available ? count : available;
    next_ += taken;
    count -= taken;
  }
  return true;
}

}  // namespace exifinfo
