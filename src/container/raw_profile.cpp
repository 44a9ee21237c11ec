// SPDX-License-Identifier: MIT
// An EXIF block kept in a PNG text chunk, as ImageMagick and older tools write it: the keyword
// "Raw profile type exif" (or "... APP1"), then, deflated in zTXt and in a compressed iTXt, the
// text "\nexif\n    LENGTH\n" and LENGTH bytes as hex digits, 72 a line.
#include <zlib.h>

#include <cstring>
#include <memory>

#include "container/container_walk.h"

namespace exifinfo {
namespace {

constexpr uint64_t kMaxProfileBytes = 1 << 20;  // an EXIF block is at most 64 KiB in a JPEG
constexpr uint64_t kMaxTextBytes = 2 * kMaxProfileBytes + 4096;  // its hex digits, blanks and head
constexpr uint64_t kProfileBase = uint64_t{1} << 62;  // where the decoded block is held: no file offset

// Both keywords are 21 characters: the chunk's first 22 bytes say whether it is one.
constexpr size_t kKeywordBytes = 22;

bool IsProfileKeyword(const char* head, size_t size) {
  return size == kKeywordBytes && (std::memcmp(head, "Raw profile type exif", kKeywordBytes) == 0 ||
                                   std::memcmp(head, "Raw profile type APP1", kKeywordBytes) == 0);
}

// The deflated `in`, at most kMaxTextBytes of it; false when it is no zlib stream.
bool Inflate(ByteView in, std::unique_ptr<uint8_t[]>& out, size_t& outSize) {
  out.reset(new (std::nothrow) uint8_t[kMaxTextBytes]);
  if (out == nullptr) return false;
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return false;
  z.next_in = const_cast<Bytef*>(in.data);
  z.avail_in = static_cast<uInt>(in.size);
  z.next_out = out.get();
  z.avail_out = static_cast<uInt>(kMaxTextBytes);
  const int status = inflate(&z, Z_FINISH);
  outSize = kMaxTextBytes - z.avail_out;
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

}  // namespace

bool ReadRawProfileChunk(ContainerWalk& walk, uint64_t offset, uint64_t length, bool zTxt, bool iTxt,
                         ExifReader& reader) {
  // The keyword first: other text chunks are not read on.
  if (length > RangeReader::kMaxFetchBytes || length < kKeywordBytes) return false;
  const ByteView head = walk.Need(offset, kKeywordBytes);
  if (head.size == 0 || !IsProfileKeyword(reinterpret_cast<const char*>(head.data), kKeywordBytes)) return false;
  std::unique_ptr<uint8_t[]> copy(new (std::nothrow) uint8_t[length]);
  if (copy == nullptr) return walk.outOfMemory = true, false;
  if (!walk.Copy(offset, length, copy.get())) return false;
  const ByteView chunk{copy.get(), static_cast<size_t>(length)};
  size_t at = kKeywordBytes;  // past the keyword and its NUL
  bool compressed = zTxt;
  if (zTxt) {
    at += 1;  // the compression method, 0: deflate
  } else if (iTxt) {
    if (at + 2 > chunk.size) return false;
    compressed = chunk.data[at] != 0;
    at += 2;  // the compression flag and method
    for (int field = 0; field < 2; ++field) {  // the language tag and the translated keyword
      const auto* end = static_cast<const uint8_t*>(std::memchr(chunk.data + at, 0, chunk.size - at));
      if (end == nullptr) return false;
      at = static_cast<size_t>(end - chunk.data) + 1;
    }
  }
  if (at > chunk.size) return false;
  ByteView text = chunk.Slice(at, chunk.size - at);
  std::unique_ptr<uint8_t[]> inflated;
  size_t inflatedSize = 0;
  if (compressed) {
    if (!Inflate(text, inflated, inflatedSize)) return false;
    text = ByteView{inflated.get(), inflatedSize};
  }
  std::unique_ptr<uint8_t[]> profile(new (std::nothrow) uint8_t[text.size / 2 + 1]);
  if (profile == nullptr) return walk.outOfMemory = true, false;
  size_t size = DecodeProfile(text.data, text.size, profile.get());
  const uint8_t* tiff = profile.get();
  if (size >= kExifHeaderBytes && std::memcmp(tiff, "Exif\0\0", kExifHeaderBytes) == 0) tiff += kExifHeaderBytes, size -= kExifHeaderBytes;
  return ReadTiffInMemory(walk, ByteView{tiff, size}, kProfileBase, reader);
}

}  // namespace exifinfo
