// SPDX-License-Identifier: MIT
// Small builders for the bytes tests are about: TIFF blocks in either byte order, EXIF
// sections and JPEG streams. Each test shows the structure it builds.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace testing_builders {

using Bytes = std::vector<uint8_t>;
enum class ByteOrder { kLittle, kBig };

inline void PutU16(Bytes& out, uint16_t v, ByteOrder order) {
  if (order == ByteOrder::kBig) {
    out.push_back(static_cast<uint8_t>(v >> 8)), out.push_back(static_cast<uint8_t>(v));
  } else {
    out.push_back(static_cast<uint8_t>(v)), out.push_back(static_cast<uint8_t>(v >> 8));
  }
}
inline void PutU32(Bytes& out, uint32_t v, ByteOrder order) {
  if (order == ByteOrder::kBig) {
    PutU16(out, static_cast<uint16_t>(v >> 16), order), PutU16(out, static_cast<uint16_t>(v), order);
  } else {
    PutU16(out, static_cast<uint16_t>(v), order), PutU16(out, static_cast<uint16_t>(v >> 16), order);
  }
}
inline void SetU32(Bytes& out, size_t at, uint32_t v, ByteOrder order) {
  Bytes tmp;
  PutU32(tmp, v, order);
  std::memcpy(out.data() + at, tmp.data(), 4);
}

// Directories are laid out one after another from offset 8 (or `FirstDirectoryAt`), each
// followed by the values that do not fit in their entry. Links name directories by index.
class TiffBuilder {
 public:
  static constexpr int kNoLink = -1;
  static constexpr int kSelf = -2;

  explicit TiffBuilder(ByteOrder order) : order_(order) {}

  class Dir {
   public:
    Dir& Entry(uint16_t tag, uint16_t format, uint32_t count, Bytes value) {
      entries_.push_back({tag, format, count, std::move(value), false, 0, kNoLink});
      return *this;
    }
    // An entry whose 4 value bytes are given as they stand (an offset, or an inline value).
    Dir& RawEntry(uint16_t tag, uint16_t format, uint32_t count, uint32_t valueField) {
      entries_.push_back({tag, format, count, {}, true, valueField, kNoLink});
      return *this;
    }
    Dir& Ascii(uint16_t tag, const std::string& text) {
      Bytes v(text.begin(), text.end());
      v.push_back(0);
      return Entry(tag, 2, static_cast<uint32_t>(v.size()), v);
    }
    Dir& Undefined(uint16_t tag, const Bytes& v) { return Entry(tag, 7, static_cast<uint32_t>(v.size()), v); }
    Dir& Short(uint16_t tag, uint16_t v) { return Entry(tag, 3, 1, Encode16(v)); }
    Dir& SShort(uint16_t tag, int16_t v) { return Entry(tag, 8, 1, Encode16(static_cast<uint16_t>(v))); }
    Dir& Long(uint16_t tag, uint32_t v) { return Entry(tag, 4, 1, Encode32(v)); }
    Dir& SLong(uint16_t tag, int32_t v) { return Entry(tag, 9, 1, Encode32(static_cast<uint32_t>(v))); }
    Dir& Rational(uint16_t tag, uint32_t num, uint32_t den) { return Entry(tag, 5, 1, Pair(num, den)); }
    // A RATIONAL value of several components, e.g. GPS degrees, minutes and seconds.
    Dir& Rationals(uint16_t tag, std::vector<std::pair<uint32_t, uint32_t>> parts) {
      Bytes v;
      for (const auto& [num, den] : parts) {
        const Bytes pair = Pair(num, den);
        v.insert(v.end(), pair.begin(), pair.end());
      }
      return Entry(tag, 5, static_cast<uint32_t>(parts.size()), v);
    }
    Dir& Byte(uint16_t tag, uint8_t v) { return Entry(tag, 1, 1, Bytes{v}); }
    Dir& SRational(uint16_t tag, int32_t num, int32_t den) {
      return Entry(tag, 10, 1, Pair(static_cast<uint32_t>(num), static_cast<uint32_t>(den)));
    }
    Dir& Float(uint16_t tag, float v) {
      uint32_t bits;
      std::memcpy(&bits, &v, 4);
      return Entry(tag, 11, 1, Encode32(bits));
    }
    Dir& Double(uint16_t tag, double v) {
      uint64_t bits;
      std::memcpy(&bits, &v, 8);
      Bytes out = Encode32(static_cast<uint32_t>(order_ == ByteOrder::kBig ? bits >> 32 : bits));
      const Bytes low = Encode32(static_cast<uint32_t>(order_ == ByteOrder::kBig ? bits : bits >> 32));
      out.insert(out.end(), low.begin(), low.end());
      return Entry(tag, 12, 1, out);
    }
    // A LONG entry whose value is the offset of directory `index` (kSelf: this one).
    Dir& Link(uint16_t tag, int index) {
      entries_.push_back({tag, 4, 1, {}, true, 0, index});
      return *this;
    }
    Dir& NextDirectory(int index) {
      next_ = index;
      return *this;
    }
    Dir& RawNext(uint32_t value) {
      rawNext_ = value, hasRawNext_ = true;
      return *this;
    }
    // Declares this many entries in the count field, whatever is really there.
    Dir& DeclaredCount(uint16_t count) {
      declaredCount_ = count, hasDeclaredCount_ = true;
      return *this;
    }
    // Ends the directory right after its entries: no 4-byte link and no values follow.
    Dir& WithoutLink() {
      withoutLink_ = true;
      return *this;
    }

   private:
    friend class TiffBuilder;
    struct Item {
      uint16_t tag, format;
      uint32_t count;
      Bytes value;
      bool raw;
      uint32_t rawValue;
      int link;
    };
    explicit Dir(ByteOrder order) : order_(order) {}
    Bytes Encode16(uint16_t v) const {
      Bytes b;
      PutU16(b, v, order_);
      return b;
    }
    Bytes Encode32(uint32_t v) const {
      Bytes b;
      PutU32(b, v, order_);
      return b;
    }
    Bytes Pair(uint32_t a, uint32_t b) const {
      Bytes out = Encode32(a);
      const Bytes second = Encode32(b);
      out.insert(out.end(), second.begin(), second.end());
      return out;
    }
    size_t Size() const {
      size_t size = 2 + 12 * entries_.size() + (withoutLink_ ? 0 : 4);
      for (const Item& item : entries_)
        if (!item.raw && item.value.size() > 4) size += item.value.size();
      return size;
    }
    ByteOrder order_;
    std::vector<Item> entries_;
    int next_ = kNoLink;
    uint32_t rawNext_ = 0;
    bool hasRawNext_ = false;
    uint16_t declaredCount_ = 0;
    bool hasDeclaredCount_ = false;
    bool withoutLink_ = false;
  };

  Dir& Directory() {
    dirs_.push_back(Dir(order_));
    return dirs_.back();
  }
  TiffBuilder& FirstDirectoryAt(uint32_t offset) {
    firstOffsetField_ = offset;
    return *this;
  }
  TiffBuilder& Magic(uint16_t magic) {
    magic_ = magic;
    return *this;
  }
  TiffBuilder& Trailer(const Bytes& bytes) {
    trailer_ = bytes;
    return *this;
  }
  // The offset directory `index` gets in the built block.
  uint32_t DirectoryOffset(size_t index) const {
    uint32_t at = 8;
    for (size_t i = 0; i < index; ++i) at += static_cast<uint32_t>(dirs_[i].Size());
    return at;
  }

  Bytes Build() const {
    Bytes out;
    out.push_back(order_ == ByteOrder::kBig ? 'M' : 'I');
    out.push_back(order_ == ByteOrder::kBig ? 'M' : 'I');
    PutU16(out, magic_, order_);
    PutU32(out, firstOffsetField_, order_);
    for (size_t d = 0; d < dirs_.size(); ++d) {
      const Dir& dir = dirs_[d];
      const uint32_t start = DirectoryOffset(d);
      const auto resolve = [&](int link) {
        return link == kSelf ? start : DirectoryOffset(static_cast<size_t>(link));
      };
      PutU16(out, dir.hasDeclaredCount_ ? dir.declaredCount_ : static_cast<uint16_t>(dir.entries_.size()), order_);
      uint32_t valueAt = start + 2 + 12 * static_cast<uint32_t>(dir.entries_.size()) + (dir.withoutLink_ ? 0 : 4);
      Bytes outOfLine;
      for (const Dir::Item& item : dir.entries_) {
        PutU16(out, item.tag, order_);
        PutU16(out, item.format, order_);
        PutU32(out, item.count, order_);
        if (item.link != kNoLink) {
          PutU32(out, resolve(item.link), order_);
        } else if (item.raw) {
          PutU32(out, item.rawValue, order_);
        } else if (item.value.size() > 4) {
          PutU32(out, valueAt, order_);
          valueAt += static_cast<uint32_t>(item.value.size());
          outOfLine.insert(outOfLine.end(), item.value.begin(), item.value.end());
        } else {
          Bytes inline4 = item.value;
          inline4.resize(4, 0);
          out.insert(out.end(), inline4.begin(), inline4.end());
        }
      }
      if (!dir.withoutLink_) PutU32(out, dir.hasRawNext_ ? dir.rawNext_ : (dir.next_ == kNoLink ? 0 : resolve(dir.next_)), order_);
      out.insert(out.end(), outOfLine.begin(), outOfLine.end());
    }
    out.insert(out.end(), trailer_.begin(), trailer_.end());
    return out;
  }

 private:
  ByteOrder order_;
  std::vector<Dir> dirs_;
  uint32_t firstOffsetField_ = 8;
  uint16_t magic_ = 42;
  Bytes trailer_;
};

// APP1 contents: "Exif", two zero bytes, then the TIFF block.
inline Bytes ExifContents(const Bytes& tiff) {
  Bytes out = {'E', 'x', 'i', 'f', 0, 0};
  out.insert(out.end(), tiff.begin(), tiff.end());
  return out;
}

class JpegBuilder {
 public:
  JpegBuilder& Soi() { return Raw({0xFF, 0xD8}); }
  JpegBuilder& Raw(const Bytes& bytes) {
    out_.insert(out_.end(), bytes.begin(), bytes.end());
    return *this;
  }
  // FF, the marker, a big-endian length that counts itself, then the contents.
  JpegBuilder& Segment(uint8_t marker, const Bytes& contents) {
    const size_t length = contents.size() + 2;
    Raw({0xFF, marker, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)});
    return Raw(contents);
  }
  JpegBuilder& Segment(uint8_t marker, const std::string& contents) {
    return Segment(marker, Bytes(contents.begin(), contents.end()));
  }
  JpegBuilder& Comment(const std::string& text) { return Segment(0xFE, text); }
  JpegBuilder& App1Exif(const Bytes& tiff) { return Segment(0xE1, ExifContents(tiff)); }
  JpegBuilder& Frame(uint8_t marker, uint16_t height, uint16_t width, uint8_t components) {
    Bytes contents = {8, static_cast<uint8_t>(height >> 8), static_cast<uint8_t>(height),
                      static_cast<uint8_t>(width >> 8), static_cast<uint8_t>(width), components};
    for (uint8_t c = 1; c <= components; ++c) contents.insert(contents.end(), {c, 0x11, 0});
    return Segment(marker, contents);
  }
  JpegBuilder& BaselineFrame(uint16_t height, uint16_t width) { return Frame(0xC0, height, width, 3); }
  JpegBuilder& QuantTable() { return Segment(0xDB, Bytes(65, 1)); }
  JpegBuilder& StartOfScan() { return Segment(0xDA, Bytes{1, 1, 0, 0, 63, 0}); }
  Bytes Build() const { return out_; }

 private:
  Bytes out_;
};

}  // namespace testing_builders
