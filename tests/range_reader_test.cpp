// SPDX-License-Identifier: MIT
// The cache in front of a source: which requests a walk's reads become, and that the bytes it
// hands out are the source's whatever windows they came through.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "io/range_reader.h"

namespace {

// A megabyte whose every byte tells its offset, counting the requests made of it.
class CountingSource final : public exifinfo::RangeSource {
 public:
  explicit CountingSource(size_t least) : least_(least), bytes_(1 << 20) {
    for (size_t i = 0; i < bytes_.size(); ++i) bytes_[i] = static_cast<uint8_t>(i * 7 + i / 251);
  }
  int64_t ReadAt(uint64_t offset, uint8_t* out, size_t count, int&) override {
    requests.push_back({offset, count});
    if (offset >= bytes_.size()) return 0;
    const size_t n = std::min(count, bytes_.size() - static_cast<size_t>(offset));
    std::memcpy(out, bytes_.data() + offset, n);
    return static_cast<int64_t>(n);
  }
  uint64_t size() const override { return bytes_.size(); }
  size_t leastRequestBytes() const override { return least_; }
  const uint8_t* at(uint64_t offset) const { return bytes_.data() + offset; }
  std::vector<std::pair<uint64_t, size_t>> requests;

 private:
  size_t least_;
  std::vector<uint8_t> bytes_;
};

TEST(RangeReader, CloseRangesComeInOneRequestAndPlacesVisitedAgainAreNotReadAgain) {
  using Requests = std::vector<std::pair<uint64_t, size_t>>;
  const struct {
    const char* name;
    size_t least;
    std::vector<std::pair<uint64_t, size_t>> fetches;
    Requests requests;  // what the source is asked, in order
  } cases[] = {
      // A store: directories spread over 150 KiB (a TIFF's) in two requests, the second only
      // for the bytes the first window lacked; visited again, none. Four places are held: a
      // fifth evicts the least recently used, which is read again when visited again.
      {"remote", 65536,
       {{167936, 16}, {196608, 12}, {225280, 200}, {262144, 16}, {303104, 6896}, {167936, 16}, {900000, 8},
        {500000, 8}, {700000, 8}, {303104, 8}, {100, 8}, {900000, 8}},
       {{167936, 65536}, {233472, 94208}, {897024, 65536}, {499712, 65536}, {696320, 65536}, {0, 65536},
        {897024, 65536}}},
      // A file: pages; a read just past a window grows it by the pages it lacks; the last page
      // stops at the end.
      {"local", 4096,
       {{0, 16}, {8192, 16}, {4000, 200}, {12000, 5000}, {1048570, 100}},
       {{0, 4096}, {4096, 8192}, {12288, 8192}, {1044480, 4096}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CountingSource source(c.least);
    exifinfo::RangeReader reader(source);
    for (const auto& [offset, count] : c.fetches) {
      const exifinfo::ByteView view = reader.Fetch(offset, count);
      ASSERT_EQ(view.size, std::min<uint64_t>(count, (1u << 20) - offset)) << offset;
      EXPECT_EQ(std::memcmp(view.data, source.at(offset), view.size), 0) << offset;
    }
    EXPECT_EQ(source.requests, c.requests);
    EXPECT_EQ(reader.reads(), c.requests.size());
  }
}

}  // namespace
