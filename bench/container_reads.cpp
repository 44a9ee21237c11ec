// SPDX-License-Identifier: MIT
// Reads and bytes per photo: every system read of each file named on the command line is
// counted as the C API makes it (the stream's first read included), with the container and the
// ending. Prints one line per file: reads, bytes, container, ending, name.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "container/read_any.h"

namespace {

struct Counter {
  unsigned reads = 0;
  unsigned long long bytes = 0;
  static ssize_t Call(void* context, int fd, uint8_t* out, size_t count, int64_t offset) {
    auto* self = static_cast<Counter*>(context);
    const ssize_t n = offset >= 0 ? pread(fd, out, count, offset) : read(fd, out, count);
    ++self->reads;
    if (n > 0) self->bytes += static_cast<unsigned long long>(n);
    return n;
  }
};

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const int fd = open(argv[i], O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    Counter counter;
    const exifinfo::ReadCall call{&Counter::Call, &counter};
    uint8_t buffer[exifinfo::kFirstReadBytes];
    exifinfo::InputStream stream(fd, 0, buffer, sizeof buffer);
    stream.InjectReads(call);
    exifinfo::PhotoInput input;
    input.fd = fd;
    input.base = 0;
    input.reads = call;
    int container = 0, ending = 0;
    exifinfo::ReadAnyPhoto(stream, input, true,
                           [&](const exifinfo::ExifReader&, exifinfo::ReadEnding read, exifinfo::Container c) {
                             container = static_cast<int>(c);
                             ending = static_cast<int>(read.ending);
                           });
    close(fd);
    std::printf("%u %llu %d %d %s\n", counter.reads, counter.bytes, container, ending, argv[i]);
  }
  return 0;
}
