// SPDX-License-Identifier: MIT
#include "io/input_stream.h"

#include "io/range_reader.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace exifinfo {

int OpenForReading(const char* path, int& error) {
  if (path == nullptr) {
    error = EINVAL;
    return -1;
  }
  const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) error = errno;
  return fd;
}

ssize_t ReadDescriptor(int fd, uint8_t* out, size_t count, int64_t offset, const ReadCall& inject, int& error) {
  for (;;) {
    const ssize_t n = inject.call != nullptr ? inject.call(inject.context, fd, out, count, offset)
                      : offset >= 0         ? pread(fd, out, count, offset)
                                            : read(fd, out, count);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      // A FIFO or device opened without waiting for its writer: wait for data or a hang-up.
      pollfd ready{fd, POLLIN, 0};
      if (poll(&ready, 1, -1) >= 0 || errno == EINTR) continue;
    }
    error = errno;
    return -1;
  }
}

size_t InputStream::ReadOnce(uint8_t* out, size_t count) {
  if (state_ != State::kReading || (fd_ < 0 && source_ == nullptr)) {
    if (state_ == State::kReading) state_ = State::kEnd;  // bytes in memory: nothing more
    return 0;
  }
  if (source_ != nullptr) {
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
  for (;;) {
    ++reads_;
    int error = 0;
    const ssize_t n = ReadDescriptor(fd_, out, count, offset_, inject_, error);
    if (n > 0) {
      if (offset_ >= 0) offset_ += n;
      delivered_ += static_cast<uint64_t>(n);
      return static_cast<size_t>(n);
    }
    if (n == 0) {
      state_ = State::kEnd;
      return 0;
    }
    if (error == ESPIPE && offset_ >= 0 && delivered_ == 0) {
      offset_ = -1;  // a pipe or socket: nothing was consumed yet, so plain reads start right
      continue;
    }
    error_ = error;
    state_ = State::kError;
    return 0;
  }
}

bool InputStream::Refill() {
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
  while ((fd_ >= 0 || source_ != nullptr) && next_ == buffer_ && static_cast<size_t>(end_ - next_) < wanted) {
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
      if (wanted >= capacity_ && (fd_ >= 0 || source_ != nullptr)) {
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
  if (offset_ >= 0 && state_ == State::kReading) {
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
