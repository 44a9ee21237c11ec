// SPDX-License-Identifier: MIT
// The containers other than JPEG, routed by content: each input is read twice, once from
// memory (views of the input itself) and once through a source that only copies ranges (the
// reader's page cache and windows), and both reads must agree on every value, the ending and
// the thumbnail. The ending is one a container can have, and the reads stay bounded.
#include <cstdint>
#include <cstring>
#include <vector>

#include "container/containers.h"
#include "report_shape.h"

namespace {

using fuzz_checks::Broken;

struct Outcome {
  exifinfo::ImageInfo info{};
  exifinfo::ScanEnding ending{};
  std::vector<uint8_t> thumbnail;
};

Outcome Read(exifinfo::Container container, exifinfo::RangeSource& source) {
  exifinfo::RangeReader ranges(source);
  exifinfo::ExifReader reader;
  exifinfo::ReadContainer(container, ranges, reader);
  Outcome out;
  out.info = reader.info();
  out.ending = reader.ending();
  if (out.info.ThumbnailStart != nullptr)
    out.thumbnail.assign(out.info.ThumbnailStart, out.info.ThumbnailStart + out.info.ThumbnailLength);
  out.info.ThumbnailStart = nullptr;
  // Every request reads at least a page; none is repeated without cause: a few per structure.
  if (ranges.reads() > 4096) Broken("unbounded reads");
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> bytes(data, data + size);  // exact size: the first byte over is caught
  const exifinfo::Container container = exifinfo::IdentifyContainer(exifinfo::ByteView{bytes.data(), size});
  if (container == exifinfo::Container::kUnknown || container == exifinfo::Container::kJpeg ||
      container == exifinfo::Container::kRaf)
    return 0;  // the section scanner's own targets cover these
  // Odd sizes read as from a pipe: no size known.
  using Mode = exifinfo::MemorySource::Mode;
  exifinfo::MemorySource memory(exifinfo::ByteView{bytes.data(), size});
  exifinfo::MemorySource copying(exifinfo::ByteView{bytes.data(), size}, size % 2 == 0 ? Mode::kCopies : Mode::kCopiesOfUnknownSize);
  const Outcome direct = Read(container, memory);
  const Outcome copied = Read(container, copying);
  using exifinfo::ScanEnding;
  if (direct.ending != ScanEnding::kEndOfMetadata && direct.ending != ScanEnding::kPrematureEnd &&
      direct.ending != ScanEnding::kDamaged)
    Broken("an ending no container read has");
  // A size the source does not know can only turn "the structure runs past the end" from a
  // damaged box into a cut one; everything read must be the same.
  if (std::memcmp(&direct.info, &copied.info, sizeof direct.info) != 0) Broken("ranges and memory read differently");
  if (direct.thumbnail != copied.thumbnail) Broken("ranges and memory give different thumbnails");
  if (size % 2 == 0 && direct.ending != copied.ending) Broken("ranges and memory end differently");
  return 0;
}
