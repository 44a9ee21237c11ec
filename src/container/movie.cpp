// SPDX-License-Identifier: MIT
// Videos: MP4 (and M4V, 3GP, 3G2) and QuickTime movies. What a photo archive asks of a video is
// in its movie box (moov): the movie header's dates and length, the video track's frame and
// rotation, and the camera and place a phone or camera writes in user data or Apple's keyed
// metadata. The media (mdat) is passed over by its size and never fetched; a moov at the end of
// the file costs the head and one read of the tail.
#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>

#include "container/boxes.h"
#include "container/container_walk.h"

namespace exifinfo {
namespace {

constexpr uint64_t kMaxMovieBytes = uint64_t{64} << 20;  // a movie box larger than this is damaged
constexpr int kMaxBoxDepth = 32;
constexpr uint64_t kMaxTableItems = 1000000;  // keys, top-level boxes, children of one box
constexpr size_t kBoxHeaderBytes = 16;        // with a 64-bit size
constexpr size_t kMovieHeaderBytes = 32;      // mvhd version 1, up to its duration
constexpr size_t kTrackHeaderBytes = 96;      // tkhd version 1, up to its height
constexpr size_t kSampleEntryDepthAt = 8 + 82;  // stsd's counts, then a visual entry's depth
constexpr size_t kMaxTextBytes = 1024;        // a user-data or keyed text, at most
constexpr uint32_t kUtf8Data = 1;             // a keyed value's well-known type: UTF-8 text

// The keyed (mdta) values read, by their key names.
enum KeyedValue : int { kKeyedMake, kKeyedModel, kKeyedSoftware, kKeyedCreationDate, kKeyedLocation, kKeyedCount };
constexpr const char* kKeyNames[kKeyedCount] = {
    "com.apple.quicktime.make", "com.apple.quicktime.model", "com.apple.quicktime.software",
    "com.apple.quicktime.creationdate", "com.apple.quicktime.location.ISO6709"};

// What the walk of one track found.
struct Track {
  bool video = false;  // its media handler is 'vide'
  bool sized = false;
  uint64_t width = 0, height = 0;
  int32_t rotation = 0;
  int32_t colour = 1;
};

// A number of ISO 6709 ("+32.0929", "-0341225.5") in degrees: up to `whole` digits before any
// point are degrees (2 for a latitude, 3 for a longitude; writers that drop the leading zeros
// are read too), two more minutes, two more seconds.
bool Iso6709Part(const char*& at, const char* end, int whole, double& out) {
  if (at == end || (*at != '+' && *at != '-')) return false;
  const bool negative = *at++ == '-';
  const char* digits = at;
  while (at != end && *at >= '0' && *at <= '9') ++at;
  const long count = at - digits;
  const bool degrees = count >= 1 && count <= whole;
  if (!degrees && count != whole + 2 && count != whole + 4) return false;
  // The last part with its fraction read as one number, so that "+32.0929" is the double
  // nearest 32.0929 and not a sum's.
  const long lastAt = degrees ? 0 : count - 2;
  double parts[3] = {0, 0, 0};  // degrees, minutes, seconds
  for (long k = 0; k < lastAt; ++k) {
    const int part = k < whole ? 0 : 1;
    parts[part] = parts[part] * 10 + (digits[k] - '0');
  }
  if (at != end && *at == '.') {
    const char* fraction = ++at;
    while (at != end && *at >= '0' && *at <= '9') ++at;
    if (at == fraction) return false;
  }
  char number[40];
  const long length = at - (digits + lastAt);
  if (length >= static_cast<long>(sizeof number)) return false;
  std::memcpy(number, digits + lastAt, static_cast<size_t>(length));
  number[length] = '\0';
  // from_chars: a host's locale does not change what a point means.
  if (std::from_chars(number, number + length, parts[degrees ? 0 : count == whole + 2 ? 1 : 2]).ec != std::errc{})
    return false;
  const double value = parts[0] + parts[1] / 60 + parts[2] / 3600;
  out = negative ? -value : value;
  return true;
}

// A place in ISO 6709 text: latitude, longitude and an optional altitude, then an optional
// reference system and "/". Nothing is set unless the latitude and longitude both read.
void ReadIso6709(ByteView text, ExtraValues& values) {
  const char* at = reinterpret_cast<const char*>(text.data);
  const char* end = at + text.size;
  double latitude = 0, longitude = 0, altitude = NAN;
  if (!Iso6709Part(at, end, 2, latitude) || !Iso6709Part(at, end, 3, longitude) || std::fabs(latitude) > 90 ||
      std::fabs(longitude) > 180)
    return;
  if (at != end && (*at == '+' || *at == '-')) {
    const bool negative = *at++ == '-';
    char number[32];
    size_t n = 0;
    while (at != end && n + 1 < sizeof number && ((*at >= '0' && *at <= '9') || *at == '.')) number[n++] = *at++;
    number[n] = '\0';
    double value = 0;
    const auto read = std::from_chars(number, number + n, value);
    if (n != 0 && read.ec == std::errc{} && read.ptr == number + n) altitude = negative ? -value : value;
  }
  if (!std::isnan(values.doubles[kGpsLatitude])) return;  // an EXIF block's position stays
  values.doubles[kGpsLatitude] = latitude;
  values.doubles[kGpsLongitude] = longitude;
  values.doubles[kGpsAltitude] = altitude;
}

class MovieWalk {
 public:
  MovieWalk(ContainerWalk& walk, ExifReader& reader) : walk_(walk), reader_(reader), values_(reader.containerValues()) {}

  // A raw file's movie box (CR3): the same headers, but the photo's frame is its EXIF's, and
  // the box also holds the thumbnail, so it is walked box by box, never fetched whole.
  void RunHeaders(const Box& moov) {
    headersOnly_ = true;
    ReadMovie(moov);
  }

  void Run() {
    const uint64_t end = walk_.source.size();
    uint64_t at = 0;
    for (uint64_t n = 0; n < kMaxTableItems && at < end; ++n) {
      Box box;
      if (!Header(at, end, true, box)) break;
      if (IsType(box, "moov")) {
        ReadMovie(box);
        return;
      }
      if (IsType(box, "uuid") && box.end != kUnknownSize && box.end - box.contents > kUuidBytes) {
        const ByteView uuid = walk_.Need(box.contents, kUuidBytes);
        if (uuid.size == kUuidBytes && std::memcmp(uuid.data, kXmpUuid, kUuidBytes) == 0)
          ReadXmpAt(walk_, box.contents + kUuidBytes, box.end - box.contents - kUuidBytes, reader_);
      }
      if (box.end == kUnknownSize) break;
      at = box.end;
    }
    // A movie is its movie box: an input that ends before one was cut (or holds none at all).
    if (!walk_.damaged && !walk_.source.failed() && !walk_.source.outOfMemory()) walk_.truncated = true;
  }

 private:
  // The header of the box at `at` inside a parent that ends at `end` (kUnknownSize: the input's
  // end). False at the parent's end, or with the reason noted in the walk.
  bool Header(uint64_t at, uint64_t end, bool topLevel, Box& box) {
    const uint64_t left = end - at;
    const ByteView header = walk_.source.Fetch(at, left < kBoxHeaderBytes ? static_cast<size_t>(left) : kBoxHeaderBytes);
    if (header.size < 8) {
      // Fewer than a header's bytes left in a parent: the 32-bit zero that ends QuickTime's
      // user data, or padding. At the top level the input ended between boxes.
      if (header.size == 0 && end == kUnknownSize) return false;
      if (end != kUnknownSize && left < 8) return false;
      if (!walk_.source.failed() && !walk_.source.outOfMemory()) walk_.truncated = true;
      return false;
    }
    // A top-level box may run past the input's end (a cut file): what it holds before the cut
    // is read, and a read past the end says the input was cut. Inside a box, a child that runs
    // past its parent is malformed.
    if (!ParseBoxHeader(header, at, topLevel ? kUnknownSize : end, box)) {
      // A 64-bit size the input ends inside is cut, not malformed.
      const bool cut = header.size < kBoxHeaderBytes && left > header.size && ReadU32Big(header.data) == 1;
      (cut ? walk_.truncated : walk_.damaged) = true;
      return false;
    }
    // Size 0: to the parent's end. A top-level box's stays "to the input's end", known or not,
    // so that a size-0 moov reads the same whether the source knows its size or not.
    if (box.end == kUnknownSize && !topLevel) box.end = end;
    return true;
  }

  // The contents of a leaf box, at most `most` bytes of them; empty (the reason noted) when the
  // input ends first.
  ByteView Contents(const Box& box, size_t most) {
    const uint64_t size = box.end == kUnknownSize ? most : box.end - box.contents;
    return walk_.Need(box.contents, size < most ? size : most);
  }

  // A text of the file kept for the record: a copy that lives as long as the reader.
  ByteView KeepText(uint64_t offset, ByteView text) {
    if (text.size > kMaxTextBytes) text.size = kMaxTextBytes;
    const uint8_t* kept = reader_.held().Keep(offset, text);
    if (kept == nullptr) {
      (reader_.held().full() ? walk_.truncated : walk_.outOfMemory) = true;
      return ByteView{};
    }
    return ByteView{kept, text.size};
  }

  void ReadMovie(const Box& moov) {
    if (moov.end != kUnknownSize && moov.end - moov.contents > kMaxMovieBytes) return void(walk_.damaged = true);
    // The whole movie box in one request where it fits a window (nearly every video's does):
    // the walk below then finds every header and value in it.
    const uint64_t size = moov.end == kUnknownSize ? RangeReader::kMaxFetchBytes : moov.end - moov.contents;
    if (!headersOnly_)
      walk_.source.Fetch(moov.contents, size < RangeReader::kMaxFetchBytes ? static_cast<size_t>(size) : RangeReader::kMaxFetchBytes);
    WalkChildren(moov, 1, "moov");
    // Keyed values win over user data where a file has both.
    for (int k = 0; k < kKeyedCount; ++k)
      if (keyed_[k].size == 0) keyed_[k] = userData_[k];
    const Track& chosen = video_.sized ? video_ : firstSized_;
    if (chosen.sized) {
      if (!headersOnly_) walk_.SetFrame(chosen.width, chosen.height, chosen.colour);
      values_.ints[kRotation] = chosen.rotation;
    }
    for (int k = 0; k < kKeyedCount; ++k) {
      if (keyed_[k].size == 0) continue;
      switch (k) {
        case kKeyedMake: values_.texts[kMake] = keyed_[k]; break;
        case kKeyedModel: values_.texts[kModel] = keyed_[k]; break;
        case kKeyedSoftware: values_.texts[kSoftware] = keyed_[k]; break;
        case kKeyedCreationDate: values_.creationDate = keyed_[k]; break;
        default: ReadIso6709(keyed_[k], values_); break;
      }
    }
  }

  void WalkChildren(const Box& parent, int depth, const char* parentType) {
    if (depth > kMaxBoxDepth) return void(walk_.damaged = true);
    uint64_t at = parent.contents;
    // QuickTime's meta box has no version and flags; ISO's (an MP4's user data) has them.
    if (std::strcmp(parentType, "meta") == 0) {
      const ByteView probe = walk_.source.Fetch(at, 8);
      if (probe.size == 8 && std::memcmp(probe.At(4), "hdlr", 4) != 0 && ReadU32Big(probe.data) == 0) at += 4;
    }
    for (uint64_t n = 0; n < kMaxTableItems && at < parent.end && !walk_.damaged; ++n) {
      Box box;
      if (!Header(at, parent.end, false, box)) return;
      Visit(box, depth, parentType);
      at = box.end;
    }
  }

  void Visit(const Box& box, int depth, const char* parentType) {
    static const char* const kContainers[] = {"mdia", "minf", "stbl", "udta", "meta", "ilst"};
    if (IsType(box, "trak")) return ReadTrack(box, depth);
    for (const char* container : kContainers)
      if (IsType(box, container)) return WalkChildren(box, depth + 1, container);
    const std::string_view parent(parentType);
    if (parent == "moov" && IsType(box, "mvhd")) return ReadMovieHeader(box);
    if (parent == "trak" && IsType(box, "tkhd") && track_ != nullptr) return ReadTrackHeader(box);
    if (parent == "mdia" && IsType(box, "hdlr") && track_ != nullptr) return ReadHandler(box);
    if (parent == "stbl" && IsType(box, "stsd") && track_ != nullptr) return ReadSampleDepth(box);
    if (parent == "meta" && IsType(box, "keys")) return ReadKeys(box);
    if (parent == "ilst") return ReadItem(box);
    if (parent == "udta" && IsType(box, "XMP_")) return ReadXmpAt(walk_, box.contents, box.end - box.contents, reader_);
    if (parent == "udta") return ReadUserData(box);
  }

  void ReadMovieHeader(const Box& box) {
    Cursor c(Contents(box, kMovieHeaderBytes));
    const uint64_t width = c.Read(1) == 1 ? 8 : 4;
    c.Skip(3);
    const uint64_t created = c.Read(width), modified = c.Read(width), scale = c.Read(4), duration = c.Read(width);
    if (!c.ok()) return;
    values_.movieCreated = created, values_.movieModified = modified;
    if (scale != 0) values_.doubles[kDuration] = static_cast<double>(duration) / static_cast<double>(scale);
  }

  void ReadTrack(const Box& box, int depth) {
    Track track;
    Track* outer = track_;
    track_ = &track;
    WalkChildren(box, depth + 1, "trak");
    track_ = outer;
    if (track.video && !video_.sized && track.sized) video_ = track;
    if (!firstSized_.sized && track.sized) firstSized_ = track;
  }

  void ReadTrackHeader(const Box& box) {
    Cursor c(Contents(box, kTrackHeaderBytes));
    const uint64_t version = c.Read(1);
    c.Skip(3 + (version == 1 ? 32 : 20) + 8 + 8);  // times, ids, duration; layer, group, volume
    int64_t matrix[9];
    for (int64_t& m : matrix) m = static_cast<int32_t>(c.Read(4));
    const uint64_t width = c.Read(4) >> 16, height = c.Read(4) >> 16;  // 16.16 fixed point
    if (!c.ok() || width == 0 || height == 0) return;
    track_->sized = true;
    track_->width = width, track_->height = height;
    // The matrix's rotation part: [a b; c d] of a quarter or half turn.
    const int64_t a = matrix[0], b = matrix[1], cc = matrix[3], d = matrix[4];
    if (a == 0 && d == 0 && b > 0 && cc < 0) track_->rotation = 90;
    else if (a < 0 && d < 0 && b == 0 && cc == 0) track_->rotation = 180;
    else if (a == 0 && d == 0 && b < 0 && cc > 0) track_->rotation = 270;
  }

  void ReadHandler(const Box& box) {
    const ByteView bytes = Contents(box, 12);  // version and flags, the component type, the handler type
    if (bytes.size == 12 && std::memcmp(bytes.At(8), "vide", 4) == 0) track_->video = true;
  }

  // The first sample entry's depth: QuickTime's grey scales are 33 to 40 (32 plus the bits).
  void ReadSampleDepth(const Box& box) {
    if (box.end - box.contents < kSampleEntryDepthAt + 2) return;  // no visual entry
    const ByteView bytes = walk_.Need(box.contents, kSampleEntryDepthAt + 2);
    if (bytes.size == 0) return;
    const uint16_t depth = ReadU16(bytes.At(kSampleEntryDepthAt), true);
    if (depth > 32 && depth <= 40) track_->colour = 0;
  }

  // keys: the names of the keyed values, 1-based. Only the indexes of the names read are kept.
  void ReadKeys(const Box& box) {
    const uint64_t size = box.end - box.contents;
    if (size > RangeReader::kMaxFetchBytes) return;  // no phone writes more than a few KiB of names
    const ByteView bytes = Contents(box, static_cast<size_t>(size));
    Cursor c(bytes);
    c.Skip(4);
    const uint64_t count = c.Read(4);
    for (uint64_t index = 1; index <= count && index <= kMaxTableItems && c.ok(); ++index) {
      const uint64_t at = c.at();
      const uint64_t length = c.Read(4);
      if (length < 8 || !bytes.Has(at, length)) return;
      const ByteView name = bytes.Slice(at + 8, length - 8);
      for (int k = 0; k < kKeyedCount; ++k)
        if (name.size == std::strlen(kKeyNames[k]) && std::memcmp(name.data, kKeyNames[k], name.size) == 0)
          keyIndex_[k] = index;
      c.Skip(length - 4);
    }
  }

  // An ilst item: keyed (its type is the key's index), holding a data box: a well-known type, a
  // locale, the value. iTunes-style items match no key's index.
  void ReadItem(const Box& item) {
    const uint32_t index = ReadU32Big(reinterpret_cast<const uint8_t*>(item.type));
    int which = -1;
    for (int k = 0; k < kKeyedCount; ++k)
      if (keyIndex_[k] != 0 && keyIndex_[k] == index) which = k;
    Box data;
    if (which < 0 || keyed_[which].size != 0 || item.end - item.contents < 16 ||
        !Header(item.contents, item.end, false, data) || !IsType(data, "data") || data.end < data.contents + 8)
      return;
    const ByteView head = Contents(data, 8);
    if (head.size != 8 || (ReadU32Big(head.data) & 0xFFFFFF) != kUtf8Data) return;
    const uint64_t valueAt = data.contents + 8, length = data.end - valueAt;
    const ByteView value = walk_.Need(valueAt, length < kMaxTextBytes ? length : kMaxTextBytes);
    if (value.size != 0) keyed_[which] = KeepText(valueAt, value);
  }

  // User data: QuickTime's international texts (a 16-bit length and language, then the text),
  // ©mak, ©mod, ©swr and the place ©xyz.
  void ReadUserData(const Box& box) {
    static const struct {
      char type[4];
      int slot;
    } kTexts[] = {{{'\xA9', 'm', 'a', 'k'}, kKeyedMake},
                  {{'\xA9', 'm', 'o', 'd'}, kKeyedModel},
                  {{'\xA9', 's', 'w', 'r'}, kKeyedSoftware},
                  {{'\xA9', 'x', 'y', 'z'}, kKeyedLocation}};
    int slot = -1;
    for (const auto& text : kTexts)
      if (std::memcmp(box.type, text.type, 4) == 0) slot = text.slot;
    if (slot < 0 || userData_[slot].size != 0) return;
    const ByteView head = Contents(box, 4);
    if (head.size != 4) return;
    const uint64_t length = ReadU16(head.data, true);
    if (length == 0 || length > box.end - box.contents - 4) return;
    const ByteView text = walk_.Need(box.contents + 4, length < kMaxTextBytes ? length : kMaxTextBytes);
    if (text.size != 0) userData_[slot] = KeepText(box.contents + 4, text);
  }

  ContainerWalk& walk_;
  ExifReader& reader_;
  ExtraValues& values_;
  bool headersOnly_ = false;
  Track* track_ = nullptr;
  Track video_, firstSized_;
  uint64_t keyIndex_[kKeyedCount] = {};
  ByteView keyed_[kKeyedCount] = {};
  ByteView userData_[kKeyedCount] = {};
};

}  // namespace

void WalkMovie(ContainerWalk& walk, ExifReader& reader) {
  MovieWalk movie(walk, reader);
  movie.Run();
}

void ReadMovieHeaders(ContainerWalk& walk, const Box& moov, ExifReader& reader) {
  MovieWalk movie(walk, reader);
  movie.RunHeaders(moov);
}

}  // namespace exifinfo
