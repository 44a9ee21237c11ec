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
  bool grows = false;
  for (Window& window : windows_) {
    if (window.owned != nullptr && offset >= window.offset && offset - window.offset <= window.size + least &&
        end - window.offset <= kMaxFetchBytes) {
      target = &window;
      start = window.offset;
      grows = true;
      break;
    }
    if (window.used < target->used) target = &window;
  }
  // A new window starts where one holding the bytes just before the request ends (the head,
  // which never grows, most of all): what a window holds is not read again.
  if (!grows) {
    const auto after = [&](const Window& window) {
      const uint64_t held = window.offset + window.size;
      if (window.size != 0 && window.offset <= start && start < held && held <= offset) start = held;
    };
    after(head_);
    for (const Window& window : windows_) after(window);
    if (end - start < least) end = start + least;
    if (size_ != kUnknownSize && end > size_) end = size_;
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
