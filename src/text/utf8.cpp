// SPDX-License-Identifier: MIT
#include "text/utf8.h"

#include <cstring>

namespace exifinfo {
namespace {

// Windows-1252 0x80..0x9F; 0x81, 0x8D, 0x8F, 0x90 and 0x9D are undefined and keep their value.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

bool IsContinuation(uint8_t byte) { return (byte & 0xC0) == 0x80; }

// Eight bytes at a time: a report is about a kilobyte of ASCII.
bool AllAscii(const uint8_t* bytes, size_t length) {
  uint64_t any = 0;
  size_t i = 0;
  for (; i + 8 <= length; i += 8) {
    uint64_t word;
    std::memcpy(&word, bytes + i, sizeof word);
    any |= word;
  }
  for (; i < length; ++i) any |= bytes[i];
  return (any & 0x8080808080808080u) == 0;
}

}  // namespace

bool IsWellFormedUtf8(const uint8_t* text, size_t length) {
  for (size_t i = 0; i < length;) {
    uint32_t ignored = 0;
    const size_t step = DecodeUtf8(text, length, i, ignored);
    if (step == 0) return false;
    i += step;
  }
  return true;
}

bool IsAscii(const char* text, size_t length) { return AllAscii(reinterpret_cast<const uint8_t*>(text), length); }

size_t DecodeUtf8(const uint8_t* text, size_t length, size_t i, uint32_t& codePoint) {
  const uint8_t lead = text[i];
  if (lead < 0x80) {
    codePoint = lead;
    return 1;
  }
  size_t extra = 0;
  uint32_t minimum = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    extra = 1, minimum = 0x80, codePoint = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    extra = 2, minimum = 0x800, codePoint = lead & 0x0Fu;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    extra = 3, minimum = 0x10000, codePoint = lead & 0x07u;
  } else {
    return 0;  // a stray continuation byte, an overlong lead (C0, C1) or past F4
  }
  if (extra > length - i - 1) return 0;
  for (size_t k = 1; k <= extra; ++k) {
    if (!IsContinuation(text[i + k])) return 0;
    codePoint = codePoint << 6 | (text[i + k] & 0x3Fu);
  }
  if (codePoint < minimum || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) return 0;
  return extra + 1;
}

size_t EncodeUtf8(uint32_t c, char* out) {
  auto put = [&](size_t i, uint32_t value) { out[i] = static_cast<char>(static_cast<uint8_t>(value)); };
  if (c < 0x80) {
    put(0, c);
    return 1;
  }
  if (c < 0x800) {
    put(0, 0xC0 | c >> 6), put(1, 0x80 | (c & 0x3F));
    return 2;
  }
  if (c >= 0xD800 && c <= 0xDFFF) return 0;
  if (c < 0x10000) {
    put(0, 0xE0 | c >> 12), put(1, 0x80 | (c >> 6 & 0x3F)), put(2, 0x80 | (c & 0x3F));
    return 3;
  }
  if (c > 0x10FFFF) return 0;
  put(0, 0xF0 | c >> 18), put(1, 0x80 | (c >> 12 & 0x3F)), put(2, 0x80 | (c >> 6 & 0x3F)), put(3, 0x80 | (c & 0x3F));
  return 4;
}

size_t RecordTextToUtf8(const char* text, size_t length, char* out, size_t capacity) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text);
  // Most camera texts are ASCII, which both readings leave as it is: one pass, one copy.
  if (AllAscii(bytes, length) || IsWellFormedUtf8(bytes, length)) {
    size_t n = length < capacity ? length : capacity;
    while (n < length && n > 0 && IsContinuation(bytes[n])) --n;  // never half a character
    std::memcpy(out, text, n);
    return n;
  }
  size_t used = 0;
  for (size_t i = 0; i < length; ++i) {
    const uint8_t byte = bytes[i];
    const uint32_t codePoint = (byte >= 0x80 && byte <= 0x9F) ? kCp1252High[byte - 0x80] : byte;
    char encoded[4];
    const size_t n = EncodeUtf8(codePoint, encoded);  // 1 to 3 bytes: every value is below U+10000
    if (n > capacity - used) break;
    std::memcpy(out + used, encoded, n);
    used += n;
  }
  return used;
}

// A plain loop over distinct arrays, which the compiler widens many bytes at a time: the whole
// report takes this path.
void WidenAscii(const char* __restrict text, size_t length, wchar_t* __restrict out) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text);
  for (size_t i = 0; i < length; ++i) out[i] = static_cast<wchar_t>(bytes[i]);
}

size_t Utf8ToWide(const char* text, size_t length, wchar_t* out, size_t capacity) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text);
  size_t written = 0;
  if (AllAscii(bytes, length)) {
    const size_t n = length < capacity ? length : capacity;
    WidenAscii(text, n, out);
    return n;
  }
  for (size_t i = 0; i < length && written < capacity;) {
    uint32_t codePoint = 0;
    const size_t step = DecodeUtf8(bytes, length, i, codePoint);
    if (step == 0) return SIZE_MAX;
    out[written++] = static_cast<wchar_t>(codePoint);
    i += step;
  }
  return written;
}

bool WideToUtf8(const wchar_t* text, char* out, size_t capacity) {
  size_t used = 0;
  for (; *text != L'\0'; ++text) {
    if (*text > 0 && *text < 0x80) {  // the common case: one byte
      if (used + 1 >= capacity) return false;
      out[used++] = static_cast<char>(*text);
      continue;
    }
    char encoded[4];
    // wchar_t is signed here: a negative value is no code point.
    const size_t n = *text < 0 ? 0 : EncodeUtf8(static_cast<uint32_t>(*text), encoded);
    if (n == 0 || capacity == 0 || n >= capacity - used) return false;
    std::memcpy(out + used, encoded, n);
    used += n;
  }
  if (capacity == 0) return false;
  out[used] = '\0';
  return true;
}

size_t Utf8WithReplacement(const char* text, size_t length, char* out) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text);
  size_t used = 0;
  for (size_t i = 0; i < length;) {
    uint32_t ignored = 0;
    const size_t step = DecodeUtf8(bytes, length, i, ignored);
    if (step == 0) {
      std::memcpy(out + used, "\xEF\xBF\xBD", 3);  // U+FFFD for the one byte that starts no sequence
      used += 3;
      ++i;
    } else {
      std::memcpy(out + used, text + i, step);
      used += step;
      i += step;
    }
  }
  return used;
}

}  // namespace exifinfo
