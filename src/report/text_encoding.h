// SPDX-License-Identifier: MIT
// Conversions between the record's 8-bit texts, the wide report and UTF-8 bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace exifinfo {

// Widens an 8-bit text of `length` bytes. Well-formed UTF-8 (no overlong forms, surrogates or
// code points past 0x10FFFF) is decoded as UTF-8; any other text byte by byte as Windows-1252,
// whose five undefined bytes keep their own value. ASCII is unchanged either way. Writes at
// most `capacity` characters and returns how many it wrote.
size_t WidenText(const char* text, size_t length, wchar_t* out, size_t capacity);

// Encodes one code point as UTF-8 into out[0..3]; returns the byte count, or 0 for a code
// point UTF-8 cannot carry (a surrogate, or one past 0x10FFFF).
size_t EncodeUtf8(uint32_t codePoint, char* out);

// Encodes a NUL-terminated wide string as UTF-8 into out (capacity bytes, terminator included).
// False when a character cannot be encoded or the result does not fit.
bool WideToUtf8(const wchar_t* text, char* out, size_t capacity);

}  // namespace exifinfo
