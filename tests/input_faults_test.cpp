// SPDX-License-Identifier: MIT
// Reads that fail, get interrupted or come back short, injected at every read of real headers:
// a failure keeps exactly what the bytes before it gave, and interruptions and short reads
// change nothing at all.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "read_helpers.h"
#include "test_files.h"

namespace {

using exifinfo::InputStream;
using exifinfo::ScanEnding;
using testing_builders::Bytes;
using testing_builders::JpegBuilder;

// A file in memory served through the read stand-in: at most `chunk` bytes a call, and call
// number `failAt` (counted from 0) fails with `failErrno`. EINTR fails that call only, as a
// signal would; any other error fails every call from then on, as a dead device would.
struct FaultyFile {
  const Bytes* bytes = nullptr;
  size_t chunk = 1;
  long failAt = -1;
  int failErrno = 0;
  long calls = 0;
  int64_t position = 0;        // for plain reads (offset -1)
  uint64_t furthestByte = 0;   // one past the last byte any read delivered

  static ssize_t Call(void* context, int, uint8_t* out, size_t count, int64_t offset) {
    auto& f = *static_cast<FaultyFile*>(context);
    const long call = f.calls++;
    if (f.failAt >= 0 && (call == f.failAt || (f.failErrno != EINTR && call > f.failAt))) {
      errno = f.failErrno;
      return -1;
    }
    int64_t& at = offset >= 0 ? offset : f.position;
    if (at >= static_cast<int64_t>(f.bytes->size())) return 0;
    size_t n = std::min({count, f.chunk, f.bytes->size() - static_cast<size_t>(at)});
    std::memcpy(out, f.bytes->data() + at, n);
    at += static_cast<int64_t>(n);
    f.furthestByte = std::max<uint64_t>(f.furthestByte, static_cast<uint64_t>(at));
    return static_cast<ssize_t>(n);
  }
};

struct Read {
  std::wstring report;
  ScanEnding ending;
  int error;
};

Read ReadThrough(FaultyFile& file, bool seekable, size_t bufferBytes = exifinfo::kFirstReadBytes) {
  std::vector<uint8_t> buffer(bufferBytes);
  InputStream stream(/*fd=*/1000, seekable ? 0 : -1, buffer.data(), buffer.size());
  stream.InjectReads({&FaultyFile::Call, &file});
  wchar_t report[exifinfo::kReportCapacity], data[exifinfo::kDataBlockCapacity];
  Read read{};
  exifinfo::ReadPhoto(stream, nullptr, true, [&](const exifinfo::ExifReader& reader, exifinfo::ReadEnding ending) {
    const size_t n = exifinfo::FormatReport(reader.info(), {report, exifinfo::kReportCapacity},
                                            {data, exifinfo::kDataBlockCapacity});
    read = {std::wstring(report, n), ending.ending, ending.readError};
  });
  return read;
}

// The header bytes of the sample and of a few corpus files of different shapes: many kept
// sections, ICC sections passed over, a thumbnail, no EXIF at all.
std::vector<std::pair<std::string, Bytes>> Photos() {
  std::vector<std::pair<std::string, Bytes>> photos = {{"sample", testing_builders::ReadFileBytes(EXIFINFO_SAMPLE_JPEG)}};
  for (const char* name : {"exiftool-ExifTool.jpg", "mde-Multiple_ICC_segments.jpg", "ianare-Canon_40D.jpg",
                           "exiftool-CasioQVCI.jpg", "ianare-Nikon_D70.jpg"}) {
    Bytes bytes = testing_builders::ReadFileBytes(std::string(EXIFINFO_CORPUS_DIR) + "/" + name);
    if (!bytes.empty()) photos.emplace_back(name, std::move(bytes));
  }
  // Sections past the first buffer, passed over and copied, on either side of its edge.
  photos.emplace_back("large sections", JpegBuilder().Soi().Segment(0xE2, Bytes(20000, 1)).Comment("after")
                                            .Segment(0xED, Bytes(16000, 2)).BaselineFrame(7, 9).StartOfScan().Build());
  return photos;
}

TEST(InputFaults, EveryReadFailingKeepsWhatTheBytesBeforeItGave) {
  for (const auto& [name, bytes] : Photos()) {
    const std::wstring whole = testing_builders::WideReportOfBytes(bytes);
    for (const bool seekable : {true, false}) {
      // Small chunks make many reads; the count stays small enough to try every one.
      const size_t chunk = std::max<size_t>(1, bytes.size() / 400);
      FaultyFile clean{&bytes, chunk};
      const Read cleanRead = ReadThrough(clean, seekable, 512);
      ASSERT_EQ(cleanRead.report, whole) << name;
      for (long k = 0; k < clean.calls; ++k) {
        FaultyFile failing{&bytes, chunk, k, EIO};
        const Read r = ReadThrough(failing, seekable, 512);
        const Bytes before(bytes.begin(), bytes.begin() + static_cast<long>(failing.furthestByte));
        ASSERT_EQ(r.report, testing_builders::WideReportOfBytes(before)) << name << " read " << k;
        ASSERT_EQ(r.ending, ScanEnding::kReadError) << name << " read " << k;
        ASSERT_EQ(r.error, EIO);

        FaultyFile interrupted{&bytes, chunk, k, EINTR};
        const Read i = ReadThrough(interrupted, seekable, 512);
        ASSERT_EQ(i.report, whole) << name << " read " << k;
        ASSERT_EQ(i.ending, cleanRead.ending) << name << " read " << k;
      }
    }
  }
}

TEST(InputFaults, ShortReadsOfAnySizeChangeNothing) {
  for (const auto& [name, bytes] : Photos()) {
    const std::wstring whole = testing_builders::WideReportOfBytes(bytes);
    for (const size_t chunk : {size_t{1}, size_t{3}, size_t{511}, size_t{4096}, size_t{1} << 20}) {
      for (const bool seekable : {true, false}) {
        FaultyFile file{&bytes, chunk};
        EXPECT_EQ(ReadThrough(file, seekable).report, whole) << name << " chunk " << chunk;
      }
    }
  }
}

TEST(InputFaults, AFailedReadIsNeverRetried) {
  const Bytes sample = testing_builders::ReadFileBytes(EXIFINFO_SAMPLE_JPEG);
  FaultyFile file{&sample, 16, 3, EIO};
  ReadThrough(file, true);
  EXPECT_EQ(file.calls, 4);  // three that delivered, the one that failed, and none after it
}

TEST(InputFaults, AFailedFirstReadIsAReadErrorNotAForeignFile) {
  const Bytes sample = testing_builders::ReadFileBytes(EXIFINFO_SAMPLE_JPEG);
  FaultyFile file{&sample, 4096, 0, EIO};
  const Read r = ReadThrough(file, true);
  EXPECT_EQ(r.ending, ScanEnding::kReadError);
  EXPECT_EQ(r.report, testing_builders::WideReportOfBytes({}));
}

// Real descriptors: what the system gives for each kind of file.
struct DescriptorRead {
  exifinfo::ReportOutcome outcome;
  std::wstring report;
};

DescriptorRead ReadDescriptor(int fd) {
  wchar_t report[exifinfo::kReportCapacity], data[exifinfo::kDataBlockCapacity];
  const exifinfo::ReportOutcome o =
      exifinfo::ReportDescriptor(fd, {report, exifinfo::kReportCapacity}, {data, exifinfo::kDataBlockCapacity}, nullptr);
  return {o, std::wstring(report, o.reportLength)};
}

TEST(Descriptors, EachKindEndsAsItShould) {
  const int dir = open("/", O_RDONLY | O_CLOEXEC);
  const int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
  const int writeOnly = open("/dev/null", O_WRONLY | O_CLOEXEC);
  const int mem = open("/proc/self/mem", O_RDONLY | O_CLOEXEC);  // reading address 0 fails with EIO
  struct Case {
    const char* name;
    int fd;
    ScanEnding ending;
    int error;
  } cases[] = {
      {"directory", dir, ScanEnding::kReadError, EISDIR},   {"/dev/null", null, ScanEnding::kNotAJpeg, 0},
      {"write-only", writeOnly, ScanEnding::kReadError, EBADF}, {"/proc/self/mem", mem, ScanEnding::kReadError, EIO},
      {"closed", 999, ScanEnding::kReadError, EBADF},
  };
  for (const Case& c : cases) {
    const DescriptorRead r = ReadDescriptor(c.fd);
    EXPECT_EQ(r.outcome.read.ending, c.ending) << c.name;
    EXPECT_EQ(r.outcome.read.readError, c.error) << c.name;
    EXPECT_TRUE(r.outcome.nothingRead) << c.name;
    EXPECT_EQ(r.report, testing_builders::WideReportOfBytes({})) << c.name;
  }
  for (const int fd : {dir, null, writeOnly, mem}) close(fd);
}

TEST(Descriptors, ReadFromTheirPositionAndLeaveItThere) {
  const Bytes sample = testing_builders::ReadFileBytes(EXIFINFO_SAMPLE_JPEG);
  FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  std::fwrite("junk", 1, 4, file);
  std::fwrite(sample.data(), 1, sample.size(), file);
  std::fflush(file);
  const int fd = fileno(file);
  ASSERT_EQ(lseek(fd, 4, SEEK_SET), 4);
  EXPECT_EQ(ReadDescriptor(fd).report, testing_builders::WideReportOfBytes(sample));
  EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 4);
  // A file cut short after it was opened reads as the bytes that are left.
  ASSERT_EQ(ftruncate(fd, 4 + 300), 0);
  const Bytes left(sample.begin(), sample.begin() + 300);
  EXPECT_EQ(ReadDescriptor(fd).report, testing_builders::WideReportOfBytes(left));
  std::fclose(file);
}

// A writer that hands the photo over a few bytes at a time, pausing between: every read that
// comes back short is followed by another, and the report is the whole photo's.
TEST(Descriptors, APipeFedSlowlyReadsWhole) {
  const Bytes sample = testing_builders::ReadFileBytes(EXIFINFO_SAMPLE_JPEG);
  int fds[2];
  ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
  std::thread writer([&] {
    for (size_t at = 0; at < sample.size(); at += 97) {
      const size_t n = std::min<size_t>(97, sample.size() - at);
      if (write(fds[1], sample.data() + at, n) != static_cast<ssize_t>(n)) break;
      if (at < 600) usleep(1000);
    }
    close(fds[1]);
  });
  const DescriptorRead r = ReadDescriptor(fds[0]);
  writer.join();
  close(fds[0]);
  EXPECT_EQ(r.outcome.read.ending, ScanEnding::kStartOfScan);
  EXPECT_EQ(r.report, testing_builders::WideReportOfBytes(sample));
}

}  // namespace
