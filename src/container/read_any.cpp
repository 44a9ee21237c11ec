// SPDX-License-Identifier: MIT
#include "container/read_any.h"

#include <cerrno>
#include <memory>
#include <new>

namespace exifinfo {
namespace {

// The most of a RAF's embedded JPEG read: its sections before the compressed data, which hold
// the EXIF block (at most 64 KiB) and the tables, fit with room to spare.
constexpr uint64_t kMaxRafJpegHeaderBytes = 256 * 1024;

// RAF: the embedded JPEG's first bytes, read by the section scanner from memory.
ReadEnding ReadRaf(RangeReader& source, ExifReader& reader) {
  ReadEnding read;
  uint64_t offset = 0, length = 0;
  if (!FindRafJpeg(source, offset, length, read.ending)) {
    reader.EndContainer(read.ending, nullptr);
    read.readError = source.error();
    return read;
  }
  const size_t wanted = static_cast<size_t>(length < kMaxRafJpegHeaderBytes ? length : kMaxRafJpegHeaderBytes);
  std::unique_ptr<uint8_t[]> bytes(new (std::nothrow) uint8_t[wanted]);
  if (bytes == nullptr) {
    read.ending = ScanEnding::kOutOfMemory;
    return read;
  }
  const size_t got = source.CopyOut(offset, bytes.get(), wanted);
  if (source.failed()) {
    read.ending = ScanEnding::kReadError;
    read.readError = source.error();
    return read;
  }
  InputStream jpeg(bytes.get(), got);
  reader.ScanSections(jpeg, nullptr);
  read.ending = reader.ending();
  return read;
}

}  // namespace

ReadEnding ReadOtherContainer(Container container, const PhotoInput& input, InputStream& stream, ExifReader& reader) {
  const ByteView head = stream.Peek(kIdentifyBytes);
  MemorySource memory(input.memory);
  DescriptorSource descriptor(input.fd, stream.forwardOnly() ? -1 : input.base, input.reads);
  const bool fromMemory = input.fd < 0;
  RangeSource& source = fromMemory ? static_cast<RangeSource&>(memory) : descriptor;
  RangeReader ranges(source);
  // The bytes the stream took already: a forward-only descriptor cannot give them again.
  const bool seeded = fromMemory ? true
                      : stream.forwardOnly() ? descriptor.KeepStreamBytes(head)
                                             : ranges.SeedHead(0, head);
  ReadEnding read;
  if (!seeded) {
    read.ending = ScanEnding::kOutOfMemory;
    return read;
  }
  if (container == Container::kRaf) return ReadRaf(ranges, reader);
  ReadContainer(container, ranges, reader);
  read.ending = reader.ending();
  if (read.ending == ScanEnding::kReadError) read.readError = ranges.error();
  return read;
}

}  // namespace exifinfo
