// SPDX-License-Identifier: MIT
#include "xmp/packets.h"

#include <cstdlib>
#include <cstring>

#include "xmp/xmp_packet.h"

namespace exifinfo {
namespace {

constexpr int kApp1 = 0xE1, kApp13 = 0xED;
// Each header ends with its NUL.
constexpr char kXmpHeader[] = "http://ns.adobe.com/xap/1.0/";
constexpr char kExtendedHeader[] = "http://ns.adobe.com/xmp/extension/";
constexpr char kPhotoshopHeader[] = "Photoshop 3.0";
constexpr size_t kPartHeaderBytes = MetaPackets::kGuidBytes + 8;  // GUID, total length, offset (big-endian)

template <size_t N>
bool Starts(ByteView bytes, const char (&header)[N]) {
  return bytes.size >= N && std::memcmp(bytes.data, header, N) == 0;  // the NUL included
}

// The bytes of `b` after `header`, as Starts found it.
template <size_t N>
ByteView After(ByteView b, const char (&)[N]) {
  return b.Slice(N, b.size - N);
}

}  // namespace

MetaPackets::~MetaPackets() {
  for (int k = 0; k < xmpCount_; ++k) std::free(xmp_[k]);
  std::free(iptc_);
  std::free(photoshop_);
  std::free(parts_);
  std::free(partList_);
}

bool MetaPackets::IsJpegMetaSection(int marker, ByteView head) {
  if (marker == kApp13) return head.size >= 4 && std::memcmp(head.data, "Phot", 4) == 0;
  return marker == kApp1 && head.size >= 4 && std::memcmp(head.data, "http", 4) == 0;
}

bool MetaPackets::Keep(ByteView bytes, uint8_t*& out, size_t& size) {
  void* grown = std::realloc(out, size + bytes.size + 1);
  if (grown == nullptr) {
    outOfMemory_ = true;
    return false;
  }
  out = static_cast<uint8_t*>(grown);
  if (bytes.size != 0) std::memcpy(out + size, bytes.data, bytes.size);
  size += bytes.size;
  return true;
}

void MetaPackets::AddJpegSection(int marker, ByteView contents) {
  if (marker == kApp13) {
    if (Starts(contents, kPhotoshopHeader)) Keep(After(contents, kPhotoshopHeader), photoshop_, photoshopSize_);
    return;
  }
  if (Starts(contents, kXmpHeader)) return AddXmp(After(contents, kXmpHeader));
  if (!Starts(contents, kExtendedHeader)) return;
  const ByteView part = After(contents, kExtendedHeader);
  if (!part.Has(0, kPartHeaderBytes)) return;
  if (partCount_ == kMaxExtendedParts || partsSize_ + part.size > kMaxXmpBytes + kMaxExtendedParts * kPartHeaderBytes) {
    partsLost_ = true;
    return;
  }
  if (partList_ == nullptr) {
    partList_ = static_cast<Part*>(std::malloc(kMaxExtendedParts * sizeof(Part)));
    if (partList_ == nullptr) {
      outOfMemory_ = true;
      return;
    }
  }
  Part& p = partList_[partCount_];
  p.at = partsSize_;
  std::memcpy(p.guid, part.data, kGuidBytes);
  p.total = ReadU32(part.At(kGuidBytes), true);
  p.offset = ReadU32(part.At(kGuidBytes + 4), true);
  p.length = static_cast<uint32_t>(part.size - kPartHeaderBytes);
  if (Keep(part.Slice(kPartHeaderBytes, p.length), parts_, partsSize_)) ++partCount_;
}

void MetaPackets::AddXmp(ByteView packet) {
  if (packet.size > kMaxXmpBytes) {
    tooLarge_ = true;
    return;
  }
  if (xmpCount_ == kMaxPackets) return;
  uint8_t* copy = nullptr;
  size_t size = 0;
  if (!Keep(packet, copy, size)) return;
  xmp_[xmpCount_] = copy;
  xmpSize_[xmpCount_++] = size;
}

void MetaPackets::AdoptXmp(uint8_t* packet, size_t size) {
  if (size > kMaxXmpBytes || xmpCount_ == kMaxPackets) {
    tooLarge_ = tooLarge_ || size > kMaxXmpBytes;
    std::free(packet);
    return;
  }
  xmp_[xmpCount_] = packet;
  xmpSize_[xmpCount_++] = size;
}

void MetaPackets::AddIptc(ByteView iim) {
  if (iptcSize_ == 0) Keep(iim, iptc_, iptcSize_);
}

void MetaPackets::AddPhotoshop(ByteView resources) { Keep(resources, photoshop_, photoshopSize_); }

}  // namespace exifinfo
