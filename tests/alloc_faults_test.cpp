// SPDX-License-Identifier: MIT
// Each allocation of one read failing in turn, through an allocator this binary interposes
// (the shared libraries' malloc resolves to it too): the core still gives a well-formed report,
// the C API gives ENOMEM or the whole result, EXIFInfo's output file keeps its old contents
// or holds the whole new report, and nothing leaks. Not built with the sanitizers, which
// bring their own allocator.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "exifinfo.h"
#include "read_helpers.h"
#include "test_files.h"
#include "tolvane_exif_info.h"

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void __libc_free(void*);
}

namespace {

// Armed only around the call under test. Counts are plain: the tests are single-threaded.
struct Allocations {
  bool armed = false;
  long failAt = -1;  // index of the allocation that fails, counted from arming
  long made = 0;     // allocations attempted since arming
  long live = 0;     // allocated and not yet freed since arming
  bool Fails() {
    if (!armed) return false;
    return made++ == failAt;
  }
} gAllocations;

}  // namespace

extern "C" void* malloc(size_t n) {
  if (gAllocations.Fails()) return nullptr;
  void* p = __libc_malloc(n);
  if (gAllocations.armed && p != nullptr) ++gAllocations.live;
  return p;
}
extern "C" void* calloc(size_t n, size_t size) {
  if (gAllocations.Fails()) return nullptr;
  void* p = __libc_calloc(n, size);
  if (gAllocations.armed && p != nullptr) ++gAllocations.live;
  return p;
}
extern "C" void* realloc(void* p, size_t n) {
  if (p == nullptr) return malloc(n);
  if (gAllocations.Fails()) return nullptr;
  return __libc_realloc(p, n);
}
extern "C" void free(void* p) {
  if (gAllocations.armed && p != nullptr) --gAllocations.live;
  __libc_free(p);
}

namespace {

using testing_builders::Bytes;

// Runs `call` armed with allocation k failing, then `check` disarmed (checks allocate), for
// k = 0, 1, ... until a run makes no k-th allocation. Returns how many runs failed one.
// Every armed run must free all it allocated.
template <typename Call, typename Check>
long ForEachFailingAllocation(Call call, Check check) {
  for (long k = 0;; ++k) {
    gAllocations = Allocations{true, k, 0, 0};
    call();
    gAllocations.armed = false;
    EXPECT_EQ(gAllocations.live, 0) << "allocation " << k << " failing leaked";
    check();
    if (gAllocations.made <= k) return k;
  }
}

// Files whose read allocates the record, a comment copy, an EXIF copy and, for the second, a
// visited-directory bitmap (more than 32 directories); read through a path, the third's EXIF
// section is lent from the stream's first buffer and its 20 KiB APP2 then needs a buffer of the
// stream's own.
std::vector<Bytes> Photos() {
  using testing_builders::JpegBuilder;
  using testing_builders::TiffBuilder;
  constexpr int kDirectories = 40;
  TiffBuilder many(testing_builders::ByteOrder::kLittle);
  for (int d = 0; d < kDirectories; ++d)
    many.Directory().Short(0x0112, 1).NextDirectory(d + 1 < kDirectories ? d + 1 : TiffBuilder::kNoLink);
  TiffBuilder one(testing_builders::ByteOrder::kBig);
  one.Directory().Ascii(0x010F, "Lent");
  return {testing_builders::ReadFileBytes(EXIFINFO_SAMPLE_JPEG),
          JpegBuilder().Soi().Comment("c").App1Exif(many.Build()).BaselineFrame(2, 3).StartOfScan().Build(),
          JpegBuilder().Soi().App1Exif(one.Build()).Segment(0xE2, Bytes(20000, 7)).BaselineFrame(2, 3).StartOfScan().Build()};
}

TEST(AllocationFaults, CoreReportStaysWellFormed) {
  static wchar_t report[exifinfo::kReportCapacity], data[exifinfo::kDataBlockCapacity];
  for (const Bytes& photo : Photos()) {
    const std::wstring whole = testing_builders::WideReportOfBytes(photo);
    size_t length = 0;
    exifinfo::ScanEnding ending{};
    long outOfMemory = 0;
    const long runs = ForEachFailingAllocation(
        [&] {
          exifinfo::InputStream stream(photo.data(), photo.size());
          exifinfo::ReadPhoto(stream, nullptr, true, [&](const exifinfo::ExifReader& reader, exifinfo::ReadEnding read) {
            const exifinfo::ImageInfo defaults{};
            length = exifinfo::FormatReport(reader.HasInfo() ? reader.info() : defaults,
                                            {report, exifinfo::kReportCapacity}, {data, exifinfo::kDataBlockCapacity});
            ending = read.ending;
          });
        },
        [&] {
          const std::wstring text(report, length);
          // Out of memory ends the read with what was stored before it; anything else is whole.
          if (ending == exifinfo::ScanEnding::kOutOfMemory) {
            ++outOfMemory;
            EXPECT_EQ(text.substr(0, 9), L"Version: ");
            EXPECT_EQ(text.substr(text.size() - 2), L"\r\n");
          } else {
            EXPECT_EQ(text, whole);
          }
        });
    EXPECT_GE(runs, 3);  // the record, a section copy, the EXIF copy at least
    EXPECT_GE(outOfMemory, 2);
  }
}

// From memory (sections copied) and through a path (sections lent, and a buffer of the stream's
// own once a lent one would be overwritten).
TEST(AllocationFaults, CApiGivesEnomemOrTheWholeResult) {
  for (const Bytes& photo : Photos()) {
    const testing_builders::TempFile file(photo);
    for (const bool fromPath : {false, true}) {
      exifinfo_photo* expected = nullptr;
      ASSERT_EQ(exifinfo_read_memory(photo.data(), photo.size(), &expected), 0);
      const std::string report(expected->report, expected->report_length);
      exifinfo_free(expected);
      int status = 0, enomem = 0;
      bool pointerSet = false, same = false;
      ForEachFailingAllocation(
          [&] {
            exifinfo_photo* p = nullptr;
            status = fromPath ? exifinfo_read_path(file.path().c_str(), &p) : exifinfo_read_memory(photo.data(), photo.size(), &p);
            pointerSet = p != nullptr;
            same = p != nullptr && p->report_length == report.size() && std::memcmp(p->report, report.data(), report.size()) == 0;
            exifinfo_free(p);
          },
          [&] {
            if (status == ENOMEM) {
              ++enomem;
              EXPECT_FALSE(pointerSet);
            } else {
              EXPECT_EQ(status, 0);
              EXPECT_TRUE(same);
            }
          });
      EXPECT_GE(enomem, 2) << (fromPath ? "path" : "memory");
    }
  }
}

// A batch of record lines (on the calling thread) gives ENOMEM and no text, or every line.
TEST(AllocationFaults, RecordLinesAreEnomemOrWhole) {
  const std::vector<Bytes> photos = Photos();
  std::vector<exifinfo_input> inputs;
  for (const Bytes& photo : photos) inputs.push_back({nullptr, photo.data(), photo.size(), -1});
  char* text = nullptr;
  size_t length = 0;
  ASSERT_EQ(exifinfo_records_json(inputs.data(), inputs.size(), nullptr, -1, &text, &length, nullptr), 0);
  const std::string whole(text, length);
  exifinfo_free_text(text);
  int status = 0, enomem = 0;
  bool returned = false, same = false;
  const long runs = ForEachFailingAllocation(
      [&] {
        char* lines = nullptr;
        status = exifinfo_records_json(inputs.data(), inputs.size(), nullptr, -1, &lines, &length, nullptr);
        returned = lines != nullptr;
        same = returned && length == whole.size() && std::memcmp(lines, whole.data(), length) == 0;
        exifinfo_free_text(lines);
      },
      [&] {
        if (status == ENOMEM) {
          ++enomem;
          EXPECT_FALSE(returned);
        } else {
          EXPECT_EQ(status, 0);
          EXPECT_TRUE(same);
        }
      });
  EXPECT_GE(runs, 4);
  EXPECT_GE(enomem, 4);
}

TEST(AllocationFaults, ExifInfoOutputKeepsItsOldContentsOrHoldsTheWholeReport) {
  const std::string out = "/tmp/exifinfo_alloc_" + std::to_string(getpid()) + ".txt";
  const std::wstring input(EXIFINFO_SAMPLE_JPEG, EXIFINFO_SAMPLE_JPEG + std::strlen(EXIFINFO_SAMPLE_JPEG));
  const std::wstring output(out.begin(), out.end());
  const wchar_t* report = nullptr;
  const long runs = ForEachFailingAllocation(
      [&] {
        // Written without allocating: only EXIFInfo runs with allocations failing.
        const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const bool prepared = fd >= 0 && write(fd, "old contents", 12) == 12;
        if (fd >= 0) close(fd);
        report = prepared ? EXIFInfo(input.c_str(), output.c_str()) : nullptr;
      },
      [&] {
        std::ifstream in(out, std::ios::binary);
        const std::string written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ASSERT_NE(report, nullptr);
        EXPECT_EQ(std::wstring(report, 9), L"Version: ");
        EXPECT_TRUE(written == "old contents" || written == testing_builders::Utf8Of(report)) << written;
      });
  EXPECT_GE(runs, 3);
  unlink(out.c_str());
}

}  // namespace
