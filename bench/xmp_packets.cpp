// SPDX-License-Identifier: MIT
// XMP parsing alone: each packet file given is read into values 200 times after an untimed
// pass; prints each packet's median microseconds and size, then the median over packets.
// Usage: bench_xmp PACKET...   (packets as `exiftool -b -XMP FILE` writes them, or sidecars)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "xmp/xmp_packet.h"

int main(int argc, char** argv) {
  constexpr int kRuns = 200;
  std::vector<double> medians;
  for (int a = 1; a < argc; ++a) {
    std::ifstream in(argv[a], std::ios::binary);
    const std::string packet((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const exifinfo::ByteView view{reinterpret_cast<const uint8_t*>(packet.data()), packet.size()};
    std::vector<double> times;
    size_t values = 0;
    for (int run = -1; run < kRuns; ++run) {
      exifinfo::MetaValues out;
      const auto start = std::chrono::steady_clock::now();
      exifinfo::ParseXmp(view, out);
      const auto stop = std::chrono::steady_clock::now();
      if (run >= 0) times.push_back(std::chrono::duration<double, std::micro>(stop - start).count());
      values = out.count(exifinfo::kSubject);
    }
    std::nth_element(times.begin(), times.begin() + kRuns / 2, times.end());
    medians.push_back(times[kRuns / 2]);
    std::printf("%9.1f us %8zu bytes %3zu keywords  %s\n", times[kRuns / 2], packet.size(), values, argv[a]);
  }
  if (medians.empty()) return 2;
  std::nth_element(medians.begin(), medians.begin() + medians.size() / 2, medians.end());
  std::printf("median over %zu packets: %.1f us\n", medians.size(), medians[medians.size() / 2]);
  return 0;
}
