// SPDX-License-Identifier: MIT
// The values XMP and IPTC give a photo's record: texts and lists of texts, decoded to UTF-8 and
// owned here (an XMP text is no view of the file: entities and character references are
// replaced). Several packets may fill them (a JPEG's main and extended XMP, a TIFF's tag, a
// sidecar): the first packet that has a value keeps it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "io/byte_view.h"

namespace exifinfo {

// Texts, by the names the record gives them; those named for their source only feed others.
enum MetaText : int {
  kRating, kLabel, kTitle, kDescription, kRights, kCity, kState, kCountry, kDateCreated,
  kXmpDateTimeOriginal, kXmpCreateDate, kXmpGpsLatitude, kXmpGpsLongitude, kXmpGpsAltitude, kXmpGpsAltitudeRef,
  kHasExtendedXmp,  // the GUID of the extended packet the main one continues in
  kObjectName, kCaption, kIptcCity, kIptcDateCreated, kIptcTimeCreated,
  kMetaTextCount
};
enum MetaList : int { kSubject, kHierarchicalSubject, kCreator, kRegionName, kKeywords, kByLine, kMetaListCount };

class MetaValues {
 public:
  static constexpr size_t kMaxListItems = 10000;  // a list's items past it are passed over

  MetaValues() = default;
  ~MetaValues();
  MetaValues(const MetaValues&) = delete;
  MetaValues& operator=(const MetaValues&) = delete;

  // A new packet: the values earlier packets set are kept, whatever it says.
  void BeginPacket();
  // Sets a text unless an earlier packet set it, or this packet set it with a rank at least
  // `rank` (a language alternative's default outranks its other languages).
  void SetText(MetaText slot, const char* text, size_t length, int rank = 1);
  void AddItem(MetaList slot, const char* text, size_t length);

  bool has(MetaText slot) const { return textRank_[slot] != 0; }
  ByteView text(MetaText slot) const;
  size_t count(MetaList slot) const { return listCount_[slot]; }
  // Calls visit(ByteView) for each item of the list, in order.
  template <typename Visit>
  void ForEachItem(MetaList slot, Visit visit) const {
    for (size_t k = 0; k < itemCount_; ++k)
      if (items_[k].list == slot) visit(ByteView{reinterpret_cast<const uint8_t*>(bytes_) + items_[k].at, items_[k].length});
  }
  bool listCut() const { return listCut_; }          // a list had more than kMaxListItems
  bool outOfMemory() const { return outOfMemory_; }  // a value was lost for want of memory

 private:
  struct Item {
    uint32_t at, length;
    int list;
  };
  bool Store(const char* text, size_t length, uint32_t& at);

  char* bytes_ = nullptr;  // every value, each followed by a NUL
  size_t used_ = 0, capacity_ = 0;
  Item* items_ = nullptr;
  size_t itemCount_ = 0, itemCapacity_ = 0;
  uint32_t textAt_[kMetaTextCount] = {}, textLength_[kMetaTextCount] = {};
  int textRank_[kMetaTextCount] = {};
  bool textEarlier_[kMetaTextCount] = {};  // set by a packet before the current one
  size_t listCount_[kMetaListCount] = {};
  bool listEarlier_[kMetaListCount] = {};
  bool listCut_ = false, outOfMemory_ = false;
};

}  // namespace exifinfo
