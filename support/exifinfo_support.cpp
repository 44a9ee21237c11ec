// SPDX-License-Identifier: MIT
#include "exifinfo_support.h"

#include "io/output_file.h"
#include "text/utf8.h"

namespace exifinfo_support {

bool IsWellFormedUtf8(const char* text, size_t length) {
  return exifinfo::IsWellFormedUtf8(reinterpret_cast<const uint8_t*>(text), length);
}

size_t DecodeUtf8(const char* text, size_t length, size_t i, uint32_t& codePoint) {
  return exifinfo::DecodeUtf8(reinterpret_cast<const uint8_t*>(text), length, i, codePoint);
}

size_t Utf8WithReplacement(const char* text, size_t length, char* out) {
  return exifinfo::Utf8WithReplacement(text, length, out);
}

int OpenOutput(const char* path, int inputFd, int& error, bool& isInput) {
  return exifinfo::OpenOutput(path, inputFd, error, isInput);
}

int WriteOutputAndClose(int fd, const char* bytes, size_t length) { return exifinfo::WriteOutputAndClose(fd, bytes, length); }

bool WriteAll(int fd, const char* bytes, size_t length) { return exifinfo::WriteAll(fd, bytes, length); }

}  // namespace exifinfo_support
