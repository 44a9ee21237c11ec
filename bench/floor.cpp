// SPDX-License-Identifier: MIT
// The I/O floor: open each file with stdio, read it through its start-of-scan section, close.
// Usage: bench_floor LIST   (prints a checksum of the bytes read)
#include <cstdint>
#include <cstdio>

#include "file_list.h"

namespace {

uint64_t ReadThroughStartOfScan(FILE* f) {
  uint64_t sum = 0;
  if (getc_unlocked(f) != 0xFF || getc_unlocked(f) != 0xD8) return sum;
  static unsigned char contents[65536];
  for (int sections = 0; sections < 64; ++sections) {
    int marker;
    do marker = getc_unlocked(f); while (marker == 0xFF);
    const int high = getc_unlocked(f), low = getc_unlocked(f);
    if (marker < 0 || high < 0 || low < 0) break;
    const size_t length = static_cast<size_t>(high << 8 | low);
    if (length < 2) break;
    const size_t n = fread_unlocked(contents, 1, length - 2, f);
    for (size_t i = 0; i < n; i += 64) sum += contents[i];
    sum += static_cast<uint64_t>(marker) + n;
    if (n != length - 2 || marker == 0xDA) break;
  }
  return sum;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  uint64_t checksum = 0;
  for (const std::string& path : ReadList(argv[1])) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) continue;
    checksum += ReadThroughStartOfScan(f);
    std::fclose(f);
  }
  std::printf("floor checksum %llu\n", static_cast<unsigned long long>(checksum));
  return 0;
}
