// SPDX-License-Identifier: MIT
// The XMP packets and IPTC blocks a read finds, copied as the containers meet them (a JPEG's
// sections are gone once scanned), and read into values once the read is over.
#pragma once

#include <cstddef>
#include <cstdint>

#include "io/byte_view.h"
#include "xmp/meta_values.h"

namespace exifinfo {

class MetaPackets {
 public:
  static constexpr int kMaxPackets = 4;           // XMP packets kept; later ones are passed over
  static constexpr int kMaxExtendedParts = 256;   // a 4 MiB extended packet is 65 JPEG sections
  static constexpr size_t kGuidBytes = 32;        // an extended packet's MD5, in hex, names it

  MetaPackets() = default;
  ~MetaPackets();
  MetaPackets(const MetaPackets&) = delete;
  MetaPackets& operator=(const MetaPackets&) = delete;

  // A JPEG's APP1 or APP13 section contents (after their length bytes), when they hold XMP, an
  // Extended XMP part or Photoshop resources; other sections are passed over. `head` is their
  // first bytes (at least 4), for the scanner to ask before it copies a section.
  static bool IsJpegMetaSection(int marker, ByteView head);
  void AddJpegSection(int marker, ByteView contents);
  void AddXmp(ByteView packet);
  // The same for a packet the caller read into memory from malloc: kept without a copy (freed
  // here, whatever becomes of it).
  void AdoptXmp(uint8_t* packet, size_t size);
  void AddIptc(ByteView iim);
  void AddPhotoshop(ByteView resources);  // the IPTC block it holds, if any
  // A packet the read found but did not fetch, being larger than it takes.
  void NoteTooLarge() { tooLarge_ = true; }

  bool empty() const { return xmpCount_ == 0 && iptcSize_ == 0 && photoshopSize_ == 0 && partCount_ == 0 && !tooLarge_; }
  // Reads what was kept into `out`: the XMP packets in the order found, then the Extended XMP
  // the first of them names, then the IPTC block. Returns what the record should say of a
  // packet passed over or read only in part, or null.
  const char* Read(MetaValues& out) const;

 private:
  struct Part {
    size_t at;        // in parts_
    uint32_t total, offset, length;
    char guid[kGuidBytes];
  };
  const char* ReadExtended(const MetaValues& main, MetaValues& out) const;
  bool Keep(ByteView bytes, uint8_t*& out, size_t& size);

  uint8_t* xmp_[kMaxPackets] = {};
  size_t xmpSize_[kMaxPackets] = {};
  int xmpCount_ = 0;
  uint8_t* iptc_ = nullptr;
  size_t iptcSize_ = 0;
  uint8_t* photoshop_ = nullptr;  // APP13 sections joined: a resource may span two
  size_t photoshopSize_ = 0;
  uint8_t* parts_ = nullptr;
  size_t partsSize_ = 0;
  Part* partList_ = nullptr;  // kMaxExtendedParts of them, made at the first
  int partCount_ = 0;
  bool tooLarge_ = false, partsLost_ = false, outOfMemory_ = false;
};

}  // namespace exifinfo
