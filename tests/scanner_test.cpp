// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "exif/errors.h"
#include "read_helpers.h"

namespace errors = exifinfo::errors;
using namespace testing_builders;

namespace {

struct EndingCase {
  const char* name;
  Bytes jpeg;
  bool reachedScan;
  const char* lastError;
  const char* diagnostics;
};
// Test names and failures show the case by name (and never the padding bytes).
void PrintTo(const EndingCase& c, std::ostream* os) { *os << c.name; }

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class ScannerEndings : public ::testing::TestWithParam<EndingCase> {};

TEST_P(ScannerEndings, EndWithTheirResultTextAndDiagnostic) {
  const EndingCase& c = GetParam();
  const ScanResult r = ScanJpeg(c.jpeg);
  EXPECT_EQ(r.reachedScan, c.reachedScan);
  EXPECT_EQ(r.lastError, c.lastError);
  EXPECT_EQ(r.diagnostics, c.diagnostics);
}

const Bytes kSoi = {0xFF, 0xD8};

INSTANTIATE_TEST_SUITE_P(
    Scanner, ScannerEndings,
    ::testing::Values(
        EndingCase{"Empty", {}, false, "", ""},
        EndingCase{"NotAJpeg", {'G', 'I', 'F', '8'}, false, "", ""},
        EndingCase{"FirstByteOnly", {0xFF}, false, "", ""},
        EndingCase{"WrongSecondByte", {0xFF, 0xD9}, false, "", ""},
        EndingCase{"OnlyStartOfImage", kSoi, false, errors::kInvalidMarker, ""},
        EndingCase{"EndsAfterEndOfImageMarker", Concat(kSoi, {0xFF, 0xD9}), false, errors::kInvalidMarker, ""},
        EndingCase{"EndsAfterFirstLengthByteLow", Concat(kSoi, {0xFF, 0xDB, 0x00}), false, errors::kInvalidMarker, ""},
        EndingCase{"EndsAfterFirstLengthByteHigh", Concat(kSoi, {0xFF, 0xDB, 0x7F}), false, errors::kInvalidMarker, ""},
        EndingCase{"LengthZero", Concat(kSoi, {0xFF, 0xDB, 0x00, 0x00}), false, errors::kInvalidMarker, ""},
        EndingCase{"LengthOne", Concat(kSoi, {0xFF, 0xDB, 0x00, 0x01}), false, errors::kInvalidMarker, ""},
        EndingCase{"ContentsCutShort", Concat(kSoi, {0xFF, 0xDB, 0x00, 0x05, 1, 2}), false, errors::kPrematureEnd, ""},
        EndingCase{"LengthFFFFWithoutContents", Concat(kSoi, {0xFF, 0xE2, 0xFF, 0xFF}), false, errors::kPrematureEnd, ""},
        EndingCase{"SevenFillBytes", Concat(kSoi, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xDA, 0, 2}), false, "",
                   "too many padding unsigned chars\n"},
        EndingCase{"SixFillBytes", Concat(kSoi, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xDA, 0, 2}), true, "", ""},
        EndingCase{"MarkerWithoutFill", Concat(kSoi, {0xDA, 0, 2}), true, "", ""},
        EndingCase{"EndOfImageWithLength", Concat(kSoi, {0xFF, 0xD9, 0, 2}), false, "", "No image in jpeg!\n"},
        EndingCase{"StartOfScan", JpegBuilder().Soi().QuantTable().StartOfScan().Build(), true, "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

Bytes KeptSections(int count) {
  JpegBuilder jpeg;
  jpeg.Soi();
  for (int i = 0; i < count; ++i) jpeg.QuantTable();
  return jpeg.Build();
}

TEST(Scanner, NineteenKeptSectionsThenStartOfScanSucceed) {
  const ScanResult r = ScanJpeg(JpegBuilder().Raw(KeptSections(19)).StartOfScan().Build());
  EXPECT_TRUE(r.reachedScan);
  EXPECT_EQ(r.sectionCount, 20);
}

TEST(Scanner, TwentyKeptSectionsBeforeStartOfScanFail) {
  const ScanResult r = ScanJpeg(JpegBuilder().Raw(KeptSections(20)).StartOfScan().Build());
  EXPECT_FALSE(r.reachedScan);
  EXPECT_EQ(r.lastError, errors::kTooManySections);
}

TEST(Scanner, DiscardedSectionsDoNotCountTowardsTheLimit) {
  JpegBuilder jpeg;
  jpeg.Raw(KeptSections(19));
  jpeg.Segment(0xE0, "JFIF").Segment(0xE1, "http://ns.adobe.com/xap/1.0/").Segment(0xE1, "Ex");
  jpeg.Comment("first").Segment(0xFE, "second");  // the first comment is kept: 20 sections
  const ScanResult r = ScanJpeg(jpeg.StartOfScan().Build());
  EXPECT_FALSE(r.reachedScan);
  EXPECT_EQ(r.lastError, errors::kTooManySections);
  EXPECT_EQ(std::string(r.info.Comments), "first");

  JpegBuilder withoutComment;
  withoutComment.Raw(KeptSections(19)).Segment(0xE0, "JFIF").Segment(0xE1, "XMP").StartOfScan();
  EXPECT_TRUE(ScanJpeg(withoutComment.Build()).reachedScan);
}

TEST(Scanner, HalfReadSectionStaysInTheUncountedSlot) {
  // A comment (a section that is copied) cut short after one byte of its contents.
  for (const Bytes& cut : {Bytes{0xFF, 0xFE, 0x00, 0x10, 'a'}, Bytes{0xFF, 0xE1, 0x00, 0x20, 'E', 'x', 'i', 'f', 0}}) {
    const ScanResult r = ScanJpeg(Concat(JpegBuilder().Soi().QuantTable().Build(), cut));
    EXPECT_EQ(r.lastError, errors::kPrematureEnd);
    EXPECT_EQ(r.sectionCount, 1);
    EXPECT_TRUE(r.uncountedSlotHoldsBuffer);  // and the destructor freed it (leak checks)
  }
}

TEST(Scanner, SectionsNothingReadsAreCountedWithoutACopy) {
  const Bytes jpeg = JpegBuilder().Soi().QuantTable().Segment(0xE2, Bytes(5000, 7)).BaselineFrame(8, 8).StartOfScan().Build();
  std::vector<uint8_t> copy(jpeg);
  exifinfo::ExifReader reader;
  exifinfo::InputStream stream(copy.data(), copy.size());
  ASSERT_TRUE(reader.ScanSections(stream, nullptr));
  ASSERT_EQ(reader.sectionCount(), 4);
  EXPECT_EQ(reader.section(0).Marker, 0xDB);
  EXPECT_EQ(reader.section(0).Bytes, nullptr);
  EXPECT_EQ(reader.section(1).Length, 5002);
  EXPECT_EQ(reader.section(1).Bytes, nullptr);
  EXPECT_NE(reader.section(2).Bytes, nullptr);  // the frame header is read
  EXPECT_EQ(reader.section(3).Marker, 0xDA);
  // Passing over still needs every byte: one short ends the scan as a short read does.
  const ScanResult cut = ScanJpeg(Bytes(jpeg.begin(), jpeg.begin() + 2 + 69 + 4 + 4999));
  EXPECT_EQ(cut.lastError, errors::kPrematureEnd);
}

// From a regular file, large sections are passed over by seeking: what follows them is read
// at the right place, and a file that ends inside one ends the scan as a short read does.
TEST(Scanner, SeekingOverLargeSectionsOfARegularFile) {
  const Bytes jpeg = JpegBuilder().Soi().Segment(0xE2, Bytes(40000, 1)).Segment(0xED, Bytes(4097, 2))
                         .BaselineFrame(123, 456).StartOfScan().Build();
  for (const size_t size : {jpeg.size(), size_t{2 + 4 + 39999}, size_t{2 + 4 + 40000 + 4 + 4000}}) {
    FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    std::fwrite(jpeg.data(), 1, size, file);
    std::fflush(file);
    exifinfo::ExifReader reader;
    uint8_t buffer[4096];
    exifinfo::InputStream stream(fileno(file), 0, buffer, sizeof buffer);
    const bool reached = reader.ScanSections(stream, nullptr);
    std::fclose(file);
    EXPECT_EQ(reached, size == jpeg.size()) << size;
    EXPECT_EQ(reader.info().Width, size == jpeg.size() ? 456 : 0) << size;
    EXPECT_STREQ(reader.lastError(), size == jpeg.size() ? "" : errors::kPrematureEnd) << size;
  }
}

struct FrameCase {
  uint8_t marker;
  uint8_t components;
  int isColor;
};

TEST(FrameHeader, EveryStartOfFrameCodeFillsSizeColourAndProcess) {
  const uint8_t frames[] = {0xC0, 0xC1, 0xC2, 0xC3, 0xC5, 0xC6, 0xC7, 0xC9, 0xCA, 0xCB, 0xCD, 0xCE, 0xCF};
  for (const uint8_t marker : frames) {
    for (const FrameCase c : {FrameCase{marker, 3, 1}, FrameCase{marker, 1, 0}, FrameCase{marker, 4, 0}}) {
      const ScanResult r = ScanJpeg(JpegBuilder().Soi().Frame(c.marker, 0x0102, 0x0304, c.components).StartOfScan().Build());
      EXPECT_EQ(r.info.Height, 0x0102) << int{marker};
      EXPECT_EQ(r.info.Width, 0x0304);
      EXPECT_EQ(r.info.IsColor, c.isColor);
      EXPECT_EQ(r.info.Process, marker);
    }
  }
}

TEST(FrameHeader, TablesAndOtherMarkersAreNotFrames) {
  for (const uint8_t marker : {0xC4, 0xC8, 0xCC, 0xDB, 0xDD, 0xE2}) {
    const ScanResult r = ScanJpeg(JpegBuilder().Soi().Frame(marker, 480, 640, 3).StartOfScan().Build());
    EXPECT_TRUE(r.reachedScan);
    EXPECT_EQ(r.info.Height, 0) << int{marker};
    EXPECT_EQ(r.info.Process, 0);
    EXPECT_EQ(r.sectionCount, 2);  // kept
  }
}

TEST(FrameHeader, SecondFrameOverwritesTheFirst) {
  const ScanResult r = ScanJpeg(JpegBuilder().Soi().BaselineFrame(480, 640).Frame(0xC2, 100, 200, 1).StartOfScan().Build());
  EXPECT_EQ(r.info.Height, 100);
  EXPECT_EQ(r.info.Width, 200);
  EXPECT_EQ(r.info.IsColor, 0);
  EXPECT_EQ(r.info.Process, 0xC2);
}

TEST(FrameHeader, FrameShorterThanItsFixedPartIsKeptAndChangesNothing) {
  // Seven bytes: length, precision, height, width; the component count is missing.
  const ScanResult r = ScanJpeg(JpegBuilder().Soi().Segment(0xC0, Bytes{8, 1, 0xE0, 2, 0x80}).StartOfScan().Build());
  EXPECT_TRUE(r.reachedScan);
  EXPECT_EQ(r.sectionCount, 2);
  EXPECT_EQ(r.info.Height, 0);
  EXPECT_EQ(r.info.Process, 0);
  const ScanResult exact = ScanJpeg(JpegBuilder().Soi().Segment(0xC0, Bytes{8, 1, 0xE0, 2, 0x80, 3}).StartOfScan().Build());
  EXPECT_EQ(exact.info.Height, 480);
  EXPECT_EQ(exact.info.Width, 640);
  EXPECT_EQ(exact.info.IsColor, 1);
}

struct CommentCase {
  const char* name;
  std::string contents;
  std::string stored;
};
// Test names and failures show the case by name (and never the padding bytes).
void PrintTo(const CommentCase& c, std::ostream* os) { *os << c.name; }

class CommentCleaning : public ::testing::TestWithParam<CommentCase> {};

TEST_P(CommentCleaning, StoresTheCleanedText) {
  const ScanResult r = ScanJpeg(JpegBuilder().Soi().Comment(GetParam().contents).StartOfScan().Build());
  EXPECT_EQ(std::string(r.info.Comments), GetParam().stored);
}

INSTANTIATE_TEST_SUITE_P(
    Comment, CommentCleaning,
    ::testing::Values(CommentCase{"LineEndsAndControls", std::string("a\r\nb\rc\x01", 7), "a\nb?c?"},
                      CommentCase{"TabAndLineFeedKept", "x\ty\nz", "x\ty\nz"},
                      CommentCase{"NulBecomesQuestionMark", std::string("a\0b", 3), "a?b"},
                      CommentCase{"CarriageReturnAtTheEnd", "end\r", "end?"},
                      CommentCase{"HighBytesKept", "caf\xC3\xA9 \x7F\xFF", "caf\xC3\xA9 \x7F\xFF"},
                      CommentCase{"Empty", "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Comment, OnlyTheFirstThousandBytesOfTheSectionAreExamined) {
  const ScanResult r = ScanJpeg(JpegBuilder().Soi().Comment(std::string(1500, 'x')).StartOfScan().Build());
  EXPECT_EQ(std::string(r.info.Comments), std::string(998, 'x'));
}

TEST(Comment, LookAheadSeesTheByteJustPastTheWindow) {
  // CR is the window's last byte (index 999) and LF the first one past it: the CR is dropped.
  const std::string contents = std::string(997, 'x') + "\r\n";
  const ScanResult r = ScanJpeg(JpegBuilder().Soi().Comment(contents).StartOfScan().Build());
  EXPECT_EQ(std::string(r.info.Comments), std::string(997, 'x'));
}

TEST(Comment, LaterCommentsAreDiscardedEvenAfterAnEmptyFirstOne) {
  const ScanResult r = ScanJpeg(JpegBuilder().Soi().Comment("").Comment("second").StartOfScan().Build());
  EXPECT_EQ(std::string(r.info.Comments), "");
  EXPECT_EQ(r.sectionCount, 2);  // the empty comment and the start of scan
}

TEST(Comment, ExifSectionAfterTheCommentEmptiesIt) {
  TiffBuilder tiff(ByteOrder::kLittle);
  tiff.Directory().Ascii(0x010F, "Maker");
  const ScanResult r =
      ScanJpeg(JpegBuilder().Soi().Comment("lost").App1Exif(tiff.Build()).Comment("discarded").StartOfScan().Build());
  EXPECT_EQ(std::string(r.info.Comments), "");
  EXPECT_EQ(std::string(r.info.CameraMake), "Maker");
  EXPECT_TRUE(r.info.HasExif);
}

TEST(App1, SectionsWithoutExifAreDiscarded) {
  for (const Bytes& contents : {Bytes{}, Bytes{'E', 'x', 'i'}, Bytes{'E', 'x', 'i', 'f'}, Bytes{'X', 'M', 'P', 0}}) {
    const bool exifTag = contents.size() == 4 && contents[0] == 'E';
    const ScanResult r = ScanJpeg(JpegBuilder().Soi().Segment(0xE1, contents).StartOfScan().Build());
    EXPECT_TRUE(r.reachedScan);
    // "Exif" alone is kept and handed to the EXIF parser, which rejects it as too short.
    EXPECT_EQ(r.sectionCount, exifTag ? 2 : 1);
    EXPECT_FALSE(r.info.HasExif);
    EXPECT_EQ(r.lastError, exifTag ? errors::kIncorrectHeader : "");
  }
}

TEST(App1, FailedExifSectionDoesNotStopTheScan) {
  const Bytes badOrder = {'E', 'x', 'i', 'f', 0, 0, 'X', 'X', 0, 42, 0, 0, 0, 8, 0, 0};
  const ScanResult r = ScanJpeg(JpegBuilder().Soi().Segment(0xE1, badOrder).BaselineFrame(10, 20).StartOfScan().Build());
  EXPECT_TRUE(r.reachedScan);
  EXPECT_FALSE(r.info.HasExif);
  EXPECT_EQ(r.lastError, errors::kInvalidAlignment);
  EXPECT_EQ(r.info.Width, 20);
}

TEST(App1, LastExifSectionDecidesHasExif) {
  TiffBuilder good(ByteOrder::kBig);
  good.Directory().Ascii(0x010F, "Maker");
  const Bytes bad = {'E', 'x', 'i', 'f', 0, 0, 'M', 'M', 0, 41, 0, 0, 0, 8, 0, 0};
  const ScanResult r = ScanJpeg(JpegBuilder().Soi().App1Exif(good.Build()).Segment(0xE1, bad).StartOfScan().Build());
  EXPECT_FALSE(r.info.HasExif);
  EXPECT_EQ(std::string(r.info.CameraMake), "Maker");
  const ScanResult again = ScanJpeg(JpegBuilder().Soi().Segment(0xE1, bad).App1Exif(good.Build()).StartOfScan().Build());
  EXPECT_TRUE(again.info.HasExif);
}

// Every prefix of a valid stream ends cleanly, and keeps what its complete sections gave.
TEST(Scanner, EveryPrefixOfAValidStreamEndsCleanly) {
  TiffBuilder tiff(ByteOrder::kLittle);
  tiff.Directory().Ascii(0x010F, "Maker").Short(0x0112, 6);
  const Bytes jpeg = JpegBuilder().Soi().App1Exif(tiff.Build()).Comment("note").BaselineFrame(48, 64).QuantTable().StartOfScan().Build();
  for (size_t n = 0; n < jpeg.size(); ++n) {
    const ScanResult r = ScanJpeg(Bytes(jpeg.begin(), jpeg.begin() + static_cast<long>(n)));
    EXPECT_FALSE(r.reachedScan) << n;
    if (n < 2) {
      EXPECT_EQ(r.lastError, "") << n;
    } else {
      EXPECT_FALSE(r.lastError.empty()) << n;
    }
  }
  EXPECT_TRUE(ScanJpeg(jpeg).reachedScan);
}

}  // namespace
