// SPDX-License-Identifier: MIT
#include "io/range_reader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace exifinfo {

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

DescriptorSource::DescriptorSource(int fd, int64_t base, ReadCall reads) : fd_(fd), base_(base), reads_(reads) {
  struct stat status {};
  if (base_ >= 0 && fstat(fd_, &status) == 0 && S_ISREG(status.st_mode) && status.st_size >= base_)
    size_ = static_cast<uint64_t>(status.st_size - base_);
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
  if (base_ < 0) {
    if (offset > kMaxStreamBytes || !ReadStreamTo(offset + count, error)) return error != 0 ? -1 : 0;
    if (offset >= keptSize_) return 0;
    const size_t available = keptSize_ - static_cast<size_t>(offset);
    const size_t given = count < available ? count : available;
    std::memcpy(out, kept_ + offset, given);
    return static_cast<int64_t>(given);
  }
  if (offset > static_cast<uint64_t>(INT64_MAX - base_) - count) return 0;  // past any file
  size_t done = 0;
  while (done < count) {
    const ssize_t n = ReadDescriptor(fd_, out + done, count - done,
                                     base_ + static_cast<int64_t>(offset + done), reads_, error);
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<int64_t>(done);
}

RangeReader::~RangeReader() {
  for (Window& window : windows_) std::free(window.owned);
}

// A source may give fewer bytes than asked before its end (a caller's ranges, a network):
// only a read that gives none is the end.
int64_t RangeReader::ReadSource(uint64_t offset, uint8_t* out, size_t count) {
  if (error_ != 0) return -1;  // sticky: nothing is read past a failure
  size_t done = 0;
  while (done < count) {
    int error = 0;
    const int64_t n = source_.ReadAt(offset + done, out + done, count - done, error);
    ++reads_;
    if (n < 0) {
      error_ = error != 0 ? error : EIO;
      return -1;
    }
    if (n == 0) break;
    bytesRead_ += static_cast<uint64_t>(n);
    done += static_cast<size_t>(n);
  }
  return static_cast<int64_t>(done);
}

void RangeReader::SeedHead(uint64_t offset, ByteView bytes) {
  head_.bytes = bytes.data;
  head_.offset = offset;
  head_.size = bytes.size;  // the stream counted that read
}

RangeReader::Window* RangeReader::Holding(uint64_t offset, size_t count) {
  if (head_.bytes != nullptr && head_.Holds(offset, count)) return &head_;
  for (Window& window : windows_) {
    if (window.owned != nullptr && window.Holds(offset, count)) {
      window.used = ++clock_;
      return &window;
    }
  }
  return nullptr;
}

ByteView RangeReader::Cached(uint64_t offset) const {
  const Window* holder = nullptr;
  if (head_.bytes != nullptr && head_.Holds(offset, 1)) holder = &head_;
  for (const Window& window : windows_)
    if (holder == nullptr && window.owned != nullptr && window.Holds(offset, 1)) holder = &window;
  if (holder == nullptr) return ByteView{};
  const size_t skip = static_cast<size_t>(offset - holder->offset);
  return ByteView{holder->bytes + skip, holder->size - skip};
}

bool RangeReader::Load(Window& window, uint64_t start, uint64_t end) {
  // Kept: what the window holds from `start` on, when it holds `start` (or ends right there).
  size_t kept = 0;
  if (window.owned != nullptr && start >= window.offset && start - window.offset <= window.size) {
    kept = window.size - static_cast<size_t>(start - window.offset);
    if (start != window.offset) std::memmove(window.owned, window.owned + (start - window.offset), kept);
  }
  const size_t count = static_cast<size_t>(end - start);
  auto* bytes = static_cast<uint8_t*>(std::realloc(window.owned, count));
  if (bytes == nullptr) {
    std::free(window.owned);
    window = Window{};
    return !(outOfMemory_ = true);
  }
  window.owned = bytes;
  window.bytes = bytes;
  window.offset = start;
  window.size = kept;
  window.used = ++clock_;
  const int64_t n = ReadSource(start + kept, bytes + kept, count - kept);
  if (n > 0) window.size += static_cast<size_t>(n);
  return n >= 0;
}

ByteView RangeReader::Fetch(uint64_t offset, size_t count) {
  const ByteView direct = source_.direct();
  if (direct.data != nullptr) {
    if (offset >= direct.size) return ByteView{};
    const uint64_t available = direct.size - offset;
    return direct.Slice(offset, count < available ? count : available);
  }
  if (const Window* holder = Holding(offset, count)) return ByteView{holder->bytes + (offset - holder->offset), count};
  if (count > kMaxFetchBytes || failed() || outOfMemory_ || offset > kMaxOffset) return ByteView{};
  if (size_ != kUnknownSize && offset >= size_) return ByteView{};
  // Whole pages around the request, at least the source's least request, never past a known end.
  const size_t least = source_.leastRequestBytes();
  uint64_t start = offset / kPageBytes * kPageBytes;
  uint64_t end = (offset + count + kPageBytes - 1) / kPageBytes * kPageBytes;
  if (end - start < least) end = start + least;
  if (size_ != kUnknownSize && end > size_) end = size_;
  // A window that the request starts in, or close after, grows to cover it (within the bound);
  // else the least recently used one is replaced.
  Window* target = &windows_[0];
  for (Window& window : windows_) {
    if (window.owned != nullptr && offset >= window.offset && offset - window.offset <= window.size + least &&
        end - window.offset <= kMaxFetchBytes) {
      target = &window;
      start = window.offset;
      break;
    }
    if (window.used < target->used) target = &window;
  }
  if (!Load(*target, start, end)) return ByteView{};
  const uint64_t skip = offset - target->offset;
  if (skip >= target->size) return ByteView{};
  const size_t available = target->size - static_cast<size_t>(skip);
  return ByteView{target->bytes + skip, count < available ? count : available};
}

size_t RangeReader::CopyOut(uint64_t offset, uint8_t* out, size_t count) {
  const ByteView direct = source_.direct();
  if (direct.data == nullptr) {
    if (const Window* holder = Holding(offset, count)) {
      std::memcpy(out, holder->bytes + (offset - holder->offset), count);
      return count;
    }
    if (offset > kMaxOffset || count > kMaxFetchBytes) return 0;
    const int64_t n = ReadSource(offset, out, count);
    return n > 0 ? static_cast<size_t>(n) : 0;
  }
  if (offset >= direct.size) return 0;
  const uint64_t available = direct.size - offset;
  const size_t given = count < available ? count : static_cast<size_t>(available);
  std::memcpy(out, direct.At(offset), given);
  return given;
}

int64_t ReaderSource::ReadAt(uint64_t offset, uint8_t* out, size_t count, int& error) {
  ByteView bytes = reader_.Cached(offset);
  if (bytes.size == 0) {
    bytes = reader_.Fetch(offset, count < RangeReader::kMaxFetchBytes ? count : RangeReader::kMaxFetchBytes);
    if (bytes.size == 0 && reader_.failed()) return error = reader_.error(), -1;
  }
  const size_t given = count < bytes.size ? count : bytes.size;
  if (given != 0) std::memcpy(out, bytes.data, given);
  return static_cast<int64_t>(given);
}

}  // namespace exifinfo
