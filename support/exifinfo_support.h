// SPDX-License-Identifier: MIT
// What the command-line tool shares with the library's core, and nothing more: UTF-8 checks
// and conversions, and the output-file rules of EXIFInfo (-o). A small static library of its
// own, so that the tool includes public headers only.
#pragma once

#include <cstddef>
#include <cstdint>

namespace exifinfo_support {

// True when `length` bytes at `text` are well-formed UTF-8.
bool IsWellFormedUtf8(const char* text, size_t length);
// The code point at `text[i]` (of `length` bytes) into `codePoint`; the bytes it takes, or 0
// where no well-formed character starts.
size_t DecodeUtf8(const char* text, size_t length, size_t i, uint32_t& codePoint);
// `text` as UTF-8 with U+FFFD for each byte that starts no well-formed character, into `out`
// (room for 3 bytes a byte of `text`); the bytes written.
size_t Utf8WithReplacement(const char* text, size_t length, char* out);

// EXIFInfo's output-file rules: OUT opened for writing unless it is the input itself (`isInput`),
// then the report written whole and the file closed. Errors as errno values.
int OpenOutput(const char* path, int inputFd, int& error, bool& isInput);
int WriteOutputAndClose(int fd, const char* bytes, size_t length);
// All of `length` bytes to `fd`, through short writes and EINTR; false with errno set.
bool WriteAll(int fd, const char* bytes, size_t length);

}  // namespace exifinfo_support
