// SPDX-License-Identifier: MIT
// The first request's size for a read through ranges: each photo named is read as from a remote
// store with first requests of 4, 16, 64 and 128 KiB (later requests as the library makes them),
// counting requests and bytes; the cost of a store with 20 ms a request and 100 MB/s.
// Usage: bench_first_request FILE...
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "container/read_any.h"

namespace {

class Counted final : public exifinfo::RangeSource {
 public:
  explicit Counted(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
  int64_t ReadAt(uint64_t offset, uint8_t* out, size_t count, int&) override {
    ++requests;
    if (offset >= bytes_.size()) return 0;
    const size_t n = std::min(count, bytes_.size() - static_cast<size_t>(offset));
    std::copy_n(bytes_.data() + offset, n, out);
    bytes += n;
    return static_cast<int64_t>(n);
  }
  uint64_t size() const override { return bytes_.size(); }
  // As the C API's callback source: a request is a round trip.
  size_t leastRequestBytes() const override { return exifinfo::kRemoteRequestBytes; }
  unsigned requests = 0;
  unsigned long long bytes = 0;

 private:
  const std::vector<uint8_t>& bytes_;
};

}  // namespace

int main(int argc, char** argv) {
  const size_t sizes[] = {4096, 16384, 65536, 131072};
  std::printf("| first request | requests (mean) | requests (median) | requests (max) | KiB (mean) | KiB (median) | KiB (max) | ms a photo at 20 ms + 100 MB/s (mean) |\n");
  std::printf("|---|---:|---:|---:|---:|---:|---:|---:|\n");
  for (const size_t first : sizes) {
    std::vector<unsigned> requests;
    std::vector<unsigned long long> bytes;
    double costMs = 0;
    for (int i = 1; i < argc; ++i) {
      std::ifstream in(argv[i], std::ios::binary);
      const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      Counted source(file);
      std::vector<uint8_t> buffer(first);
      exifinfo::InputStream stream(source, 0, buffer.data(), buffer.size());
      exifinfo::PhotoInput input;
      input.source = &source;
      exifinfo::ReadAnyPhoto(stream, input, true, [](const exifinfo::ExifReader&, exifinfo::ReadEnding, exifinfo::Container) {});
      requests.push_back(source.requests);
      bytes.push_back(source.bytes);
      costMs += source.requests * 20.0 + static_cast<double>(source.bytes) / 100e6 * 1000.0;
    }
    std::vector<unsigned> r = requests;
    std::vector<unsigned long long> b = bytes;
    std::sort(r.begin(), r.end());
    std::sort(b.begin(), b.end());
    double requestSum = 0, byteSum = 0;
    for (size_t k = 0; k < r.size(); ++k) requestSum += r[k], byteSum += static_cast<double>(b[k]);
    std::printf("| %zu KiB | %.2f | %u | %u | %.1f | %.1f | %.1f | %.2f |\n", first / 1024, requestSum / r.size(),
                r[r.size() / 2], r.back(), byteSum / b.size() / 1024, static_cast<double>(b[b.size() / 2]) / 1024,
                static_cast<double>(b.back()) / 1024, costMs / (argc - 1));
  }
  return 0;
}
