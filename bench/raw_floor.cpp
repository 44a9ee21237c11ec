// SPDX-License-Identifier: MIT
// The raw I/O floor: open each file, read its first FIRST_READ bytes with one read(2), walk
// the sections through the start of scan, reading on only when a section runs past what was
// read, and close. What a reader of a regular file cannot do with fewer system calls.
// Usage: bench_raw_floor LIST [FIRST_READ]   (prints a checksum of the bytes read)
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "file_list.h"

namespace {

// A buffer that only grows, never zero-filled: what a careful reader would keep between files.
struct Buffer {
  unsigned char* bytes = nullptr;
  size_t size = 0;
  unsigned char& operator[](size_t i) { return bytes[i]; }
  void Reserve(size_t want) {
    if (want <= size) return;
    bytes = static_cast<unsigned char*>(std::realloc(bytes, want));
    if (bytes == nullptr) std::abort();
    size = want;
  }
};

// Reads until `want` bytes are buffered or the file ends; false at the end. Each read asks
// for at least a first read's worth, as the library refills its buffer.
size_t gReadSize = 16384;
bool Fill(int fd, Buffer& buffer, size_t& have, size_t want) {
  while (have < want) {
    const size_t ask = want - have > gReadSize ? want - have : gReadSize;
    buffer.Reserve(have + ask);  // the buffer keeps its size between files: ask, not size
    const ssize_t n = read(fd, buffer.bytes + have, ask);
    if (n <= 0) return false;
    have += static_cast<size_t>(n);
  }
  return true;
}

uint64_t ReadThroughStartOfScan(int fd, Buffer& buffer, size_t firstRead) {
  size_t have = 0;
  buffer.Reserve(firstRead);
  const ssize_t first = read(fd, buffer.bytes, firstRead);
  if (first < 2) return 0;
  have = static_cast<size_t>(first);
  if (buffer[0] != 0xFF || buffer[1] != 0xD8) return 0;
  // The same walk as the stdio floor: fill bytes, a marker, a length, the contents.
  uint64_t sum = 0;
  size_t at = 2;
  for (int sections = 0; sections < 64; ++sections) {
    int marker;
    do {
      if (!Fill(fd, buffer, have, at + 1)) return sum;
      marker = buffer[at++];
    } while (marker == 0xFF);
    if (!Fill(fd, buffer, have, at + 2)) break;
    const size_t length = size_t{buffer[at]} << 8 | buffer[at + 1];
    at += 2;
    if (length < 2) break;
    const bool whole = Fill(fd, buffer, have, at + length - 2);
    const size_t n = whole ? length - 2 : have - at;
    for (size_t i = 0; i < n; i += 64) sum += buffer[at + i];
    sum += static_cast<uint64_t>(marker) + n;
    at += n;
    if (!whole || marker == 0xDA) break;
  }
  return sum;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const size_t firstRead = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 16384;
  gReadSize = firstRead;
  Buffer buffer;
  uint64_t checksum = 0;
  for (const std::string& path : ReadList(argv[1])) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    checksum += ReadThroughStartOfScan(fd, buffer, firstRead);
    close(fd);
  }
  std::printf("raw floor checksum %llu\n", static_cast<unsigned long long>(checksum));
  return 0;
}
