// SPDX-License-Identifier: MIT
// Byte order, value conversion and the stores of converted values into record fields.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>

#include "exif/byte_order.h"
#include "exif/tiff_block.h"

using exifinfo::ConvertValue;
using exifinfo::TiffBlock;

namespace {

struct ConversionCase {
  const char* name;
  bool bigEndian;
  uint16_t format;
  std::vector<uint8_t> bytes;
  double expected;
};
// Test names and failures show the case by name (and never the padding bytes).
void PrintTo(const ConversionCase& c, std::ostream* os) { *os << c.name; }

class Conversion : public ::testing::TestWithParam<ConversionCase> {};

TEST_P(Conversion, FirstComponentAsDouble) {
  const ConversionCase& c = GetParam();
  std::vector<uint8_t> bytes = c.bytes;  // exact size: a read past the component is caught
  const TiffBlock block({bytes.data(), bytes.size()}, c.bigEndian);
  const double value = ConvertValue(block, 0, c.format);
  EXPECT_EQ(value, c.expected);
  EXPECT_EQ(std::signbit(value), std::signbit(c.expected));
}

constexpr bool kMM = true, kII = false;

INSTANTIATE_TEST_SUITE_P(
    Values, Conversion,
    ::testing::Values(
        ConversionCase{"None", kMM, 0, {}, 0.0},
        ConversionCase{"Byte", kII, 1, {0xFE}, 254.0},
        ConversionCase{"SByte", kII, 6, {0xFE}, -2.0},
        ConversionCase{"Ascii", kMM, 2, {'7'}, 0.0},
        ConversionCase{"Undefined", kMM, 7, {0x05}, 0.0},
        ConversionCase{"ShortII", kII, 3, {0xFE, 0xFF}, 65534.0},
        ConversionCase{"ShortMM", kMM, 3, {0x01, 0x02}, 258.0},
        ConversionCase{"SShortMM", kMM, 8, {0xFF, 0xFE}, -2.0},
        ConversionCase{"SShortII", kII, 8, {0x00, 0x80}, -32768.0},
        ConversionCase{"LongMM", kMM, 4, {0x01, 0x02, 0x03, 0x04}, 16909060.0},
        ConversionCase{"LongII", kII, 4, {0x04, 0x03, 0x02, 0x01}, 16909060.0},
        ConversionCase{"LongHighBit", kMM, 4, {0xFF, 0xFF, 0xFF, 0xFF}, 4294967295.0},
        ConversionCase{"SLongMM", kMM, 9, {0xFF, 0xFF, 0xFF, 0xFE}, -2.0},
        ConversionCase{"RationalZeroDivisor", kMM, 5, {0, 0, 0, 1, 0, 0, 0, 0}, 0.0},
        ConversionCase{"RationalIsSigned", kMM, 5, {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 1}, -1.0},
        ConversionCase{"RationalII", kII, 5, {1, 0, 0, 0, 3, 0, 0, 0}, 1.0 / 3.0},
        ConversionCase{"SRationalNegativeDivisor", kMM, 10, {0, 0, 0, 3, 0xFF, 0xFF, 0xFF, 0xFE}, -1.5},
        ConversionCase{"RationalExtremes", kMM, 5, {0x80, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}, 2147483648.0},
        ConversionCase{"FloatMM", kMM, 11, {0x40, 0x49, 0x0F, 0xDB}, static_cast<double>(3.14159274f)},
        ConversionCase{"FloatII", kII, 11, {0xDB, 0x0F, 0x49, 0x40}, static_cast<double>(3.14159274f)},
        ConversionCase{"DoubleMM", kMM, 12, {0x40, 0x09, 0x21, 0xFB, 0x54, 0x44, 0x2D, 0x18}, 3.141592653589793},
        ConversionCase{"DoubleII", kII, 12, {0x18, 0x2D, 0x44, 0x54, 0xFB, 0x21, 0x09, 0x40}, 3.141592653589793},
        ConversionCase{"NegativeZeroDouble", kMM, 12, {0x80, 0, 0, 0, 0, 0, 0, 0}, -0.0},
        // A component that does not lie wholly inside the block reads as 0.
        ConversionCase{"LongOneByteShort", kMM, 4, {1, 2, 3}, 0.0},
        ConversionCase{"DoubleOneByteShort", kII, 12, {1, 2, 3, 4, 5, 6, 7}, 0.0},
        ConversionCase{"ShortPastTheEnd", kII, 3, {9}, 0.0},
        ConversionCase{"FormatPastTheTable", kMM, 13, {1, 2, 3, 4, 5, 6, 7, 8}, 0.0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Conversion, ReadsAtTheGivenOffsetOnly) {
  std::vector<uint8_t> bytes = {0xAA, 0x01, 0x02, 0xBB};
  const TiffBlock block({bytes.data(), bytes.size()}, true);
  EXPECT_EQ(ConvertValue(block, 1, 3), 258.0);
  EXPECT_EQ(ConvertValue(block, 3, 3), 0.0);  // one byte short
  EXPECT_EQ(ConvertValue(block, 4, 1), 0.0);
  EXPECT_EQ(ConvertValue(block, UINT64_MAX, 1), 0.0);
}

TEST(Conversion, CheckedReadsLeaveTheirOutputAloneWhenShort) {
  std::vector<uint8_t> bytes = {1, 2, 3, 4};
  const TiffBlock block({bytes.data(), bytes.size()}, false);
  uint16_t u16 = 7;
  uint32_t u32 = 7;
  EXPECT_TRUE(block.U16At(2, u16));
  EXPECT_EQ(u16, 0x0403);
  EXPECT_FALSE(block.U16At(3, u16));
  EXPECT_EQ(u16, 0x0403);
  EXPECT_TRUE(block.U32At(0, u32));
  EXPECT_EQ(u32, 0x04030201u);
  EXPECT_FALSE(block.U32At(1, u32));
  EXPECT_FALSE(block.U32At(UINT64_MAX - 1, u32));
  EXPECT_EQ(u32, 0x04030201u);
}

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(Store, IntTruncatesTowardZeroAndSaturates) {
  struct Row {
    double in;
    int32_t out;
  };
  for (const Row& r : {Row{2.9, 2}, Row{-2.9, -2}, Row{-0.5, 0}, Row{2147483647.9, 2147483647},
                       Row{2147483648.0, INT32_MAX}, Row{1e300, INT32_MAX}, Row{kInf, INT32_MAX},
                       Row{-2147483648.9, INT32_MIN}, Row{-2147483649.0, INT32_MIN}, Row{-kInf, INT32_MIN},
                       Row{kNaN, 0}})
    EXPECT_EQ(exifinfo::ToInt(r.in), r.out) << r.in;
}

TEST(Store, UnsignedTakesNegativesAsZeroAndSaturates) {
  struct Row {
    double in;
    uint32_t out;
  };
  for (const Row& r : {Row{7.9, 7}, Row{-1.0, 0}, Row{-kInf, 0}, Row{4294967295.5, UINT32_MAX},
                       Row{4294967296.0, UINT32_MAX}, Row{kInf, UINT32_MAX}, Row{kNaN, 0}})
    EXPECT_EQ(exifinfo::ToUnsigned(r.in), r.out) << r.in;
}

TEST(Store, FloatRoundsToNearestAndOverflowsOnlyPastTheLargest) {
  const double largest = FLT_MAX;
  const double halfUlp = std::ldexp(1.0, 103);  // half the spacing of floats at the top
  struct Row {
    double in;
    float out;
  };
  for (const Row& r : {Row{0.1, 0.1f}, Row{-0.0, -0.0f}, Row{largest, FLT_MAX}, Row{largest + halfUlp / 2, FLT_MAX},
                       Row{std::nextafter(largest + halfUlp, 0.0), FLT_MAX},
                       Row{largest + halfUlp, std::numeric_limits<float>::infinity()},
                       Row{-(largest + halfUlp), -std::numeric_limits<float>::infinity()},
                       Row{1e300, std::numeric_limits<float>::infinity()}, Row{-kInf, -std::numeric_limits<float>::infinity()},
                       Row{1e-50, 0.0f}, Row{kNaN, 0.0f}}) {
    const float stored = exifinfo::ToFloat(r.in);
    EXPECT_EQ(stored, r.out) << r.in;
    EXPECT_EQ(std::signbit(stored), std::signbit(r.out)) << r.in;
  }
}

}  // namespace
