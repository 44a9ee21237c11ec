// SPDX-License-Identifier: MIT
// The values beyond the report: read in both byte orders, absent rather than wrong on bad input,
// and never a cause of any change in what the report's walk reads.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <ctime>
#include <memory>
#include <utility>
#include <string>

#include "exif/extra_values.h"
#include "read_helpers.h"
#include "tag_ids.h"

using namespace testing_builders;
using exifinfo::FinishedExtras;

namespace {

struct Read {
  ExifResult walk;
  FinishedExtras extras;
};

// Parses the section and finishes the extra values while the section's bytes live.
Read ReadExtras(const Bytes& tiff) {
  Read r;
  Bytes contents = ExifContents(tiff);
  r.walk.info = exifinfo::ImageInfo{};
  exifinfo::ExifReader reader(&r.walk.info);
  r.walk.ok = reader.ParseExifSection({contents.data(), contents.size()});
  r.walk.lastError = reader.lastError();
  r.walk.thumbnailOffset = r.walk.info.ThumbnailStart != nullptr ? reader.thumbnailOffset() : -1;
  r.walk.info.ThumbnailStart = nullptr;
  exifinfo::FinishExtras(reader.extras(), r.walk.info, r.extras);
  return r;
}

// A camera-like block: IFD0 (make, software, date, EXIF and GPS links, thumbnail in IFD1), the
// EXIF directory and a GPS directory, here at 47 deg 36' 58.02" S, 122 deg 19' 55.08" W, 12.5 m below.
TiffBuilder CameraBlock(ByteOrder order) {
  TiffBuilder tiff(order);
  tiff.Directory().Ascii(kMake, "Maker").Ascii(kSoftware, "Firmware 1.0  ").Ascii(kModifyDate, "2019:05:03 15:00:00")
      .Link(kExifDir, 1).Link(kGpsDir, 2).NextDirectory(3);
  tiff.Directory().Ascii(kDateTime, "2019:05:03 14:22:11").Ascii(kSubSecTimeOriginal, "42")
      .Ascii(kOffsetTimeOriginal, "+02:00").Short(kIso, 65535).Long(kIsoSpeed, 102400).Short(kFocal35, 28)
      .Rationals(kLensSpec, {{24, 1}, {70, 1}, {28, 10}, {0, 0}}).Ascii(kLensModel, "Zoom 24-70");
  tiff.Directory().Ascii(kLatRef, "S").Rationals(kLat, {{47, 1}, {36, 1}, {5802, 100}})
      .Ascii(kLonRef, "W").Rationals(kLon, {{122, 1}, {19, 1}, {5508, 100}})
      .Byte(kAltRef, 1).Rationals(kAlt, {{125, 10}}).Rationals(kImgDirection, {{1805, 10}})
      .Rationals(kTimeStamp, {{12, 1}, {22, 1}, {1142, 100}}).Ascii(kDateStamp, "2019:05:03");
  tiff.Directory().Long(0x0201, 0).Long(0x0202, 0);
  return tiff;
}

class ExtrasInBothOrders : public ::testing::TestWithParam<ByteOrder> {};
INSTANTIATE_TEST_SUITE_P(Exif, ExtrasInBothOrders, ::testing::Values(ByteOrder::kLittle, ByteOrder::kBig),
                         [](const auto& info) { return info.param == ByteOrder::kBig ? "MM" : "II"; });

TEST_P(ExtrasInBothOrders, ACameraBlockGivesEveryValue) {
  const Read r = ReadExtras(CameraBlock(GetParam()).Build());
  ASSERT_TRUE(r.walk.ok) << r.walk.lastError;
  const FinishedExtras& e = r.extras;
  EXPECT_STREQ(e.texts[exifinfo::kSoftware], "Firmware 1.0");  // trailing blanks trimmed
  EXPECT_STREQ(e.texts[exifinfo::kModifyDate], "2019:05:03 15:00:00");
  EXPECT_STREQ(e.texts[exifinfo::kLensModel], "Zoom 24-70");
  EXPECT_STREQ(e.captureTime, "2019-05-03T14:22:11.42+02:00");
  EXPECT_STREQ(e.gpsDateTime, "2019-05-03T12:22:11.42Z");
  EXPECT_EQ(e.ints[exifinfo::kIso], 102400);  // 65535 in 0x8827: the real value is 0x8833's
  EXPECT_EQ(e.ints[exifinfo::kFocalLengthIn35mmFormat], 28);
  EXPECT_EQ(e.ints[exifinfo::kColorSpace], exifinfo::kAbsentInt);
  EXPECT_DOUBLE_EQ(e.doubles[exifinfo::kGpsLatitude], -(47 + 36 / 60.0 + 58.02 / 3600));
  EXPECT_DOUBLE_EQ(e.doubles[exifinfo::kGpsLongitude], -(122 + 19 / 60.0 + 55.08 / 3600));
  EXPECT_DOUBLE_EQ(e.doubles[exifinfo::kGpsAltitude], -12.5);
  EXPECT_DOUBLE_EQ(e.doubles[exifinfo::kGpsImgDirection], 180.5);
  EXPECT_EQ(e.hasGps, 1);
  EXPECT_DOUBLE_EQ(e.doubles[exifinfo::kLensMaxFocalLength], 70);
  EXPECT_DOUBLE_EQ(e.doubles[exifinfo::kLensMinFNumber], 2.8);
  EXPECT_TRUE(std::isnan(e.doubles[exifinfo::kLensMaxFNumber]));  // 0/0: unknown
}

// Each GPS directory is damaged in one way; each value it spoils is absent, never 0.
TEST_P(ExtrasInBothOrders, BadGpsValuesAreAbsent) {
  const struct {
    const char* name;
    std::vector<std::pair<uint32_t, uint32_t>> latitude;
    const char* latitudeRef;
    bool latitudeUsable;
  } cases[] = {
      {"ZeroDenominator", {{47, 0}, {36, 1}, {0, 1}}, "N", false},
      {"NoHemisphere", {{47, 1}, {36, 1}, {0, 1}}, "X", false},
      {"MissingHemisphere", {{47, 1}, {36, 1}, {0, 1}}, nullptr, false},
      {"PastTheRange", {{91, 1}, {0, 1}, {0, 1}}, "N", false},
      {"HugeMinutes", {{10, 1}, {4000000000u, 1}, {0, 1}}, "N", false},
      {"TwoComponents", {{47, 1}, {36, 1}}, "N", false},
      {"LongReferenceText", {{47, 1}, {30, 1}, {0, 1}}, "North and then a good deal more text", true},
      {"Fine", {{47, 1}, {30, 1}, {0, 1}}, "N", true},
  };
  for (const auto& c : cases) {
    TiffBuilder tiff(GetParam());
    tiff.Directory().Link(kGpsDir, 1);
    auto& gps = tiff.Directory().Rationals(kLat, c.latitude).Ascii(kLonRef, "E").Rationals(kLon, {{0, 1}, {0, 1}, {0, 1}});
    if (c.latitudeRef != nullptr) gps.Ascii(kLatRef, c.latitudeRef);
    const FinishedExtras e = ReadExtras(tiff.Build()).extras;
    EXPECT_EQ(!std::isnan(e.doubles[exifinfo::kGpsLatitude]), c.latitudeUsable) << c.name;
    EXPECT_EQ(e.doubles[exifinfo::kGpsLongitude], 0.0) << c.name;  // 0 deg E is a place
    EXPECT_EQ(e.hasGps, c.latitudeUsable ? 1 : 0) << c.name;
  }
}

// A GPS link that loops, overlaps the EXIF directory, points at IFD0, past the block or into the
// middle of an entry: the report's values, HasExif, the thumbnail and LastError are those of the
// same block without the link.
TEST_P(ExtrasInBothOrders, NoGpsLinkChangesTheWalk) {
  const auto build = [&](int gpsTarget, uint32_t rawTarget) {
    TiffBuilder tiff(GetParam());
    // The GPS link stands before the EXIF link: walked at once, it would take the EXIF directory.
    auto& ifd0 = tiff.Directory().Ascii(kMake, "Maker");
    if (gpsTarget != TiffBuilder::kNoLink) ifd0.Link(kGpsDir, gpsTarget);
    if (rawTarget != 0) ifd0.RawEntry(kGpsDir, 4, 1, rawTarget);
    ifd0.Link(kExifDir, 1).NextDirectory(2);
    tiff.Directory().Short(kIso, 100).Ascii(kDateTime, "2001:02:03 04:05:06").Link(kExifDir, 1);
    tiff.Directory().Long(0x0201, 0).Long(0x0202, 0);
    return tiff.Build();
  };
  const Read plain = ReadExtras(build(TiffBuilder::kNoLink, 0));
  const std::string expected = ReportText(plain.walk.info) + plain.walk.lastError;
  for (const auto& [target, raw] : std::vector<std::pair<int, uint32_t>>{
           {1, 0}, {0, 0}, {TiffBuilder::kSelf, 0}, {TiffBuilder::kNoLink, 0xFFFFFFF0u}, {TiffBuilder::kNoLink, 9}}) {
    const Read r = ReadExtras(build(target, raw));
    EXPECT_EQ(r.walk.ok, plain.walk.ok) << target << "/" << raw;
    EXPECT_EQ(ReportText(r.walk.info) + r.walk.lastError, expected) << target << "/" << raw;
    EXPECT_EQ(r.walk.thumbnailOffset, plain.walk.thumbnailOffset) << target << "/" << raw;
    EXPECT_EQ(r.extras.hasGps, 0);
  }
}

TEST(Extras, DerivedTimesNeedValidParts) {
  const struct {
    const char* date;
    const char* subSec;
    const char* offset;
    const char* expected;
  } cases[] = {
      {"2019:05:03 14:22:11", "", "", "2019-05-03T14:22:11"},
      {"2019:05:03 14:22:11", "007", "-05:30", "2019-05-03T14:22:11.007-05:30"},
      {"2019:05:03 14:22:11", "4x", "+2", "2019-05-03T14:22:11"},  // unusable parts are left out
      {"2019:13:03 14:22:11", "", "", ""},
      {"    :  :     :  :  ", "", "", ""},
      {"2019:05:03 24:00:00", "", "", ""},
  };
  for (const auto& c : cases) {
    TiffBuilder tiff(ByteOrder::kLittle);
    auto& ifd0 = tiff.Directory().Ascii(kDateTime, c.date);
    if (*c.subSec) ifd0.Ascii(kSubSecTimeOriginal, c.subSec);
    if (*c.offset) ifd0.Ascii(kOffsetTimeOriginal, c.offset);
    EXPECT_STREQ(ReadExtras(tiff.Build()).extras.captureTime, c.expected) << c.date << c.subSec << c.offset;
  }
}

TEST(Extras, TextsAreBoundedCutAtANulAndAtACharacterBoundary) {
  const std::string euro = "\xE2\x82\xAC";  // 3 bytes of UTF-8
  std::string longText;
  while (longText.size() < 1100) longText += euro;
  TiffBuilder tiff(ByteOrder::kBig);
  tiff.Directory().Ascii(kSoftware, longText).Ascii(kModifyDate, std::string("2020\0tail", 9)).Ascii(kLensModel, "");
  const FinishedExtras e = ReadExtras(tiff.Build()).extras;
  EXPECT_EQ(e.textLengths[exifinfo::kSoftware], 1023u - 1023u % 3);  // whole characters only
  EXPECT_EQ(std::string(e.texts[exifinfo::kSoftware]).substr(0, 3), euro);
  EXPECT_STREQ(e.texts[exifinfo::kModifyDate], "2020");
  EXPECT_STREQ(e.texts[exifinfo::kLensModel], "");
}

// A value kept away from its entry is no value when its bytes are the block's header or its own
// directory's table (count, entries, link): such an entry is passed over and the walk goes on.
// IFD0 is at 8 with three entries (to 50), its Make at 50 (17 bytes), the EXIF directory at 67
// with one entry (to 85).
TEST(Extras, AValueInsideTheStructureIsPassedOver) {
  const struct {
    const char* name;
    uint32_t descriptionAt, descriptionCount, exposureAt;
    bool present;
  } cases[] = {
      {"after the directories", 50, 17, 50, true},
      {"the header", 2, 6, 4, false},
      {"the directory's count", 8, 6, 67, false},
      {"an entry", 22, 11, 71, false},
      {"the link", 46, 5, 81, false},
      {"running into the table", 44, 10, 62, false},
  };
  for (const auto& c : cases) {
    for (const ByteOrder order : {ByteOrder::kLittle, ByteOrder::kBig}) {
      TiffBuilder tiff(order);
      tiff.Directory().Ascii(kMake, "Maker of cameras").RawEntry(0x010E, 2, c.descriptionCount, c.descriptionAt).Link(kExifDir, 1);
      tiff.Directory().RawEntry(kExposureTime, 5, 1, c.exposureAt);
      const FinishedExtras e = ReadExtras(tiff.Build()).extras;
      EXPECT_STREQ(e.texts[exifinfo::kMake], "Maker of cameras") << c.name;
      EXPECT_EQ(e.textPresent[exifinfo::kImageDescription], c.present) << c.name;
      EXPECT_STREQ(e.texts[exifinfo::kImageDescription], c.present ? "Maker of cameras" : "") << c.name;
      EXPECT_EQ(!std::isnan(e.doubles[exifinfo::kExposureTime]), c.present) << c.name;
    }
  }
}

}  // namespace

namespace {

// A video's movie-header times against the C library's calendar, over two centuries in steps
// that land on every month, leap days and every hour of the day; 0 and times past the year
// 9999 are absent.
TEST(MovieTimes, MatchTheCalendarAndAreAbsentWhenZeroOrPastTheYear9999) {
  constexpr int64_t k1904 = -2082844800;  // 1904-01-01 in seconds since 1970
  const auto finish = [](uint64_t created) {
    exifinfo::ExtraValues raw;
    raw.movieCreated = created;
    auto out = std::make_unique<FinishedExtras>();
    exifinfo::FinishExtras(raw, exifinfo::ImageInfo{}, *out);
    return std::make_pair(std::string(out->texts[exifinfo::kCreateDate]), std::string(out->captureTime));
  };
  for (uint64_t seconds = 1; seconds < uint64_t{7} << 30; seconds += 3203 * 1001 + 7) {
    const time_t unix = static_cast<time_t>(static_cast<int64_t>(seconds) + k1904);
    tm utc{};
    ASSERT_NE(gmtime_r(&unix, &utc), nullptr);
    char exif[32], iso[32];
    std::strftime(exif, sizeof exif, "%Y:%m:%d %H:%M:%S", &utc);
    std::strftime(iso, sizeof iso, "%Y-%m-%dT%H:%M:%SZ", &utc);
    ASSERT_EQ(finish(seconds), std::make_pair(std::string(exif), std::string(iso))) << seconds;
  }
  EXPECT_EQ(finish(255485145599), std::make_pair(std::string("9999:12:31 23:59:59"), std::string("9999-12-31T23:59:59Z")));
  for (const uint64_t absent : {uint64_t{0}, uint64_t{255485145600}, UINT64_MAX})
    EXPECT_EQ(finish(absent), std::make_pair(std::string(), std::string())) << absent;
}

}  // namespace
