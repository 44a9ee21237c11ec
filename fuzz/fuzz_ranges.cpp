// SPDX-License-Identifier: MIT
// Reads by ranges of a file the input lays out: byte 0 is a plan (bits 0-1: a gap of that many
// 64 KiB after every 256 bytes of the rest, so that structures land far apart as hostile files
// put them; bit 2: the size is known; bits 3-4: the source answers at most 1, 100, 4096 or any
// number of bytes a call), the rest the file's bytes between the gaps. Checked: no request runs
// past 2^64 or past a known size, a read keeps within its budget (16 requests, the rest of a
// short answer being no new one, and 2 MiB), the resume loop ends within it too, and a read
// that was not cut gives the memory read's photo.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "exifinfo.h"
#include "report_shape.h"

namespace {

using fuzz_checks::Broken;

constexpr uint64_t kBudgetRequests = 16;
constexpr uint64_t kBudgetBytes = uint64_t{2} << 20;

struct Laid {
  std::vector<uint8_t> bytes;
  bool sizeKnown = false;
  size_t chunk = SIZE_MAX;
  // Counted as a budget counts them.
  uint64_t requests = 0, given = 0, continuesAt = UINT64_MAX;
};

int64_t ReadAt(void* context, uint64_t offset, void* out, size_t length, int*) {
  auto* file = static_cast<Laid*>(context);
  if (length == 0) Broken("a request of nothing");
  if (offset > UINT64_MAX - length) Broken("a request past 2^64");
  if (file->sizeKnown && offset + length > file->bytes.size()) Broken("a request past the known size");
  file->requests += offset != file->continuesAt;
  const uint64_t available = offset < file->bytes.size() ? file->bytes.size() - offset : 0;
  size_t n = length < file->chunk ? length : file->chunk;
  if (n > available) n = static_cast<size_t>(available);
  if (n != 0) std::memcpy(out, file->bytes.data() + offset, n);
  file->given += n;
  file->continuesAt = n < length ? offset + n : UINT64_MAX;
  return static_cast<int64_t>(n);
}

bool Cut(const exifinfo_photo& p) { return std::strstr(p.last_error, "Read cut") != nullptr; }

// With the size unknown, an input that ends where a skipped box or chunk says the next one
// starts and one cut inside it read alike (nothing at the next one's offset): the first ends
// as complete, the second as cut. Their values are the same.
bool SameEnding(const exifinfo_photo& a, const exifinfo_photo& b, bool sizeKnown) {
  if (a.ending == b.ending) return true;
  const auto either = [&](int x, int y) { return (a.ending == x && b.ending == y) || (a.ending == y && b.ending == x); };
  return !sizeKnown && either(EXIFINFO_END_OF_METADATA, EXIFINFO_PREMATURE_END);
}

bool Same(const exifinfo_photo& a, const exifinfo_photo& b, bool sizeKnown) {
  return SameEnding(a, b, sizeKnown) && a.container == b.container && a.HasExif == b.HasExif &&
         a.report_length == b.report_length && std::memcmp(a.report, b.report, a.report_length) == 0 &&
         a.thumbnail_size == b.thumbnail_size &&
         (a.thumbnail_size == 0 || std::memcmp(a.thumbnail, b.thumbnail, a.thumbnail_size) == 0);
}

// The resume loop: it ends within the budget's rounds, every range inside the file when its
// size is known, and its photo is the memory read's unless it was cut.
void CheckResumed(const Laid& file, const exifinfo_photo& whole) {
  std::vector<std::vector<uint8_t>> held;
  std::vector<exifinfo_range> ranges;
  bool ended = false;  // a fetch came back short: the caller knows the size from then on
  for (uint64_t round = 0; round <= kBudgetRequests + 1; ++round) {
    for (size_t i = 0; i < held.size(); ++i) ranges[i].data = held[i].data();
    exifinfo_photo* p = nullptr;
    const bool known = file.sizeKnown || ended;
    const uint64_t total = known ? file.bytes.size() : EXIFINFO_SIZE_UNKNOWN;
    if (exifinfo_read_ranges(ranges.data(), ranges.size(), total, &p) != 0 || p == nullptr) Broken("a resumed read failed");
    if (p->ending != EXIFINFO_NEEDS_MORE) {
      const bool same = Cut(*p) || Cut(whole) || Same(*p, whole, known);
      exifinfo_free(p);
      if (!same) Broken("a resumed read differs from the memory read");
      return;
    }
    const uint64_t offset = p->next_offset, length = p->next_length;
    exifinfo_free(p);
    if (length == 0 || offset > UINT64_MAX - length) Broken("a range to fetch of nothing, or past 2^64");
    if (known && offset + length > file.bytes.size()) Broken("a range to fetch past the known size");
    const uint64_t begin = offset < file.bytes.size() ? offset : file.bytes.size();
    const uint64_t end = offset + length < file.bytes.size() ? offset + length : file.bytes.size();
    if (end - begin < length) ended = true;
    held.emplace_back(file.bytes.begin() + static_cast<long>(begin), file.bytes.begin() + static_cast<long>(end));
    ranges.push_back({begin, nullptr, static_cast<size_t>(end - begin)});
  }
  Broken("a resume loop that outlasts the budget");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  Laid file;
  const uint8_t plan = data[0];
  const size_t gap = static_cast<size_t>(plan & 3) << 16;
  file.sizeKnown = (plan & 4) != 0;
  static const size_t kChunks[] = {1, 100, 4096, SIZE_MAX};
  file.chunk = kChunks[(plan >> 3) & 3];
  for (size_t at = 1; at < size; at += 256) {
    const size_t n = size - at < 256 ? size - at : 256;
    file.bytes.insert(file.bytes.end(), data + at, data + at + n);
    if (at + n < size) file.bytes.resize(file.bytes.size() + gap, 0);
  }
  const uint8_t none = 0;
  exifinfo_photo* whole = nullptr;
  if (exifinfo_read_memory(file.bytes.empty() ? &none : file.bytes.data(), file.bytes.size(), &whole) != 0)
    Broken("a read from memory failed");

  const exifinfo_source source{ReadAt, &file, file.sizeKnown ? file.bytes.size() : EXIFINFO_SIZE_UNKNOWN};
  exifinfo_photo* read = nullptr;
  const int status = exifinfo_read_source(&source, &read);
  if (file.requests > kBudgetRequests || file.given > kBudgetBytes) Broken("a read past its budget");
  if (status == 0) {
    if (!Cut(*read) && !Same(*read, *whole, file.sizeKnown)) Broken("a read by ranges differs from the memory read");
    exifinfo_free(read);
  } else if (!file.bytes.empty()) {
    Broken("a read by ranges failed");
  }
  CheckResumed(file, *whole);
  exifinfo_free(whole);
  return 0;
}
