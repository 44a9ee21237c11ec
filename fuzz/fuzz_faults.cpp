// SPDX-License-Identifier: MIT
// The input layer with injected faults: the fuzzer's first bytes choose the buffer size,
// whether the input can seek, and which reads fail (EIO), get interrupted (EINTR or EAGAIN)
// or come back short; the rest is the file. A failure must give exactly the report of the
// bytes delivered before it; interruptions and short reads must give the plain read's report.
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <vector>

#include "io/input_stream.h"
#include "report/photo_report.h"
#include "report_shape.h"

namespace {

using fuzz_checks::Broken;

enum Action : uint8_t { kFail, kInterrupt, kWouldBlock, kShort };

struct Event {
  uint32_t call;
  Action action;
  uint8_t shortBytes;
};

struct Plan {
  const uint8_t* file = nullptr;
  size_t size = 0;
  std::vector<Event> events;
  uint32_t calls = 0;
  bool failed = false;
  int64_t position = 0;     // for plain reads
  uint64_t furthest = 0;    // one past the last byte delivered

  static ssize_t Call(void* context, int, uint8_t* out, size_t count, int64_t offset) {
    auto& p = *static_cast<Plan*>(context);
    const uint32_t call = p.calls++;
    if (p.failed) Broken("read again after a failed read");
    for (const Event& e : p.events) {
      if (e.call != call) continue;
      switch (e.action) {
        case kFail: p.failed = true; errno = EIO; return -1;
        case kInterrupt: errno = EINTR; return -1;
        case kWouldBlock: errno = EAGAIN; return -1;
        case kShort: count = count < e.shortBytes ? count : e.shortBytes; break;
      }
    }
    int64_t& at = offset >= 0 ? offset : p.position;
    if (at < 0 || static_cast<uint64_t>(at) >= p.size) return 0;
    const size_t n = count < p.size - static_cast<size_t>(at) ? count : p.size - static_cast<size_t>(at);
    std::memcpy(out, p.file + at, n);
    at += static_cast<int64_t>(n);
    if (static_cast<uint64_t>(at) > p.furthest) p.furthest = static_cast<uint64_t>(at);
    return static_cast<ssize_t>(n);
  }
};

size_t ReportOf(const uint8_t* data, size_t size, wchar_t* report) {
  static wchar_t block[exifinfo::kDataBlockCapacity];
  return exifinfo::ReportBytes(data, size, {report, exifinfo::kReportCapacity}, {block, exifinfo::kDataBlockCapacity},
                               nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return -1;
  // Byte 0: buffer size (bits 0-2), seekable (bit 3), event count (bits 4-7). Then 3 bytes an
  // event: call index, action, short-read size. Then the file.
  const size_t bufferBytes = size_t{8} << (data[0] & 7);  // 8 bytes to 1 KiB: many refills
  const bool seekable = (data[0] & 8) != 0;
  const size_t eventCount = data[0] >> 4;
  if (size < 1 + 3 * eventCount) return -1;
  Plan plan;
  for (size_t i = 0; i < eventCount; ++i) {
    const uint8_t* e = data + 1 + 3 * i;
    plan.events.push_back({e[0], static_cast<Action>(e[1] % 4), static_cast<uint8_t>(1 + e[2] % 32)});
  }
  std::vector<uint8_t> file(data + 1 + 3 * eventCount, data + size);
  plan.file = file.data();
  plan.size = file.size();

  std::vector<uint8_t> buffer(bufferBytes);
  exifinfo::InputStream stream(/*fd=*/1000, seekable ? 0 : -1, buffer.data(), buffer.size());
  stream.InjectReads({&Plan::Call, &plan});
  static wchar_t report[exifinfo::kReportCapacity], expected[exifinfo::kReportCapacity];
  static wchar_t block[exifinfo::kDataBlockCapacity];
  size_t length = 0;
  exifinfo::ScanEnding ending = exifinfo::ScanEnding::kNotAJpeg;
  exifinfo::ReadPhoto(stream, nullptr, true, [&](const exifinfo::ExifReader& reader, exifinfo::ReadEnding read) {
    length = exifinfo::FormatReport(reader.info(), {report, exifinfo::kReportCapacity},
                                    {block, exifinfo::kDataBlockCapacity});
    ending = read.ending;
  });
  fuzz_checks::CheckShape(report, length, exifinfo::kReportCapacity);
  const size_t delivered = plan.failed ? static_cast<size_t>(plan.furthest) : file.size();
  const size_t expectedLength = ReportOf(file.data(), delivered, expected);
  if (expectedLength != length || std::wmemcmp(report, expected, length) != 0)
    Broken(plan.failed ? "a failed read's report is not that of the bytes before it"
                       : "interrupted or short reads changed the report");
  if (plan.failed != (ending == exifinfo::ScanEnding::kReadError)) Broken("the ending does not say a read failed");
  return 0;
}
