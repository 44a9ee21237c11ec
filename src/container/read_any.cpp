// SPDX-License-Identifier: MIT
#include "container/read_any.h"

#include <cerrno>
#include <memory>
#include <new>

namespace exifinfo {
namespace {

// The most of a RAF's embedded JPEG kept from a pipe: its sections before the compressed data,
// which hold the EXIF block (at most 64 KiB) and the tables, fit with room to spare.
constexpr uint64_t kMaxRafJpegHeaderBytes = 256 * 1024;

// RAF: the embedded JPEG, read by the section scanner where it lies: from the descriptor by
// position (up to its start of scan, as any JPEG), from memory in place, and from a pipe out of
// the bytes kept (at most its first 256 KiB, which hold its EXIF block and tables).
ReadEnding ReadRaf(const PhotoInput& input, bool forwardOnly, RangeReader& source, ExifReader& reader) {
  ReadEnding read;
  uint64_t offset = 0, length = 0;
  if (!FindRafJpeg(source, offset, length, read.ending)) {
    reader.EndContainer(read.ending, nullptr);
    read.readError = source.error();
    return read;
  }
  if (input.fd < 0) {
    const uint64_t available = offset < input.memory.size ? input.memory.size - offset : 0;
    InputStream jpeg(input.memory.data + (available != 0 ? offset : 0), static_cast<size_t>(length < available ? length : available));
    reader.ScanSections(jpeg, nullptr);
  } else if (!forwardOnly && offset <= static_cast<uint64_t>(INT64_MAX - input.base)) {
    uint8_t buffer[kFirstReadBytes];
    InputStream jpeg(input.fd, input.base + static_cast<int64_t>(offset), buffer, sizeof buffer);
    jpeg.InjectReads(input.reads);
    reader.ScanSections(jpeg, nullptr);
    read.readError = jpeg.error();
  } else {
    const size_t wanted = static_cast<size_t>(length < kMaxRafJpegHeaderBytes ? length : kMaxRafJpegHeaderBytes);
    std::unique_ptr<uint8_t[]> bytes(new (std::nothrow) uint8_t[wanted]);
    if (bytes == nullptr) {
      read.ending = ScanEnding::kOutOfMemory;
      return read;
    }
    InputStream jpeg(bytes.get(), source.CopyOut(offset, bytes.get(), wanted));
    reader.ScanSections(jpeg, nullptr);
    if (source.failed()) read.readError = source.error();
  }
  read.ending = reader.ending();
  if (read.ending != ScanEnding::kReadError) read.readError = 0;
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
  // (The stream's buffer outlives the reader: the head is borrowed, not copied.)
  bool seeded = true;
  if (!fromMemory && stream.forwardOnly()) seeded = descriptor.KeepStreamBytes(head);
  else if (!fromMemory) ranges.SeedHead(0, head);
  ReadEnding read;
  if (!seeded) {
    read.ending = ScanEnding::kOutOfMemory;
    return read;
  }
  if (container == Container::kRaf) return ReadRaf(input, stream.forwardOnly(), ranges, reader);
  ReadContainer(container, ranges, reader);
  read.ending = reader.ending();
  if (read.ending == ScanEnding::kReadError) read.readError = ranges.error();
  return read;
}

}  // namespace exifinfo
