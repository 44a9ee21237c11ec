// SPDX-License-Identifier: MIT
// The whole read: bytes -> scanner -> report, with the report's invariants checked.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <vector>

#include "report/photo_report.h"
#include "report_shape.h"

using fuzz_checks::Broken;
using fuzz_checks::CheckShape;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exact-size heap copy: the first byte over is caught.
  std::vector<uint8_t> bytes(data, data + size);
  static wchar_t report[exifinfo::kReportCapacity], again[exifinfo::kReportCapacity];
  static wchar_t block[exifinfo::kDataBlockCapacity];
  const size_t length = exifinfo::ReportBytes(bytes.data(), bytes.size(), {report, exifinfo::kReportCapacity},
                                              {block, exifinfo::kDataBlockCapacity}, nullptr);
  CheckShape(report, length, exifinfo::kReportCapacity);
  // The same bytes through a file descriptor (buffered, sought over) give the same report.
  const int fd = memfd_create("fuzz_read", MFD_CLOEXEC);
  if (fd >= 0) {
    // Read from where the descriptor stands: its start.
    if (write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()) && lseek(fd, 0, SEEK_SET) == 0) {
      exifinfo::ReportDescriptor(fd, {again, exifinfo::kReportCapacity}, {block, exifinfo::kDataBlockCapacity},
                                 nullptr);
      if (std::wcscmp(report, again) != 0) Broken("descriptor and memory reads differ");
    }
    close(fd);
  }
  const size_t second = exifinfo::ReportBytes(bytes.data(), bytes.size(), {again, exifinfo::kReportCapacity},
                                              {block, exifinfo::kDataBlockCapacity}, nullptr);
  if (second != length || std::wcscmp(report, again) != 0) Broken("same bytes, different report");
  return 0;
}
