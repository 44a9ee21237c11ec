// The scanner's input: a stdio stream, or bytes already in memory (tests, fuzzing, benchmarks).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace exifinfo {

class InputStream {
 public:
  // `regularFileSize`: the size of the file behind `file` when it is a regular file, which
  // lets Skip seek over bytes instead of reading them; -1 when unknown (pipes, devices).
  explicit InputStream(FILE* file, int64_t regularFileSize = -1) : file_(file), fileSize_(regularFileSize) {}
  InputStream(const uint8_t* data, size_t size) : next_(data), end_(data + size) {}

  // The next byte as 0..255, or -1 at end of input (or on a read error).
  int ReadByte() {
    if (file_ != nullptr) return getc_unlocked(file_);
    return next_ < end_ ? *next_++ : -1;
  }
  // Reads up to count bytes into out; returns how many were read.
  size_t ReadBlock(uint8_t* out, size_t count);
  // Passes over count bytes that nothing reads; false when fewer than count remained.
  bool Skip(size_t count);

 private:
  FILE* file_ = nullptr;
  int64_t fileSize_ = -1;
  const uint8_t* next_ = nullptr;
  const uint8_t* end_ = nullptr;
};

}  // namespace exifinfo
