// SPDX-License-Identifier: MIT
// Files made to break readers: every one gives a report and a clean return.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "exif/errors.h"
#include "read_helpers.h"
#include "test_files.h"

namespace errors = exifinfo::errors;
using namespace testing_builders;

namespace {

bool WellFormed(const std::wstring& report) {
  return report.rfind(L"Version: ", 0) == 0 && report.find(L"\r\nData:\r\nHeight=") != std::wstring::npos &&
         report.size() > 2 && report[report.size() - 2] == L'\r' && report.back() == L'\n' &&
         report.find(L"\r\nBrightness=") != std::wstring::npos;
}

// The byte offset just past the start-of-scan section's contents.
size_t HeaderEnd(const Bytes& jpeg) {
  size_t at = 2;
  while (at + 4 <= jpeg.size()) {
    const size_t length = size_t{jpeg[at + 2]} << 8 | jpeg[at + 3];
    if (jpeg[at + 1] == 0xDA) return at + 2 + length;
    at += 2 + length;
  }
  return jpeg.size();
}

TEST(Hostile, RealFileCutAtEveryByteOfItsHeaderGivesAReport) {
  const Bytes sample = ReadFileBytes(EXIFINFO_SAMPLE_JPEG);
  ASSERT_GT(sample.size(), 1000u);
  const size_t end = HeaderEnd(sample);
  const std::wstring full = WideReportOfBytes(sample);
  ASSERT_NE(full.find(L"Camera Make: Tolvane Optics"), std::wstring::npos);
  for (size_t n = 0; n <= end; ++n) {
    const std::wstring report = WideReportOfBytes(Bytes(sample.begin(), sample.begin() + static_cast<long>(n)));
    ASSERT_TRUE(WellFormed(report)) << n;
    if (n == end) {
      EXPECT_EQ(report, full);
    }
  }
}

TEST(Hostile, SectionsOfEveryTinyLengthAndTheLargest) {
  for (const uint8_t marker : {0xC0, 0xDB, 0xE0, 0xE1, 0xE2, 0xFE, 0xD9, 0x01, 0xD0}) {
    for (const Bytes& length : {Bytes{0, 0}, Bytes{0, 1}, Bytes{0, 2}, Bytes{0, 3}, Bytes{0xFF, 0xFF}}) {
      Bytes jpeg = {0xFF, 0xD8, 0xFF, marker, length[0], length[1]};
      const size_t contents = (size_t{length[0]} << 8 | length[1]);
      if (contents > 2) jpeg.resize(jpeg.size() + contents - 2, 0x45);
      const Bytes withScan = JpegBuilder().Raw(jpeg).StartOfScan().Build();
      EXPECT_TRUE(WellFormed(WideReportOfBytes(jpeg))) << int{marker};
      EXPECT_TRUE(WellFormed(WideReportOfBytes(withScan))) << int{marker};
    }
  }
}

TEST(Hostile, LargestExifSectionIsWalkedInBounds) {
  // A 65535-byte APP1 whose first directory claims 5460 entries of sub-directory links, all to
  // the last possible offset, and whose values are repeated everywhere.
  TiffBuilder tiff(ByteOrder::kLittle);
  TiffBuilder::Dir& first = tiff.Directory();
  for (int i = 0; i < 5400; ++i) first.RawEntry(0x8769, 4, 1, 65535 - 8);
  Bytes block = tiff.Build();
  block.resize(65535 - 8, 0xFF);
  const ExifResult r = ParseTiff(block);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.directoriesWalked, 2u);  // the first one, and the link at the very end (once)
  EXPECT_EQ(r.lastError, errors::kDirectoryRevisited);
}

TEST(Hostile, ValueCountsThatOverflowThirtyTwoBitsAreRejected) {
  for (const uint16_t format : {uint16_t{5}, uint16_t{10}, uint16_t{12}, uint16_t{4}, uint16_t{3}}) {
    TiffBuilder tiff(ByteOrder::kBig);
    // 0x20000001 components: the byte count wraps to a small number in 32 bits.
    tiff.Directory().Ascii(0x010F, "Kept").RawEntry(0x0110, format, 0x20000001u, 8);
    const ExifResult r = ParseTiff(tiff.Build());
    EXPECT_FALSE(r.ok) << format;
    EXPECT_EQ(r.lastError, errors::kIllegalValueOffset);
    EXPECT_EQ(std::string(r.info.CameraMake), "Kept");
  }
}

TEST(Hostile, OutputWhoseWritesFailStillReturnsTheReport) {
  wchar_t report[exifinfo::kReportCapacity];
  wchar_t data[exifinfo::kDataBlockCapacity];
  // Opens for writing, even as root, and refuses every write.
  const exifinfo::ReportOutcome outcome = exifinfo::ReportFile(
      EXIFINFO_SAMPLE_JPEG, "/proc/version", {report, exifinfo::kReportCapacity}, {data, exifinfo::kDataBlockCapacity},
      nullptr);
  EXPECT_TRUE(outcome.inputOpened);
  EXPECT_TRUE(outcome.outputRequested);
  EXPECT_FALSE(outcome.outputWritten);
  EXPECT_NE(outcome.outputError, 0);
  EXPECT_TRUE(WellFormed(std::wstring(report, outcome.reportLength)));
}

TEST(Hostile, ReportOfACorruptedSampleAtEveryByteStaysWellFormed) {
  const Bytes sample = ReadFileBytes(EXIFINFO_SAMPLE_JPEG);
  const size_t end = HeaderEnd(sample);
  for (size_t i = 0; i < end; ++i) {
    for (const uint8_t value : {uint8_t{0x00}, uint8_t{0xFF}}) {
      Bytes damaged = sample;
      damaged[i] = value;
      ASSERT_TRUE(WellFormed(WideReportOfBytes(damaged))) << i;
    }
  }
}

}  // namespace
