// SPDX-License-Identifier: MIT
// The one UTF-8 decoder and the one encoder, and the conversions built on them: a record's 8-bit
// texts to UTF-8, UTF-8 to wide characters and back. Freestanding (no other part of the core),
// so that the tool and the tests use these very functions.
//
// One contract for what is no code point: the decoder returns 0 for a sequence that is not
// well-formed UTF-8 (overlong forms, surrogates, past U+10FFFF, cut short), and the encoder
// returns 0 for a value that is no Unicode scalar value. Callers that must not lose a character
// fail on 0 (EILSEQ); callers that may replace it say so.
#pragma once

#include <cstddef>
#include <cstdint>

namespace exifinfo {

// Decodes the sequence at text[i] (i < length); returns its length in bytes, or 0 when it is not
// well-formed (codePoint then unspecified).
size_t DecodeUtf8(const uint8_t* text, size_t length, size_t i, uint32_t& codePoint);

// Encodes one code point as UTF-8 into out[0..3]; returns the byte count, or 0 for a value UTF-8
// cannot carry (a surrogate, or one past 0x10FFFF).
size_t EncodeUtf8(uint32_t codePoint, char* out);

// The UTF-8 bytes of a record text of `length` bytes: kept as it is when it is well-formed UTF-8
// (ASCII included), else read byte by byte as Windows-1252, whose five undefined bytes keep their
// own value. At most 3 bytes out per byte in. Writes at most `capacity` bytes, never a partial
// character, and returns how many it wrote (no terminator).
size_t RecordTextToUtf8(const char* text, size_t length, char* out, size_t capacity);

// True when the `length` bytes are well-formed UTF-8 throughout (nothing DecodeUtf8 refuses).
bool IsWellFormedUtf8(const uint8_t* text, size_t length);

// True when every byte is below 0x80.
bool IsAscii(const char* text, size_t length);

// Widens `length` ASCII bytes (IsAscii) into as many wide characters.
void WidenAscii(const char* text, size_t length, wchar_t* out);

// Decodes `length` bytes of well-formed UTF-8 into wide characters; at most `capacity` written.
// Returns the count, or SIZE_MAX when the text is not well-formed.
size_t Utf8ToWide(const char* text, size_t length, wchar_t* out, size_t capacity);

// Encodes a NUL-terminated wide string as UTF-8 into out (capacity bytes, terminator included).
// False when a character is no code point or the result does not fit.
bool WideToUtf8(const wchar_t* text, char* out, size_t capacity);

// Copies `length` bytes to `out` with each byte that starts no well-formed sequence replaced by
// U+FFFD (3 bytes); `out` needs room for 3 x length. Returns the bytes written.
size_t Utf8WithReplacement(const char* text, size_t length, char* out);

}  // namespace exifinfo
