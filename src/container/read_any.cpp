// SPDX-License-Identifier: MIT
#include "container/read_any.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

#include "xmp/xmp_packet.h"

namespace exifinfo {
namespace {

// RAF: the embedded JPEG, read by the section scanner where it lies, through the reader's
// windows: the bytes of the photo's head that hold the JPEG's start are not asked for again,
// and its requests are counted and held to the budget with the rest (memory costs none).
ReadEnding ReadRaf(RangeReader& source, ExifReader& reader) {
  ReadEnding read;
  uint64_t offset = 0, length = 0;
  if (!FindRafJpeg(source, offset, length, read.ending)) {
    reader.Finish(read.ending, nullptr);
    read.readError = source.error();
    return read;
  }
  if (offset <= INT64_MAX) {
    ReaderSource windows(source);
    uint8_t buffer[kFirstReadBytes];
    InputStream jpeg(windows, static_cast<int64_t>(offset), buffer, sizeof buffer);
    reader.ScanSections(jpeg, nullptr);
    read.readError = jpeg.error() != 0 ? jpeg.error() : source.error();
    if (read.readError == 0) ReadRafSize(source, reader);
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
  const bool fromMemory = input.fd < 0 && input.source == nullptr;
  // A caller's source comes with its budget already (the stream read through it); a descriptor
  // is given its own here, memory costs nothing.
  // A sidecar is one packet, read whole: it may take what a packet may be.
  ReadBudget budget = BudgetSource::ScaledFor(descriptor);
  if (container == Container::kXmp && budget.bytes < kMaxXmpBytes + RangeReader::kMaxFetchBytes)
    budget.bytes = kMaxXmpBytes + RangeReader::kMaxFetchBytes;
  BudgetSource budgeted(descriptor, budget);
  RangeSource& source = input.source != nullptr ? *input.source
                        : fromMemory            ? static_cast<RangeSource&>(memory)
                                                : budgeted;
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
  if (container == Container::kRaf) {
    read = ReadRaf(ranges, reader);
  } else {
    ReadContainer(container, ranges, reader);
    read.ending = reader.ending();
    if (read.ending == ScanEnding::kReadError) read.readError = ranges.error();
  }
  read.budgetSpent = budgeted.spent() || reader.held().full();  // the read held all it may: cut as by its budget
  read.requests += stream.reads() + ranges.reads();
  read.bytesRead += stream.delivered() + ranges.bytesRead();
  return read;
}

}  // namespace exifinfo
