// SPDX-License-Identifier: MIT
// The EXIF header checks and the walk of the directories.
#include <gtest/gtest.h>

#include <cstring>

#include "exif/errors.h"
#include "read_helpers.h"
#include "tag_ids.h"

namespace errors = exifinfo::errors;
using namespace testing_builders;

namespace {



class WalkInBothOrders : public ::testing::TestWithParam<ByteOrder> {};
INSTANTIATE_TEST_SUITE_P(Exif, WalkInBothOrders, ::testing::Values(ByteOrder::kLittle, ByteOrder::kBig),
                         [](const auto& info) { return info.param == ByteOrder::kBig ? "MM" : "II"; });

exifinfo::ImageInfo Dirty() {
  exifinfo::ImageInfo info{};
  info.FlashUsed = 1;
  std::strcpy(info.Comments, "from a comment section");
  info.CCDWidth = 9.0f;
  return info;
}

struct HeaderCase {
  const char* name;
  Bytes contents;  // the whole APP1 contents
  const char* lastError;
};
// Test names and failures show the case by name (and never the padding bytes).
void PrintTo(const HeaderCase& c, std::ostream* os) { *os << c.name; }

}  // namespace

namespace exifinfo {
// States no file can reach before a section: a byte order and a dimension left by an earlier one.
class ExifReaderProbe {
 public:
  static void Stale(ExifReader& reader, int bigEndian, int largestDimension) {
    reader.BigEndian = bigEndian;
    reader.LargestDimension = largestDimension;
  }
};
}  // namespace exifinfo

namespace {

class HeaderChecks : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(HeaderChecks, RejectAfterTheResets) {
  Bytes contents = GetParam().contents;
  exifinfo::ImageInfo info = Dirty();
  exifinfo::ExifReader reader(&info);
  exifinfo::ExifReaderProbe::Stale(reader, 1, 5);
  EXPECT_FALSE(reader.ParseExifSection({contents.data(), contents.size()}));
  EXPECT_EQ(std::string(reader.lastError()), GetParam().lastError);
  EXPECT_EQ(info.FlashUsed, 0);
  EXPECT_EQ(info.Comments[0], '\0');
  EXPECT_EQ(reader.largestDimension(), 0);
  EXPECT_EQ(info.CCDWidth, 9.0f);  // not derived for a rejected section
}

Bytes Header(const char* order, Bytes rest) {
  Bytes out = {'E', 'x', 'i', 'f', 0, 0, static_cast<uint8_t>(order[0]), static_cast<uint8_t>(order[1])};
  out.insert(out.end(), rest.begin(), rest.end());
  return out;
}

INSTANTIATE_TEST_SUITE_P(
    Exif, HeaderChecks,
    ::testing::Values(HeaderCase{"ThirteenBytes", Header("II", {42, 0, 8, 0, 0}), errors::kIncorrectHeader},
                      HeaderCase{"Empty", {}, errors::kIncorrectHeader},
                      HeaderCase{"SecondZeroMissing", {'E', 'x', 'i', 'f', 0, 1, 'I', 'I', 42, 0, 8, 0, 0, 0, 0, 0}, errors::kIncorrectHeader},
                      HeaderCase{"BadOrderMark", Header("IM", {42, 0, 8, 0, 0, 0, 0, 0}), errors::kInvalidAlignment},
                      HeaderCase{"MagicNot42", Header("II", {43, 0, 8, 0, 0, 0, 0, 0}), errors::kInvalidStart},
                      HeaderCase{"MagicInTheOtherOrder", Header("MM", {42, 0, 0, 0, 0, 8, 0, 0}), errors::kInvalidStart},
                      HeaderCase{"FirstOffset7", Header("II", {42, 0, 7, 0, 0, 0, 0, 0}), errors::kSuspiciousOffset},
                      HeaderCase{"FirstOffset17", Header("MM", {0, 42, 0, 0, 0, 17, 0, 0}), errors::kSuspiciousOffset},
                      HeaderCase{"FirstOffsetNegative", Header("MM", {0, 42, 0xFF, 0xFF, 0xFF, 0xF8, 0, 0}), errors::kSuspiciousOffset},
                      // Fourteen bytes: the headers pass and the first directory does not fit.
                      HeaderCase{"FourteenBytes", Header("II", {42, 0, 8, 0, 0, 0}), errors::kIllegalDirectorySize}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Header, BadOrderMarkLeavesTheByteOrderAlone) {
  Bytes contents = Header("XY", {42, 0, 8, 0, 0, 0, 0, 0});
  exifinfo::ImageInfo info{};
  exifinfo::ExifReader reader(&info);
  exifinfo::ExifReaderProbe::Stale(reader, 1, 0);
  reader.ParseExifSection({contents.data(), contents.size()});
  EXPECT_TRUE(reader.bigEndian());
}

TEST_P(WalkInBothOrders, FirstDirectoryIsReadAtEightWhateverTheOffsetSays) {
  for (const uint32_t offset : {8u, 10u, 16u}) {
    TiffBuilder tiff(GetParam());
    tiff.FirstDirectoryAt(offset).Directory().Ascii(kMake, "Maker");
    const ExifResult r = ParseTiff(tiff.Build());
    EXPECT_TRUE(r.ok) << offset;
    EXPECT_EQ(std::string(r.info.CameraMake), "Maker");
  }
}

struct WalkFailure {
  const char* name;
  Bytes tiff;
  const char* lastError;
  bool makeStored = true;  // the entry before the fault was stored
};

TiffBuilder WithMakeFirst(ByteOrder order) {
  TiffBuilder tiff(order);
  tiff.Directory().Ascii(kMake, "Stored");
  return tiff;
}

std::vector<WalkFailure> FailureRows(ByteOrder o) {
  std::vector<WalkFailure> rows;
  {
    TiffBuilder t(o);
    t.Directory().Ascii(kMake, "Stored").DeclaredCount(3);
    rows.push_back({"CountOverrunsTheBlock", t.Build(), errors::kIllegalDirectorySize, false});
  }
  {
    TiffBuilder t(o);
    t.Directory().DeclaredCount(65535);
    rows.push_back({"Count65535", t.Build(), errors::kIllegalDirectorySize, false});
  }
  {
    TiffBuilder t = WithMakeFirst(o);
    t.Directory();  // unused: only the first directory is walked
    Bytes b = t.Build();
    b.resize(9);  // one byte of the count
    rows.push_back({"OneByteAtTheDirectory", b, errors::kIllegalDirectorySize, false});
  }
  for (const uint16_t format : {uint16_t{13}, uint16_t{14}, uint16_t{0xFFFF}}) {
    TiffBuilder t(o);
    t.Directory().Ascii(kMake, "Stored").RawEntry(kOrientation, format, 1, 3).Ascii(kModel, "NotReached");
    rows.push_back({"IllegalFormat", t.Build(), errors::kIllegalFormat});
  }
  {
    TiffBuilder t(o);
    t.Directory().Ascii(kMake, "Stored").RawEntry(kModel, 2, 20, 0xFFFFFFF0u);
    rows.push_back({"ValueOffsetNear2To32", t.Build(), errors::kIllegalValueOffset});
  }
  {
    TiffBuilder t(o);
    t.Directory().Ascii(kMake, "Stored").RawEntry(0x011A, 5, 0xFFFFFFFFu, 8);  // 34 GB of rationals
    rows.push_back({"ByteCountPast32Bits", t.Build(), errors::kIllegalValueOffset});
  }
  {
    TiffBuilder t(o);
    t.Directory().Ascii(kMake, "Stored").RawEntry(kModel, 2, 10, 0).WithoutLink();
    Bytes b = t.Build();
    // Value of 10 bytes starting 9 bytes before the end: one byte over.
    SetU32(b, 8 + 2 + 12 + 8, static_cast<uint32_t>(b.size() - 9), o);  // the second entry's value
    rows.push_back({"ValueOneByteOver", b, errors::kIllegalValueOffset});
  }
  {
    TiffBuilder t(o);
    t.Directory().Ascii(kMake, "Stored").RawEntry(kExifDir, 4, 1, 0x7FFFFFFF).Ascii(kModel, "NotReached");
    rows.push_back({"SubdirectoryLinkOutside", t.Build(), errors::kIllegalLink});
  }
  {
    TiffBuilder t(o);
    t.Directory().Ascii(kMake, "Stored").RawNext(0xFFFFFFFF);
    rows.push_back({"NextLinkOutside", t.Build(), errors::kIllegalLink});
  }
  return rows;
}

TEST_P(WalkInBothOrders, FailuresInTheFirstDirectoryRejectTheSectionAndKeepWhatWasStored) {
  for (const WalkFailure& row : FailureRows(GetParam())) {
    const ExifResult r = ParseTiff(row.tiff);
    EXPECT_FALSE(r.ok) << row.name;
    EXPECT_EQ(r.lastError, row.lastError) << row.name;
    EXPECT_EQ(std::string(r.info.CameraMake), row.makeStored ? "Stored" : "") << row.name;
    EXPECT_EQ(std::string(r.info.CameraModel), "") << row.name;
  }
}

TEST_P(WalkInBothOrders, FailureInALinkedDirectoryEndsOnlyThatDirectory) {
  TiffBuilder t(GetParam());
  t.Directory().Ascii(kMake, "Parent").Link(kExifDir, 1).Ascii(kModel, "AfterTheLink").NextDirectory(2);
  t.Directory().Short(kOrientation, 3).RawEntry(kIso, 14, 1, 100).Short(0x8822, 2);
  t.Directory().Short(0x9207, 5);
  const ExifResult r = ParseTiff(t.Build());
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.lastError, errors::kIllegalFormat);
  EXPECT_EQ(r.info.Orientation, 3);
  EXPECT_EQ(r.info.ExposureProgram, 0);  // after the bad entry
  EXPECT_EQ(std::string(r.info.CameraModel), "AfterTheLink");
  EXPECT_EQ(r.info.MeteringMode, 5);     // the next directory is still walked
}

TEST_P(WalkInBothOrders, ValuesThatEndExactlyAtTheBlockEndAreRead) {
  TiffBuilder t(GetParam());
  t.Directory().Ascii(kModel, "Exactly at the end");
  const Bytes block = t.Build();  // the out-of-line text is the block's last bytes
  const ExifResult r = ParseTiff(block);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(std::string(r.info.CameraModel), "Exactly at the end");
}

TEST_P(WalkInBothOrders, FormatZeroIsLegalWithByteCountZero) {
  TiffBuilder t(GetParam());
  t.Directory().RawEntry(kIso, 0, 0xFFFFFFFF, 0xFFFFFFFF).Short(kOrientation, 2);
  const ExifResult r = ParseTiff(t.Build());
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.info.ISOequivalent, 0);  // value 0, then the low-ISO rule: 0 x 200
  EXPECT_EQ(r.info.Orientation, 2);
}

TEST_P(WalkInBothOrders, LinksEqualToTheBlockSizeAreAcceptedAndFailThere) {
  TiffBuilder t(GetParam());
  t.Directory().Ascii(kMake, "M").RawEntry(kExifDir, 4, 1, 0).Ascii(kModel, "After");
  Bytes block = t.Build();
  SetU32(block, 8 + 2 + 12 + 8, static_cast<uint32_t>(block.size()), GetParam());
  const ExifResult r = ParseTiff(block);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.lastError, errors::kIllegalDirectorySize);
  EXPECT_EQ(std::string(r.info.CameraModel), "After");
}

TEST_P(WalkInBothOrders, NextLinkRunningPastTheBlockReadsAsNoLink) {
  TiffBuilder inlineOnly(GetParam());
  inlineOnly.Directory().Short(kOrientation, 5).WithoutLink();
  Bytes b = inlineOnly.Build();
  b.push_back(0);  // two of the link's four bytes
  b.push_back(0);
  const ExifResult r = ParseTiff(b);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.lastError, "");
  EXPECT_EQ(r.info.Orientation, 5);
}

// Loops and depth: every walk ends, and each directory is walked once.
TEST_P(WalkInBothOrders, DirectoryLinkingToItselfIsWalkedOnce) {
  TiffBuilder t(GetParam());
  t.Directory().Ascii(kMake, "Maker").NextDirectory(TiffBuilder::kSelf);
  const ExifResult r = ParseTiff(t.Build());
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(std::string(r.info.CameraMake), "Maker");
  EXPECT_EQ(r.directoriesWalked, 1u);
  EXPECT_EQ(r.lastError, errors::kDirectoryRevisited);
}

TEST_P(WalkInBothOrders, MutualLinksAndLinksBackToTheFirstDirectoryEnd) {
  TiffBuilder t(GetParam());
  t.Directory().Link(kExifDir, 1).NextDirectory(2);
  t.Directory().Link(kInteropDir, 0).Short(kOrientation, 4);  // back to the first directory
  t.Directory().Link(kExifDir, 3).Short(0x9207, 2);
  t.Directory().Link(kExifDir, 2);                            // and back to its parent
  const ExifResult r = ParseTiff(t.Build());
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.info.Orientation, 4);
  EXPECT_EQ(r.info.MeteringMode, 2);
  EXPECT_EQ(r.directoriesWalked, 4u);
}

TEST_P(WalkInBothOrders, ManyEntriesToOneSubdirectoryWalkItOnce) {
  TiffBuilder t(GetParam());
  TiffBuilder::Dir& first = t.Directory();
  for (int i = 0; i < 1000; ++i) first.Link(kExifDir, 1);
  t.Directory().Short(kOrientation, 7);
  const ExifResult r = ParseTiff(t.Build());
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.info.Orientation, 7);
  EXPECT_EQ(r.directoriesWalked, 2u);  // as for a single link
}

// Each directory of a chain stores its depth in the ISO field: the last one stored tells how
// deep the walk went.
ExifResult Chain(ByteOrder order, int directories, bool bySubdirectory) {
  TiffBuilder t(order);
  for (int i = 0; i < directories; ++i) {
    TiffBuilder::Dir& d = t.Directory().Short(kIso, static_cast<uint16_t>(100 + i));
    if (i + 1 == directories) continue;
    if (bySubdirectory) {
      d.Link(kExifDir, i + 1);
    } else {
      d.NextDirectory(i + 1);
    }
  }
  return ParseTiff(t.Build());
}

TEST_P(WalkInBothOrders, NestingStopsAtThirtyTwoDirectories) {
  for (const bool bySubdirectory : {false, true}) {
    const ExifResult deep = Chain(GetParam(), 40, bySubdirectory);
    EXPECT_TRUE(deep.ok);
    EXPECT_EQ(deep.directoriesWalked, 32u);
    EXPECT_EQ(deep.info.ISOequivalent, 131);  // depth 32 is the 32nd directory
    EXPECT_EQ(deep.lastError, errors::kDirectoryRevisited);
    const ExifResult exact = Chain(GetParam(), 32, bySubdirectory);
    EXPECT_EQ(exact.directoriesWalked, 32u);
    EXPECT_EQ(exact.lastError, "");
  }
}

TEST_P(WalkInBothOrders, LoopsAreCutPastTheFirstSixteenDirectoriesToo) {
  // Twenty directories in a chain whose last one links back to the fourth: more offsets than
  // the walk keeps inline, so the loop is caught by the full bitmap.
  TiffBuilder t(GetParam());
  for (int i = 0; i < 20; ++i) t.Directory().Short(kIso, static_cast<uint16_t>(100 + i)).NextDirectory(i + 1 < 20 ? i + 1 : 3);
  const ExifResult r = ParseTiff(t.Build());
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.directoriesWalked, 20u);
  EXPECT_EQ(r.info.ISOequivalent, 119);
  EXPECT_EQ(r.lastError, errors::kDirectoryRevisited);
}

TEST_P(WalkInBothOrders, ThumbnailNeedsBothTagsInOneDirectoryInsideTheBlock) {
  struct Row {
    const char* name;
    uint32_t offset, length;
    bool recorded;
  };
  for (const Row& row : {Row{"Inside", 8, 20, true}, Row{"OffsetZero", 0, 20, false}, Row{"LengthZero", 8, 0, false},
                         Row{"PastTheEnd", 8, 5000, false}, Row{"Wraps", 0xFFFFFFF0u, 0x20, false}}) {
    TiffBuilder t(GetParam());
    t.Directory().Ascii(kMake, "M").NextDirectory(1);
    t.Directory().Long(kThumbOffset, row.offset).Long(kThumbLength, row.length).Short(0x0103, 6);
    const ExifResult r = ParseTiff(t.Build());
    EXPECT_TRUE(r.ok) << row.name;
    EXPECT_EQ(r.thumbnailOffset, row.recorded ? int64_t{row.offset} : -1) << row.name;
    EXPECT_EQ(r.info.ThumbnailLength, row.recorded ? row.length : 0u) << row.name;
  }
  TiffBuilder split(GetParam());
  split.Directory().Long(kThumbOffset, 8).NextDirectory(1);
  split.Directory().Long(kThumbLength, 4);
  EXPECT_EQ(ParseTiff(split.Build()).thumbnailOffset, -1);
}

TEST_P(WalkInBothOrders, CcdWidthFromTheLargestPixelDimensionAndFocalPlane) {
  TiffBuilder t(GetParam());
  t.Directory().Link(kExifDir, 1);
  t.Directory().Long(kPixelX, 1600).Short(kPixelY, 1200).Rational(kFocalPlaneX, 2000, 1).Short(kFocalPlaneUnit, 3);
  const ExifResult r = ParseTiff(t.Build());
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.largestDimension, 1600);
  EXPECT_EQ(r.info.CCDWidth, (static_cast<float>(1.0 / 2.54) / 2000.0f) * 1600.0f);
  EXPECT_EQ(ReportLine(ReportText(r.info), "CCDWidth"), "0.314961");
}

TEST_P(WalkInBothOrders, CcdWidthKeepsItsValueWithoutFocalPlaneResolution) {
  TiffBuilder t(GetParam());
  t.Directory().Long(kPixelX, 1600).Short(kFocalPlaneUnit, 2);
  exifinfo::ImageInfo start{};
  start.CCDWidth = 0.5f;
  EXPECT_EQ(ParseTiff(t.Build(), start).info.CCDWidth, 0.5f);
}

TEST_P(WalkInBothOrders, CcdWidthOfInfinityTimesZeroIsZero) {
  TiffBuilder t(GetParam());
  // The smallest subnormal resolution: the quotient overflows to infinity, and no pixel
  // dimension was given.
  t.Directory().Float(kFocalPlaneX, 1e-45f).Short(kFocalPlaneUnit, 2);
  exifinfo::ImageInfo start{};
  start.CCDWidth = 0.5f;
  const ExifResult r = ParseTiff(t.Build(), start);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.info.CCDWidth, 0.0f);
}

TEST_P(WalkInBothOrders, PixelDimensionsKeepTheLargestAndSaturate) {
  TiffBuilder t(GetParam());
  t.Directory().Long(kPixelX, 640).Long(kPixelY, 4000).Long(kPixelX, 800).SLong(kPixelY, -5);
  EXPECT_EQ(ParseTiff(t.Build()).largestDimension, 4000);
  TiffBuilder huge(GetParam());
  huge.Directory().Long(kPixelX, 0xFFFFFFFF);
  EXPECT_EQ(ParseTiff(huge.Build()).largestDimension, INT32_MAX);
}

}  // namespace
