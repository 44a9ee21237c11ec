// SPDX-License-Identifier: MIT
#include "io/sources.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
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

int64_t MemorySource::ReadAt(uint64_t offset, uint8_t* out, size_t count, int&) {
  if (offset >= bytes_.size) return 0;
  const size_t available = bytes_.size - static_cast<size_t>(offset);
  const size_t given = count < available ? count : available;
  std::memcpy(out, bytes_.At(offset), given);
  return static_cast<int64_t>(given);
}

ReadBudget BudgetSource::ScaledFor(const RangeSource& source) {
  const size_t least = source.leastRequestBytes();
  const uint64_t scale = least != 0 && least < kRemoteRequestBytes ? kRemoteRequestBytes / least : 1;
  return ReadBudget{kReadBudget.requests * scale, kReadBudget.bytes};
}

int64_t BudgetSource::ReadAt(uint64_t offset, uint8_t* out, size_t count, int& error) {
  if ((requests_ >= budget_.requests && offset != continuesAt_) || bytes_ >= budget_.bytes) {
    spent_ = true;
    return 0;
  }
  if (count > budget_.bytes - bytes_) count = static_cast<size_t>(budget_.bytes - bytes_);
  // The rest of a request the source answered short is the same request asked again.
  if (offset != continuesAt_) ++requests_;
  const int64_t n = source_.ReadAt(offset, out, count, error);
  if (n > 0) bytes_ += static_cast<uint64_t>(n);
  continuesAt_ = n > 0 && static_cast<uint64_t>(n) < count ? offset + static_cast<uint64_t>(n) : UINT64_MAX;
  return n;
}

PiecesSource::PiecesSource(const Piece* pieces, size_t count, uint64_t size) : count_(count), size_(size) {
  if (count == 0) return;
  if (count > SIZE_MAX / (sizeof(Piece) + sizeof(size_t))) return;
  pieces_ = static_cast<Piece*>(std::malloc(count * (sizeof(Piece) + sizeof(size_t))));
  if (pieces_ == nullptr) return;
  reach_ = reinterpret_cast<size_t*>(pieces_ + count);
  std::memcpy(pieces_, pieces, count * sizeof(Piece));
  std::sort(pieces_, pieces_ + count, [](const Piece& a, const Piece& b) { return a.offset < b.offset; });
  const auto end = [](const Piece& p) { return p.bytes.size > UINT64_MAX - p.offset ? UINT64_MAX : p.offset + p.bytes.size; };
  for (size_t i = 0; i < count; ++i) reach_[i] = i != 0 && end(pieces_[reach_[i - 1]]) >= end(pieces_[i]) ? reach_[i - 1] : i;
}

PiecesSource::~PiecesSource() { std::free(pieces_); }

// Copies what the pieces hold of [offset, offset + count), walking across adjacent or
// overlapping pieces; the first byte no piece holds (before the end of the photo) is a miss.
int64_t PiecesSource::ReadAt(uint64_t offset, uint8_t* out, size_t count, int& error) {
  if (size_ != kUnknownSize) {
    if (offset >= size_) return 0;
    if (count > size_ - offset) count = static_cast<size_t>(size_ - offset);
  }
  size_t done = 0;
  while (done < count) {
    const uint64_t at = offset + done;
    // Of the pieces that start at or before `at`, the one reaching furthest: it holds `at` if
    // any does (a search, not a scan: a caller may hold many thousands of ranges).
    const Piece* holder = nullptr;
    const Piece* after = std::upper_bound(pieces_, pieces_ + count_, at, [](uint64_t a, const Piece& p) { return a < p.offset; });
    if (after != pieces_) {
      const Piece& p = pieces_[reach_[after - pieces_ - 1]];
      if (at - p.offset < p.bytes.size) holder = &p;
    }
    if (holder == nullptr) {
      if (done != 0) break;  // what the pieces hold, and the rest asked for again
      needed_ = true;
      neededOffset_ = at;
      neededLength_ = count;  // the reader never asks past RangeReader::kMaxOffset: no wrap
      error = kNeedsMore;
      return -1;
    }
    const uint64_t available = holder->bytes.size - (at - holder->offset);
    const size_t taken = count - done < available ? count - done : static_cast<size_t>(available);
    std::memcpy(out + done, holder->bytes.At(at - holder->offset), taken);
    done += taken;
  }
  return static_cast<int64_t>(done);
}

uint64_t DescriptorSource::size() const {
  if (!sized_) {
    sized_ = true;
    struct stat status {};
    if (base_ >= 0 && fstat(fd_, &status) == 0 && S_ISREG(status.st_mode) && status.st_size >= base_)
      size_ = static_cast<uint64_t>(status.st_size - base_);
  }
  return size_;
}

DescriptorSource::~DescriptorSource() { std::free(kept_); }

bool DescriptorSource::KeepStreamBytes(ByteView first) {
  if (first.size == 0) return true;
  kept_ = static_cast<uint8_t*>(std::malloc(first.size));
  if (kept_ == nullptr) return false;
  std::memcpy(kept_, first.data, first.size);
  keptSize_ = keptCapacity_ = first.size;
  return true;
}

// Reads a stream on until `end` bytes are kept, the stream ends, or the bound is met.
bool DescriptorSource::ReadStreamTo(uint64_t end, int& error) {
  if (end > kMaxStreamBytes) end = kMaxStreamBytes;
  while (keptSize_ < end && !streamEnded_) {
    if (keptCapacity_ - keptSize_ < 65536) {
      size_t grown = keptCapacity_ < 65536 ? 131072 : keptCapacity_ * 2;
      if (grown > kMaxStreamBytes) grown = kMaxStreamBytes;
      if (grown <= keptCapacity_) break;
      auto* bigger = static_cast<uint8_t*>(std::realloc(kept_, grown));
      if (bigger == nullptr) {
        error = ENOMEM;
        return false;
      }
      kept_ = bigger;
      keptCapacity_ = grown;
    }
    const ssize_t n = ReadDescriptor(fd_, kept_ + keptSize_, keptCapacity_ - keptSize_, -1, reads_, error);
    if (n < 0) return false;
    if (n == 0) streamEnded_ = true;
    keptSize_ += static_cast<size_t>(n);
  }
  return true;
}

int64_t DescriptorSource::ReadAt(uint64_t offset, uint8_t* out, size_t count, int& error) {
  if (base_ >= 0) {
    if (offset > static_cast<uint64_t>(INT64_MAX - base_) - count) return 0;  // past any file
    const ssize_t n = ReadDescriptor(fd_, out, count, base_ + static_cast<int64_t>(offset), reads_, error);
    if (n > 0) delivered_ = true;
    if (n >= 0) return n;
    if (error != ESPIPE || delivered_ || forward_ != Forward::kOnce) return -1;
    // It cannot seek, and nothing was taken from it yet: reading on from where it stands starts right.
    error = 0;
    base_ = -1;
    position_ = offset;
  }
  if (forward_ == Forward::kKeep) {
    if (offset > kMaxStreamBytes || !ReadStreamTo(offset + count, error)) return error != 0 ? -1 : 0;
    if (offset >= keptSize_) return 0;
    const size_t available = keptSize_ - static_cast<size_t>(offset);
    const size_t given = count < available ? count : available;
    std::memcpy(out, kept_ + offset, given);
    return static_cast<int64_t>(given);
  }
  if (offset < position_) {
    error = ESPIPE;  // behind what was read: gone
    return -1;
  }
  while (position_ < offset) {  // bytes nothing reads, read through
    const uint64_t gap = offset - position_;
    const int64_t n = ReadOnce(position_, out, gap < count ? static_cast<size_t>(gap) : count, error);
    if (n <= 0) return n;
  }
  return ReadOnce(offset, out, count, error);
}

int64_t DescriptorSource::ReadOnce(uint64_t, uint8_t* out, size_t count, int& error) {
  const ssize_t n = ReadDescriptor(fd_, out, count, -1, reads_, error);
  if (n < 0) return -1;
  if (n > 0) delivered_ = true;
  position_ += static_cast<uint64_t>(n);
  return n;
}

}  // namespace exifinfo
