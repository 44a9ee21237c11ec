// SPDX-License-Identifier: MIT
// What PNG keeps in text chunks: an EXIF block, as ImageMagick and older tools write it (the
// keyword "Raw profile type exif" or "... APP1", then, deflated in zTXt and in a compressed
// iTXt, the text "\nexif\n    LENGTH\n" and LENGTH bytes as hex digits, 72 a line), and an XMP
// packet (iTXt "XML:com.adobe.xmp"). Also the XMP packets other containers keep whole.
#include <zlib.h>

#include <cstring>
#include <memory>

#include "container/container_walk.h"
#include "xmp/xmp_packet.h"

namespace exifinfo {
namespace {

constexpr uint64_t kMaxProfileBytes = 1 << 20;  // an EXIF block is at most 64 KiB in a JPEG
constexpr uint64_t kMaxTextBytes = 2 * kMaxProfileBytes + 4096;  // its hex digits, blanks and head
constexpr uint64_t kProfileBase = uint64_t{1} << 62;  // where the decoded block is held: no file offset

// Both keywords are 21 characters: the chunk's first 22 bytes say whether it is one.
constexpr size_t kKeywordBytes = 22;
constexpr char kXmpKeyword[] = "XML:com.adobe.xmp";  // 18 bytes with its NUL

bool IsProfileKeyword(const char* head, size_t size) {
  return size == kKeywordBytes && (std::memcmp(head, "Raw profile type exif", kKeywordBytes) == 0 ||
                                   std::memcmp(head, "Raw profile type APP1", kKeywordBytes) == 0);
}
// The same form holds IPTC ("iptc": IIM, or Photoshop resources around it) and XMP ("xmp").
enum class Profile { kNone, kExif, kIptc, kXmp };
Profile ProfileOf(const char* head, size_t size) {
  if (IsProfileKeyword(head, size)) return Profile::kExif;
  if (size == kKeywordBytes && std::memcmp(head, "Raw profile type iptc", kKeywordBytes) == 0) return Profile::kIptc;
  if (size >= kKeywordBytes - 1 && std::memcmp(head, "Raw profile type xmp", kKeywordBytes - 1) == 0) return Profile::kXmp;
  return Profile::kNone;
}

// The deflated `in`, at most `limit` bytes of it; false when it is no zlib stream.
bool Inflate(ByteView in, std::unique_ptr<uint8_t[]>& out, size_t& outSize, size_t limit = kMaxTextBytes) {
  out.reset(new (std::nothrow) uint8_t[limit]);
  if (out == nullptr) return false;
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return false;
  z.next_in = const_cast<Bytef*>(in.data);
  z.avail_in = static_cast<uInt>(in.size);
  z.next_out = out.get();
  z.avail_out = static_cast<uInt>(limit);
  const int status = inflate(&z, Z_FINISH);
  outSize = limit - z.avail_out;
  inflateEnd(&z);
  return status == Z_STREAM_END || (status == Z_BUF_ERROR && z.avail_out == 0);  // a longer text is cut
}

int HexDigit(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The profile's bytes from its text: a name line, a decimal length, then that many bytes in
// hex with blanks between anywhere. Fewer digits than the length say give what they hold.
size_t DecodeProfile(const uint8_t* text, size_t size, uint8_t* out) {
  size_t i = 0;
  const auto blanks = [&] {
    while (i < size && (text[i] == '\n' || text[i] == '\r' || text[i] == ' ' || text[i] == '\t')) ++i;
  };
  blanks();
  while (i < size && text[i] != '\n') ++i;  // the name ("exif")
  blanks();
  uint64_t length = 0;
  while (i < size && text[i] >= '0' && text[i] <= '9' && length <= kMaxProfileBytes) length = length * 10 + (text[i++] - '0');
  if (length > kMaxProfileBytes) length = kMaxProfileBytes;
  size_t n = 0;
  int high = -1;
  for (; i < size && n < length; ++i) {
    const int digit = HexDigit(text[i]);
    if (digit < 0) continue;
    if (high < 0) {
      high = digit;
    } else {
      out[n++] = static_cast<uint8_t>(high << 4 | digit);
      high = -1;
    }
  }
  return n;
}

// An iTXt chunk's text, from `at` (just past its keyword's NUL): the compression flag and
// method, the language tag and translated keyword, each ending in a NUL, then the text.
bool ITxtText(ByteView chunk, size_t at, bool& compressed, ByteView& text) {
  if (!chunk.Has(at, 2)) return false;
  compressed = chunk.data[at] != 0;
  at += 2;
  for (int field = 0; field < 2; ++field) {
    const auto* end = static_cast<const uint8_t*>(std::memchr(chunk.data + at, 0, chunk.size - at));
    if (end == nullptr) return false;
    at = static_cast<size_t>(end - chunk.data) + 1;
  }
  text = chunk.Slice(at, chunk.size - at);
  return true;
}

void ReadXmpChunk(ContainerWalk& walk, uint64_t offset, uint64_t length, ExifReader& reader) {
  if (length > kMaxXmpBytes) return reader.packets().NoteTooLarge();
  std::unique_ptr<uint8_t[]> copy(new (std::nothrow) uint8_t[length]);
  if (copy == nullptr) return void(walk.outOfMemory = true);
  if (!walk.Copy(offset, length, copy.get())) return;
  bool compressed = false;
  ByteView text;
  if (!ITxtText(ByteView{copy.get(), static_cast<size_t>(length)}, sizeof kXmpKeyword, compressed, text)) return;
  std::unique_ptr<uint8_t[]> inflated;
  size_t inflatedSize = 0;
  if (compressed) {
    // One byte past the bound tells a packet too large from one that fills it.
    if (!Inflate(text, inflated, inflatedSize, kMaxXmpBytes + 1)) return;
    if (inflatedSize > kMaxXmpBytes) return reader.packets().NoteTooLarge();
    text = ByteView{inflated.get(), inflatedSize};
  }
  reader.packets().AddXmp(text);
}

}  // namespace

void ReadXmpAt(ContainerWalk& walk, uint64_t offset, uint64_t length, ExifReader& reader) {
  if (!reader.gathersExtras()) return;
  if (length > kMaxXmpBytes) return reader.packets().NoteTooLarge();
  std::unique_ptr<uint8_t[]> copy(new (std::nothrow) uint8_t[length == 0 ? 1 : length]);
  if (copy == nullptr) return void(walk.outOfMemory = true);
  if (walk.Copy(offset, length, copy.get())) reader.packets().AddXmp(ByteView{copy.get(), static_cast<size_t>(length)});
}

bool ReadTextChunk(ContainerWalk& walk, uint64_t offset, uint64_t length, bool zTxt, bool iTxt, bool exifRead,
                   ExifReader& reader) {
  // The keyword first: other text chunks are not read on.
  if (length < sizeof kXmpKeyword) return false;
  const ByteView head = walk.Need(offset, length < kKeywordBytes ? length : kKeywordBytes);
  if (head.size == 0) return false;
  if (iTxt && std::memcmp(head.data, kXmpKeyword, sizeof kXmpKeyword) == 0) {
    if (reader.gathersExtras()) ReadXmpChunk(walk, offset, length, reader);
    return false;
  }
  const Profile profile =
      length > RangeReader::kMaxFetchBytes ? Profile::kNone : ProfileOf(reinterpret_cast<const char*>(head.data), head.size);
  if (profile == Profile::kNone || (profile == Profile::kExif ? exifRead : !reader.gathersExtras())) return false;
  const size_t keywordBytes = profile == Profile::kXmp ? kKeywordBytes - 1 : kKeywordBytes;
  std::unique_ptr<uint8_t[]> copy(new (std::nothrow) uint8_t[length]);
  if (copy == nullptr) return walk.outOfMemory = true, false;
  if (!walk.Copy(offset, length, copy.get())) return false;
  const ByteView chunk{copy.get(), static_cast<size_t>(length)};
  bool compressed = zTxt;
  ByteView text;
  if (iTxt) {
    if (!ITxtText(chunk, keywordBytes, compressed, text)) return false;
  } else {
    const size_t at = keywordBytes + (zTxt ? 1 : 0);  // zTXt: the compression method, 0: deflate
    if (at > chunk.size) return false;
    text = chunk.Slice(at, chunk.size - at);
  }
  std::unique_ptr<uint8_t[]> inflated;
  size_t inflatedSize = 0;
  if (compressed) {
    if (!Inflate(text, inflated, inflatedSize)) return false;
    text = ByteView{inflated.get(), inflatedSize};
  }
  std::unique_ptr<uint8_t[]> decoded(new (std::nothrow) uint8_t[text.size / 2 + 1]);
  if (decoded == nullptr) return walk.outOfMemory = true, false;
  size_t size = DecodeProfile(text.data, text.size, decoded.get());
  const ByteView bytes{decoded.get(), size};
  if (profile == Profile::kXmp) return reader.packets().AddXmp(bytes), false;
  if (profile == Profile::kIptc) {
    const bool resources = size >= 4 && std::memcmp(bytes.data, "8BIM", 4) == 0;
    resources ? reader.packets().AddPhotoshop(bytes) : reader.packets().AddIptc(bytes);
    return false;
  }
  const uint8_t* tiff = decoded.get();
  if (size >= kExifHeaderBytes && std::memcmp(tiff, "Exif\0\0", kExifHeaderBytes) == 0) tiff += kExifHeaderBytes, size -= kExifHeaderBytes;
  return ReadTiffInMemory(walk, ByteView{tiff, size}, kProfileBase, reader);
}

}  // namespace exifinfo
