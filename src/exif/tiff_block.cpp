// SPDX-License-Identifier: MIT
#include "exif/tiff_block.h"

#include <cstring>
#include <new>

namespace exifinfo {

struct HeldBytes::Chunk {
  Chunk* older;
  uint64_t offset;
  size_t size;
  uint8_t* Bytes() { return reinterpret_cast<uint8_t*>(this + 1); }
};

HeldBytes::~HeldBytes() {
  while (newest_ != nullptr) {
    Chunk* older = newest_->older;
    ::operator delete(newest_);
    newest_ = older;
  }
}

// Newest first: a walk asks for the entries of the directory it fetched last.
uint8_t* HeldBytes::Find(uint64_t offset, uint64_t count) const {
  for (Chunk* chunk = newest_; chunk != nullptr; chunk = chunk->older)
    if (offset >= chunk->offset && offset - chunk->offset <= chunk->size && count <= chunk->size - (offset - chunk->offset))
      return chunk->Bytes() + (offset - chunk->offset);
  return nullptr;
}

uint8_t* HeldBytes::Keep(uint64_t offset, ByteView bytes) {
  if (bytes.size > kMaxBytes - bytes_) {
    full_ = true;
    return nullptr;
  }
  void* memory = ::operator new(sizeof(Chunk) + bytes.size, std::nothrow);
  if (memory == nullptr) return nullptr;
  Chunk* chunk = new (memory) Chunk{newest_, offset, bytes.size};
  if (bytes.size != 0) std::memcpy(chunk->Bytes(), bytes.data, bytes.size);
  newest_ = chunk;
  bytes_ += bytes.size;
  return chunk->Bytes();
}

const uint8_t* TiffBlock::FetchAt(uint64_t offset, uint64_t count) const { return Fetch(offset, count, false).data; }

bool TiffBlock::ReachesInPlace(uint64_t last) const {
  if (last > UINT64_MAX - base_) return false;
  if (held_->Find(base_ + last, 1) != nullptr) return true;
  if (reader_->Fetch(base_ + last, 1).size == 1) return true;
  if (!reader_->failed() && !reader_->outOfMemory()) faults_->truncated = true;
  return false;
}

ByteView TiffBlock::Fetch(uint64_t offset, uint64_t count, bool partial) const {
  if (count > RangeReader::kMaxFetchBytes) {
    if (!partial) return ByteView{};  // no value a walk reads is that large
    count = RangeReader::kMaxFetchBytes;
  }
  if (offset > UINT64_MAX - base_ - count) return ByteView{};
  const uint64_t at = base_ + offset;
  if (const uint8_t* held = held_->Find(at, count)) return ByteView{held, static_cast<size_t>(count)};
  const ByteView fetched = reader_->Fetch(at, static_cast<size_t>(count));
  if (fetched.size < count) {
    // A span reads as far as the input goes; what a value or directory lacks is a cut input.
    if (!partial && !reader_->failed() && !reader_->outOfMemory()) faults_->truncated = true;
    if (!partial || fetched.size == 0) return ByteView{};
  }
  const uint8_t* kept = held_->Keep(at, fetched);
  if (kept == nullptr) {
    (held_->full() ? faults_->truncated : faults_->outOfMemory) = true;
    return ByteView{};
  }
  return ByteView{kept, fetched.size};
}

}  // namespace exifinfo
