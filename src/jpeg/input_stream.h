// The scanner's input: a stdio stream, or bytes already in memory (tests, fuzzing, benchmarks).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace exifinfo {

class InputStream {
 public:
  explicit InputStream(FILE* file) : file_(file) {}
  InputStream(const uint8_t* data, size_t size) : next_(data), end_(data + size) {}

  // The next byte as 0..255, or -1 at end of input (or on a read error).
  int ReadByte() {
    if (file_ != nullptr) return getc_unlocked(file_);
    return next_ < end_ ? *next_++ : -1;
  }
  // Reads up to count bytes into out; returns how many were read.
  size_t ReadBlock(uint8_t* out, size_t count);

 private:
  FILE* file_ = nullptr;
  const uint8_t* next_ = nullptr;
  const uint8_t* end_ = nullptr;
};

}  // namespace exifinfo
