// SPDX-License-Identifier: MIT
#include "text/json_text.h"

#include <charconv>
#include <cstdio>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "text/utf8.h"

namespace exifinfo {

void FreeText(char* text) { std::free(text); }

TextBuffer::~TextBuffer() { std::free(data_); }

// Plain malloc and realloc on purpose: memory the allocator hands back is memory touched before,
// and a page's first touch is what costs (about 11 us under some hypervisors, populated in
// advance or not), far more than the copies of a growing buffer.
bool TextBuffer::Reserve(size_t more) {
  if (failed_) return false;
  if (more <= capacity_ - size_) return true;
  if (more > SIZE_MAX / 2 - size_) return failed_ = true, false;
  size_t capacity = capacity_ < 256 ? 256 : capacity_;
  while (capacity - size_ < more) capacity *= 2;
  auto* grown = static_cast<char*>(std::realloc(data_, capacity));
  if (grown == nullptr) return failed_ = true, false;
  data_ = grown;
  capacity_ = capacity;
  return true;
}

void TextBuffer::Append(const char* bytes, size_t count) {
  if (count == 0 || !Reserve(count)) return;
  std::memcpy(data_ + size_, bytes, count);
  size_ += count;
}

void TextBuffer::Append(const char* text) { Append(text, std::strlen(text)); }

char* TextBuffer::Release(size_t& length) {
  length = 0;
  if (!Reserve(1)) return nullptr;
  data_[size_] = '\0';
  char* released = data_;
  length = size_;
  data_ = nullptr;
  size_ = capacity_ = 0;
  return released;
}

namespace {

constexpr char kHex[] = "0123456789abcdef";

void AppendEscape(TextBuffer& out, uint32_t unit) {  // \uXXXX
  const char escape[6] = {'\\', 'u', kHex[(unit >> 12) & 15], kHex[(unit >> 8) & 15], kHex[(unit >> 4) & 15], kHex[unit & 15]};
  out.Append(escape, sizeof escape);
}

// Appends the run of bytes that need no escape starting at text[i]; returns where it stopped.
size_t AppendPlainRun(TextBuffer& out, const uint8_t* text, size_t length, size_t i) {
  const size_t start = i;
  while (i < length && text[i] >= 0x20 && text[i] < 0x80 && text[i] != '"' && text[i] != '\\') ++i;
  out.Append(reinterpret_cast<const char*>(text) + start, i - start);
  return i;
}

}  // namespace

void AppendJsonString(TextBuffer& out, const char* text, size_t length) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text);
  out.Append('"');
  for (size_t i = 0; (i = AppendPlainRun(out, bytes, length, i)) < length;) {
    const uint8_t c = bytes[i];
    if (c >= 0x80) {
      uint32_t ignored = 0;
      const size_t step = DecodeUtf8(bytes, length, i, ignored);
      if (step == 0) out.Append("\xEF\xBF\xBD", 3), ++i;
      else out.Append(text + i, step), i += step;
      continue;
    }
    const char* shortEscape = c == '"' ? "\\\"" : c == '\\' ? "\\\\" : c == '\b' ? "\\b" : c == '\f' ? "\\f"
                              : c == '\n' ? "\\n" : c == '\r' ? "\\r" : c == '\t' ? "\\t" : nullptr;
    if (shortEscape != nullptr) out.Append(shortEscape, 2);
    else AppendEscape(out, c);
    ++i;
  }
  out.Append('"');
}

void AppendJsonPath(TextBuffer& out, const char* text, size_t length) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text);
  out.Append('"');
  for (size_t i = 0; (i = AppendPlainRun(out, bytes, length, i)) < length;) {
    const uint8_t c = bytes[i];
    if (c == '"' || c == '\\') {
      const char escape[2] = {'\\', static_cast<char>(c)};
      out.Append(escape, 2), ++i;
    } else if (c < 0x80) {
      AppendEscape(out, c), ++i;
    } else {
      uint32_t ignored = 0;
      const size_t step = DecodeUtf8(bytes, length, i, ignored);
      if (step == 0) AppendEscape(out, 0xDC00u + c), ++i;  // U+DC80..U+DCFF
      else out.Append(text + i, step), i += step;
    }
  }
  out.Append('"');
}

void AppendJsonInteger(TextBuffer& out, int64_t value) {
  char digits[24];
  const auto written = std::to_chars(digits, digits + sizeof digits, value);
  out.Append(digits, static_cast<size_t>(written.ptr - digits));
}

void AppendJsonNumber(TextBuffer& out, double value) {
  if (!std::isfinite(value)) return out.Append("null", 4);
  // The shortest digits that read back as the value, from its scientific form "d.ddde+XX".
  char scientific[40];
  const auto written = std::to_chars(scientific, scientific + sizeof scientific, value, std::chars_format::scientific);
  const char* end = written.ptr;
  const char* at = scientific;
  if (*at == '-') out.Append('-'), ++at;
  char digits[24];
  size_t count = 0;
  for (; at < end && *at != 'e'; ++at)
    if (*at != '.') digits[count++] = *at;
  // to_chars always writes an exponent here, signed ("e+05", "e-07"), with no terminator after it.
  int exponent = 0;
  const bool negative = at + 1 < end && at[1] == '-';
  std::from_chars(at + 2 < end ? at + 2 : end, end, exponent);
  if (negative) exponent = -exponent;
  // The value is 0.DIGITS x 10^point. Python writes it positionally while -4 < point <= 16,
  // else as d.ddd with an exponent of at least two digits.
  const int point = exponent + 1;
  const auto n = static_cast<size_t>(point > 0 ? point : 0);
  if (point > 16 || point <= -4) {
    out.Append(digits, 1);
    if (count > 1) out.Append('.'), out.Append(digits + 1, count - 1);
    char tail[8];
    const int magnitude = exponent < 0 ? -exponent : exponent;
    const int length = std::snprintf(tail, sizeof tail, "e%c%02d", exponent < 0 ? '-' : '+', magnitude);
    out.Append(tail, static_cast<size_t>(length));
  } else if (point <= 0) {
    out.Append("0.", 2);
    for (int k = point; k < 0; ++k) out.Append('0');
    out.Append(digits, count);
  } else if (count <= n) {
    out.Append(digits, count);
    for (size_t k = count; k < n; ++k) out.Append('0');
    out.Append(".0", 2);
  } else {
    out.Append(digits, n);
    out.Append('.');
    out.Append(digits + n, count - n);
  }
}

}  // namespace exifinfo
