// SPDX-License-Identifier: MIT
#include "xmp/meta_values.h"

#include <cstdlib>
#include <cstring>

namespace exifinfo {
namespace {

// Grows `*buffer` (of `capacity` elements of `size` bytes) to hold at least `need`, doubling.
bool Grow(void** buffer, size_t& capacity, size_t need, size_t size) {
  if (need <= capacity) return true;
  size_t next = capacity < 64 ? 64 : capacity;
  while (next < need) next *= 2;
  if (next > SIZE_MAX / size) return false;
  void* grown = std::realloc(*buffer, next * size);
  if (grown == nullptr) return false;
  *buffer = grown;
  capacity = next;
  return true;
}

}  // namespace

MetaValues::~MetaValues() {
  std::free(bytes_);
  std::free(items_);
}

void MetaValues::BeginPacket() {
  for (int k = 0; k < kMetaTextCount; ++k) textEarlier_[k] = textRank_[k] != 0;
  for (int k = 0; k < kMetaListCount; ++k) listEarlier_[k] = listCount_[k] != 0;
}

// Values live in one buffer, each found by its offset (the buffer moves as it grows).
bool MetaValues::Store(const char* text, size_t length, uint32_t& at) {
  // Packets are bounded to a few MiB, so the buffer stays far below 4 GiB.
  if (length >= UINT32_MAX - used_ - 1) return false;
  void* buffer = bytes_;
  if (!Grow(&buffer, capacity_, used_ + length + 1, 1)) {
    outOfMemory_ = true;
    return false;
  }
  bytes_ = static_cast<char*>(buffer);
  if (length != 0) std::memcpy(bytes_ + used_, text, length);
  bytes_[used_ + length] = '\0';
  at = static_cast<uint32_t>(used_);
  used_ += length + 1;
  return true;
}

void MetaValues::SetText(MetaText slot, const char* text, size_t length, int rank) {
  if (textEarlier_[slot] || textRank_[slot] >= rank) return;
  uint32_t at = 0;
  if (!Store(text, length, at)) return;
  textAt_[slot] = at;
  textLength_[slot] = static_cast<uint32_t>(length);
  textRank_[slot] = rank;
}

void MetaValues::AddItem(MetaList slot, const char* text, size_t length) {
  if (listEarlier_[slot]) return;
  if (listCount_[slot] >= kMaxListItems) {
    listCut_ = true;
    return;
  }
  void* items = items_;
  if (!Grow(&items, itemCapacity_, itemCount_ + 1, sizeof(Item))) {
    outOfMemory_ = true;
    return;
  }
  items_ = static_cast<Item*>(items);
  uint32_t at = 0;
  if (!Store(text, length, at)) return;
  items_[itemCount_++] = Item{at, static_cast<uint32_t>(length), slot};
  ++listCount_[slot];
}

ByteView MetaValues::text(MetaText slot) const {
  if (textRank_[slot] == 0) return ByteView{};
  return ByteView{reinterpret_cast<const uint8_t*>(bytes_) + textAt_[slot], textLength_[slot]};
}

}  // namespace exifinfo
