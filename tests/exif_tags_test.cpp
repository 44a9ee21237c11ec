// SPDX-License-Identifier: MIT
// The tag table: what each entry stores, in both byte orders.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>

#include "exif/errors.h"
#include "read_helpers.h"
#include "tag_ids.h"

namespace errors = exifinfo::errors;
using namespace testing_builders;
using Dir = TiffBuilder::Dir;
using exifinfo::ImageInfo;

namespace {

uint32_t Bits(float f) {
  uint32_t bits;
  std::memcpy(&bits, &f, 4);
  return bits;
}

struct TagCase {
  const char* name;
  std::function<void(Dir&)> entries;
  std::function<void(const ImageInfo&)> check;
};
// Test names and failures show the case by name (and never the padding bytes).
void PrintTo(const TagCase& c, std::ostream* os) { *os << c.name; }

class Tags : public ::testing::TestWithParam<std::tuple<TagCase, ByteOrder>> {};

TEST_P(Tags, StoreTheirField) {
  const auto& [c, order] = GetParam();
  TiffBuilder tiff(order);
  c.entries(tiff.Directory());
  const ExifResult r = ParseTiff(tiff.Build());
  ASSERT_TRUE(r.ok) << r.lastError;
  c.check(r.info);
}

constexpr float kInfF = std::numeric_limits<float>::infinity();

const TagCase kTagCases[] = {
    {"Make", [](Dir& d) { d.Ascii(kMake, "Canon"); }, [](const ImageInfo& i) { EXPECT_STREQ(i.CameraMake, "Canon"); }},
    {"MakeCutAt31", [](Dir& d) { d.Ascii(kMake, std::string(40, 'M')); },
     [](const ImageInfo& i) { EXPECT_EQ(std::string(i.CameraMake), std::string(31, 'M')); }},
    {"ModelCutAt39", [](Dir& d) { d.Ascii(kModel, std::string(39, 'a') + "bcd"); },
     [](const ImageInfo& i) { EXPECT_EQ(std::string(i.CameraModel), std::string(39, 'a')); }},
    {"TextIgnoresTheDeclaredCount", [](Dir& d) { d.Entry(kMake, 2, 2, {'A', 'B', 'C', 0}); },
     [](const ImageInfo& i) { EXPECT_STREQ(i.CameraMake, "ABC"); }},
    {"TextOfAnyFormat", [](Dir& d) { d.Entry(kModel, 1, 6, {'B', 'y', 't', 'e', 's', 0}); },
     [](const ImageInfo& i) { EXPECT_STREQ(i.CameraModel, "Bytes"); }},
    {"VersionUndefinedFourBytes", [](Dir& d) { d.Undefined(kVersion, {'0', '2', '2', '1'}); },
     [](const ImageInfo& i) { EXPECT_STREQ(i.Version, "0221"); }},
    {"DateTime", [](Dir& d) { d.Ascii(kDateTime, "2008:05:30 15:56:01"); },
     [](const ImageInfo& i) { EXPECT_STREQ(i.DateTime, "2008:05:30 15:56:01"); }},
    {"Orientation", [](Dir& d) { d.Short(kOrientation, 8); }, [](const ImageInfo& i) { EXPECT_EQ(i.Orientation, 8); }},
    {"XYResolution", [](Dir& d) { d.Rational(kXRes, 300, 1).Rational(kYRes, 144, 2); },
     [](const ImageInfo& i) { EXPECT_EQ(i.Xresolution, 300.0f); EXPECT_EQ(i.Yresolution, 72.0f); }},
    {"ExposureTime", [](Dir& d) { d.Rational(kExposureTime, 1, 100); },
     [](const ImageInfo& i) { EXPECT_EQ(i.ExposureTime, 0.01f); }},
    {"FNumber", [](Dir& d) { d.Rational(kFNumber, 28, 10); }, [](const ImageInfo& i) { EXPECT_EQ(i.ApertureFNumber, 2.8f); }},
    {"ExposureProgram", [](Dir& d) { d.Short(kProgram, 2); }, [](const ImageInfo& i) { EXPECT_EQ(i.ExposureProgram, 2); }},
    {"Iso32Is6400", [](Dir& d) { d.Short(kIso, 32); }, [](const ImageInfo& i) { EXPECT_EQ(i.ISOequivalent, 6400); }},
    {"Iso50Stays", [](Dir& d) { d.Short(kIso, 50); }, [](const ImageInfo& i) { EXPECT_EQ(i.ISOequivalent, 50); }},
    {"Iso49", [](Dir& d) { d.Short(kIso, 49); }, [](const ImageInfo& i) { EXPECT_EQ(i.ISOequivalent, 9800); }},
    {"IsoNegative", [](Dir& d) { d.SLong(kIso, -1); }, [](const ImageInfo& i) { EXPECT_EQ(i.ISOequivalent, -200); }},
    {"IsoProductWraps", [](Dir& d) { d.SLong(kIso, -10737419); },
     [](const ImageInfo& i) { EXPECT_EQ(i.ISOequivalent, 2147483496); }},
    {"IsoMostNegative", [](Dir& d) { d.SLong(kIso, INT32_MIN); }, [](const ImageInfo& i) { EXPECT_EQ(i.ISOequivalent, 0); }},
    {"CompressionTruncates", [](Dir& d) { d.SRational(kCompressed, -29, 10); },
     [](const ImageInfo& i) { EXPECT_EQ(i.CompressionLevel, -2); }},
    {"ShutterSpeedFillsExposureTime", [](Dir& d) { d.SRational(kShutter, 8, 1); },
     [](const ImageInfo& i) { EXPECT_EQ(i.ExposureTime, 0.00390625f); }},
    {"ExposureTimeMetFirstWins", [](Dir& d) { d.Rational(kExposureTime, 1, 100).SRational(kShutter, 8, 1); },
     [](const ImageInfo& i) { EXPECT_EQ(i.ExposureTime, 0.01f); }},
    {"ShutterSpeedOfAsciiIsOne", [](Dir& d) { d.Ascii(kShutter, "fast"); },
     [](const ImageInfo& i) { EXPECT_EQ(i.ExposureTime, 1.0f); }},
    {"HugeShutterSpeedGivesZero", [](Dir& d) { d.Double(kShutter, 1e10); },
     [](const ImageInfo& i) { EXPECT_EQ(i.ExposureTime, 0.0f); }},
    {"HugeNegativeShutterSpeedGivesInfinity", [](Dir& d) { d.Double(kShutter, -1e10); },
     [](const ImageInfo& i) { EXPECT_EQ(i.ExposureTime, kInfF); }},
    {"ApertureFillsFNumber", [](Dir& d) { d.Rational(kAperture, 4, 1); },
     [](const ImageInfo& i) { EXPECT_EQ(i.ApertureFNumber, 4.0f); }},
    {"MaxApertureFillsFNumberLast", [](Dir& d) { d.Rational(kMaxAperture, 2, 1); },
     [](const ImageInfo& i) { EXPECT_EQ(i.ApertureFNumber, 2.0f); }},
    {"ApertureBeforeMaxAperture", [](Dir& d) { d.Rational(kAperture, 4, 1).Rational(kMaxAperture, 2, 1); },
     [](const ImageInfo& i) { EXPECT_EQ(i.ApertureFNumber, 4.0f); }},
    {"ApexInDoublePrecision", [](Dir& d) { d.SRational(kShutter, 1, 3).Rational(kAperture, 1, 3); },
     [](const ImageInfo& i) {
       EXPECT_EQ(Bits(i.ExposureTime), Bits(static_cast<float>(1.0 / std::exp(1.0 / 3.0 * std::log(2.0)))));
       EXPECT_EQ(Bits(i.ApertureFNumber), Bits(static_cast<float>(std::exp(1.0 / 3.0 * std::log(2.0) * 0.5))));
     }},
    {"BrightnessAndBias", [](Dir& d) { d.SRational(kBrightness, -7, 2).SRational(kBias, -1, 3); },
     [](const ImageInfo& i) { EXPECT_EQ(i.Brightness, -3.5f); EXPECT_EQ(i.ExposureBias, static_cast<float>(-1.0 / 3.0)); }},
    {"Distance", [](Dir& d) { d.Rational(kDistance, 5, 2); }, [](const ImageInfo& i) { EXPECT_EQ(i.Distance, 2.5f); }},
    {"MeteringAndLightSource", [](Dir& d) { d.Short(kMetering, 5).Short(kLightSource, 255); },
     [](const ImageInfo& i) { EXPECT_EQ(i.MeteringMode, 5); EXPECT_EQ(i.Whitebalance, 255); }},
    {"Flash0x18", [](Dir& d) { d.Short(kFlash, 0x18); }, [](const ImageInfo& i) { EXPECT_EQ(i.FlashUsed, 0); }},
    {"Flash0x19", [](Dir& d) { d.Short(kFlash, 0x19); }, [](const ImageInfo& i) { EXPECT_EQ(i.FlashUsed, 1); }},
    {"Flash0x10", [](Dir& d) { d.Short(kFlash, 0x10); }, [](const ImageInfo& i) { EXPECT_EQ(i.FlashUsed, 0); }},
    {"Flash0x07", [](Dir& d) { d.Short(kFlash, 0x07); }, [](const ImageInfo& i) { EXPECT_EQ(i.FlashUsed, 1); }},
    {"FocalLength", [](Dir& d) { d.Rational(kFocalLength, 135, 1); },
     [](const ImageInfo& i) { EXPECT_EQ(i.FocalLength, 135.0f); }},
    {"FocalPlane", [](Dir& d) { d.Rational(kFocalPlaneX, 4438, 1).Float(kFocalPlaneY, 1.5f).Short(kFocalPlaneUnit, 4); },
     [](const ImageInfo& i) {
       EXPECT_EQ(i.FocalplaneXRes, 4438.0f); EXPECT_EQ(i.FocalplaneYRes, 1.5f);
       EXPECT_EQ(Bits(i.FocalplaneUnits), 0x3D214285u);
     }},
    {"UnitCodes", [](Dir& d) { d.Short(kResUnit, 3).Short(kFocalPlaneUnit, 5); },
     [](const ImageInfo& i) { EXPECT_EQ(Bits(i.ResolutionUnit), 0x3EC99326u); EXPECT_EQ(Bits(i.FocalplaneUnits), 0x3825214Du); }},
    {"UnknownUnitCodeKeepsTheField", [](Dir& d) { d.Short(kResUnit, 2).Short(kResUnit, 0).Short(kResUnit, 6); },
     [](const ImageInfo& i) { EXPECT_EQ(Bits(i.ResolutionUnit), 0x3F800000u); }},
    {"UnitOfAsciiKeepsTheField", [](Dir& d) { d.Short(kFocalPlaneUnit, 1).Ascii(kFocalPlaneUnit, "3"); },
     [](const ImageInfo& i) { EXPECT_EQ(i.FocalplaneUnits, 1.0f); }},
    {"LaterOccurrenceOverwrites", [](Dir& d) { d.Rational(kXRes, 300, 1).Rational(kXRes, 72, 1); },
     [](const ImageInfo& i) { EXPECT_EQ(i.Xresolution, 72.0f); }},
    {"ZeroDivisorStoresZero", [](Dir& d) { d.Rational(kFocalLength, 50, 0); },
     [](const ImageInfo& i) { EXPECT_EQ(i.FocalLength, 0.0f); }},
    {"NaNStoresZero", [](Dir& d) { d.Double(kDistance, std::numeric_limits<double>::quiet_NaN()).Double(kMetering, std::nan("")); },
     [](const ImageInfo& i) { EXPECT_EQ(Bits(i.Distance), 0u); EXPECT_EQ(i.MeteringMode, 0); }},
    {"HugeDoubles", [](Dir& d) { d.Double(kBrightness, -1e300).Double(kXRes, 1e39).Double(kProgram, 1e300); },
     [](const ImageInfo& i) {
       EXPECT_EQ(i.Brightness, -kInfF); EXPECT_EQ(i.Xresolution, kInfF); EXPECT_EQ(i.ExposureProgram, INT32_MAX);
     }},
    {"UnknownAndStructuralTagsStoreNothing", [](Dir& d) { d.Short(0x0103, 6).Short(0xA001, 1).Long(0x0201, 0); },
     [](const ImageInfo& i) {
       ImageInfo zero{};
       EXPECT_EQ(std::memcmp(&i, &zero, sizeof i), 0);
     }},
};

INSTANTIATE_TEST_SUITE_P(Exif, Tags,
                         ::testing::Combine(::testing::ValuesIn(kTagCases),
                                            ::testing::Values(ByteOrder::kLittle, ByteOrder::kBig)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) == ByteOrder::kBig ? "_MM" : "_II");
                         });

class TagsInBothOrders : public ::testing::TestWithParam<ByteOrder> {};
INSTANTIATE_TEST_SUITE_P(Exif, TagsInBothOrders, ::testing::Values(ByteOrder::kLittle, ByteOrder::kBig),
                         [](const auto& info) { return info.param == ByteOrder::kBig ? "MM" : "II"; });

TEST_P(TagsInBothOrders, OrientationOutOfRangeStoresZeroAndTheWalkGoesOn) {
  for (const auto& entries : std::vector<std::function<void(Dir&)>>{
           [](Dir& d) { d.Short(kOrientation, 9); }, [](Dir& d) { d.Short(kOrientation, 0); },
           [](Dir& d) { d.Ascii(kOrientation, "6"); }, [](Dir& d) { d.Short(kOrientation, 6).Short(kOrientation, 12336); }}) {
    TiffBuilder withNext(GetParam());
    Dir& d = withNext.Directory();
    entries(d);
    d.Short(kMetering, 3);
    const ExifResult r = ParseTiff(withNext.Build());
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.info.Orientation, 0);
    EXPECT_EQ(r.lastError, errors::kUndefinedRotation);
    EXPECT_EQ(r.info.MeteringMode, 3);
  }
}

TEST_P(TagsInBothOrders, FlashIsResetBySectionAndSetOnlyByItsTag) {
  TiffBuilder tiff(GetParam());
  tiff.Directory().Ascii(kMake, "NoFlash");
  ImageInfo start{};
  start.FlashUsed = 1;
  EXPECT_EQ(ParseTiff(tiff.Build(), start).info.FlashUsed, 0);
}

// --- User comment -----------------------------------------------------------------------

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

struct CommentCase {
  const char* name;
  Bytes value;
  std::string comment;
};
// Test names and failures show the case by name (and never the padding bytes).
void PrintTo(const CommentCase& c, std::ostream* os) { *os << c.name; }

class UserComment : public ::testing::TestWithParam<std::tuple<CommentCase, ByteOrder>> {};

TEST_P(UserComment, StoresTheText) {
  const auto& [c, order] = GetParam();
  TiffBuilder tiff(order);
  tiff.Directory().Undefined(kUserComment, c.value).Short(kMetering, 1);  // something after it
  const ExifResult r = ParseTiff(tiff.Build());
  EXPECT_EQ(std::string(r.info.Comments), c.comment);
}

const CommentCase kComments[] = {
    {"AsciiWithText", Text(std::string("ASCII\0\0\0Hello   ", 16)), "Hello"},
    {"AsciiTextStartsAtNine", Text(std::string("ASCII \0 \0Late", 13)), "Late"},
    {"AsciiTextPastNineIsNotLookedFor", Text(std::string("ASCII \0 \0 Late", 14)), ""},
    {"AsciiTextWithinFive", Text(std::string("ASCII\0\0\0\0Five", 13)), "Five"},
    {"UndefinedCodeGivesEmpty", Text(std::string("\0\0\0\0\0\0\0\0Hidden", 14)), ""},
    {"OtherCodeGivesItsName", Text(std::string("UNICODE\0H\0i\0", 12)), "UNICODE"},
    {"NoCodeAtAll", Text("Just text"), "Just text"},
    {"CutAt199", Text(std::string(250, 'c')), std::string(199, 'c')},
    {"AllSpaces", Text("        "), ""},
};

INSTANTIATE_TEST_SUITE_P(Exif, UserComment,
                         ::testing::Combine(::testing::ValuesIn(kComments),
                                            ::testing::Values(ByteOrder::kLittle, ByteOrder::kBig)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) == ByteOrder::kBig ? "_MM" : "_II");
                         });

TEST_P(TagsInBothOrders, AsciiCommentWithoutTextLeavesTheCommentAsItWas) {
  TiffBuilder tiff(GetParam());
  // "first" carries its terminator: a text copy ignores the declared count and would read on.
  tiff.Directory().Undefined(kUserComment, Text(std::string("first\0", 6))).Undefined(kUserComment, Text(std::string("ASCII\0\0\0  ", 10)));
  EXPECT_EQ(std::string(ParseTiff(tiff.Build()).info.Comments), "first");
}

TEST_P(TagsInBothOrders, TrailingSpacesAreStrippedInTheSectionCopyForLaterEntries) {
  TiffBuilder tiff(GetParam());
  tiff.Directory().Undefined(kUserComment, Text("Maker   ")).RawEntry(kModel, 2, 8, 0);
  Bytes block = tiff.Build();
  // The Model entry points at the comment's bytes: the out-of-line value after the directory.
  const uint32_t commentAt = 8 + 2 + 24 + 4;
  SetU32(block, 8 + 2 + 12 + 8, commentAt, GetParam());
  const ExifResult r = ParseTiff(block);
  EXPECT_EQ(std::string(r.info.Comments), "Maker");
  EXPECT_EQ(std::string(r.info.CameraModel), "Maker");
  const Bytes expected = {'M', 'a', 'k', 'e', 'r', 0, 0, 0};
  EXPECT_EQ(Bytes(r.contentsAfter.begin() + 6 + commentAt, r.contentsAfter.begin() + 6 + commentAt + 8), expected);
}

TEST_P(TagsInBothOrders, CommentStepsStopAtTheBlockEnd) {
  // Inline value "ASCI" as the block's last four bytes: fewer than five bytes remain, so the
  // code test fails and the text is copied up to the end.
  TiffBuilder shortCode(GetParam());
  shortCode.Directory().Undefined(kUserComment, Text("ASCI")).WithoutLink();
  EXPECT_EQ(std::string(ParseTiff(shortCode.Build()).info.Comments), "ASCI");
  // "ASCII" as the block's last five bytes: v[5..9] lie past the end and read as NUL.
  TiffBuilder codeOnly(GetParam());
  codeOnly.Directory().Undefined(kUserComment, Text(std::string("first\0", 6))).Undefined(kUserComment, Text("ASCII"));
  EXPECT_EQ(std::string(ParseTiff(codeOnly.Build()).info.Comments), "first");
  // Text without a terminator at the block's end.
  TiffBuilder open(GetParam());
  open.Directory().Undefined(kUserComment, Text(std::string("ASCII\0\0\0unterminated", 20)));
  EXPECT_EQ(std::string(ParseTiff(open.Build()).info.Comments), "unterminated");
  TiffBuilder make(GetParam());
  make.Directory().Entry(kMake, 1, 5, Text("Maker"));
  EXPECT_EQ(std::string(ParseTiff(make.Build()).info.CameraMake), "Maker");
}

TEST_P(TagsInBothOrders, ByteCountZeroValueIsLeftAlone) {
  TiffBuilder tiff(GetParam());
  tiff.Directory().Entry(kUserComment, 7, 0, Text("  ")).WithoutLink();
  Bytes block = tiff.Build();
  const ExifResult r = ParseTiff(block);
  EXPECT_EQ(std::string(r.info.Comments), "  ");  // inline bytes read as text, not stripped
}

}  // namespace
