// SPDX-License-Identifier: MIT
// Reading one photo in any known container: a JPEG through the section scanner as always, every
// other container through a RangeReader over the same input. The C API reads through here.
#pragma once

#include "container/containers.h"
#include "jpeg/read_photo.h"

namespace exifinfo {

// Where the photo's bytes are, for the containers read by ranges. The stream reads the same
// input; its first bytes tell the container.
struct PhotoInput {
  int fd = -1;          // a descriptor, read from `base` on (-1: forward only)...
  int64_t base = -1;
  ByteView memory;      // ...or bytes in memory (fd < 0)...
  RangeSource* source = nullptr;  // ...or the caller's ranges (the stream reads it too)
  ReadCall reads;       // stands in for the system calls in tests
};

// Reads a container other than JPEG into `reader` (RAF: its embedded JPEG). `head` is what the
// stream has buffered, the input's first bytes.
ReadEnding ReadOtherContainer(Container container, const PhotoInput& input, InputStream& stream, ExifReader& reader);

// The most bytes of JPEG sections read before the start of scan. No camera writes more than a
// few hundred KiB there (20 kept sections of at most 64 KiB, and some discarded ones); past
// this, a stream of discarded sections from a pipe would be read for as long as it flows.
constexpr uint64_t kMaxHeaderBytes = uint64_t{16} << 20;

// Reads the photo and hands `visit(const ExifReader&, ReadEnding, Container)` the finished reader.
template <typename Visit>
void ReadAnyPhoto(InputStream& stream, const PhotoInput& input, bool extras, Visit&& visit) {
  // A JPEG is known by its first two bytes: only another container waits for more, so that a
  // short JPEG from a pipe whose writer stays is read as soon as its bytes are there.
  Container container = IdentifyContainer(stream.Peek(2));
  if (container != Container::kJpeg) container = IdentifyContainer(stream.Peek(kIdentifyBytes));
  if (container == Container::kJpeg || container == Container::kUnknown) {
    stream.AllowLending();  // the stream outlives `visit`: sections need no copies
    ReadPhoto(stream, nullptr, extras,
              [&](const ExifReader& reader, ReadEnding read) {
                read.requests = stream.reads(), read.bytesRead = stream.delivered();
                visit(reader, read, container);
              },
              kMaxHeaderBytes);
    return;
  }
  ExifReader reader;
  reader.GatherExtras(extras);
  reader.BoundHeader(kMaxHeaderBytes);  // a RAF's embedded JPEG
  ReadEnding read;
  if (reader.HasInfo()) {
    read = ReadOtherContainer(container, input, stream, reader);
  } else {
    read.ending = ScanEnding::kOutOfMemory;
  }
  visit(static_cast<const ExifReader&>(reader), read, container);
}

}  // namespace exifinfo
