// SPDX-License-Identifier: MIT
#include "exif/byte_order.h"
#include "exif/tiff_block.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace exifinfo {

namespace {

// Numerator and denominator are signed for both rational formats; a zero divisor gives 0.
double Rational(const uint8_t* p, bool bigEndian) {
  const int32_t denominator = ReadS32(p + 4, bigEndian);
  if (denominator == 0) return 0.0;
  return static_cast<double>(ReadS32(p, bigEndian)) / static_cast<double>(denominator);
}

}  // namespace

double ConvertValue(const TiffBlock& block, uint64_t offset, uint16_t format) {
  if (format >= kFormatCodes) return 0.0;
  const uint8_t* p = block.At(offset, kComponentBytes[format]);
  if (p == nullptr) return 0.0;
  const bool big = block.bigEndian();
  switch (format) {
    case kFormatByte: return p[0];
    case kFormatShort: return ReadU16(p, big);
    case kFormatLong: return ReadU32(p, big);
    case kFormatRational:
    case kFormatSRational: return Rational(p, big);
    case kFormatSByte: return static_cast<int8_t>(p[0]);
    case kFormatSShort: {
      const uint16_t u = ReadU16(p, big);
      return u <= 0x7FFF ? static_cast<double>(u) : static_cast<double>(u) - 65536.0;
    }
    case kFormatSLong: return ReadS32(p, big);
    case kFormatFloat: {
      const uint32_t bits = ReadU32(p, big);
      float f;
      std::memcpy(&f, &bits, sizeof f);
      return f;
    }
    case kFormatDouble: {
      const uint64_t bits = ReadU64(p, big);
      double d;
      std::memcpy(&d, &bits, sizeof d);
      return d;
    }
    default: return 0.0;  // none, ASCII, UNDEFINED
  }
}

int32_t ToInt(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 2147483648.0) return std::numeric_limits<int32_t>::max();
  if (value <= -2147483649.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);  // truncation toward zero, now in range
}

uint32_t ToUnsigned(double value) {
  if (std::isnan(value) || value <= 0.0) return 0;
  if (value >= 4294967296.0) return std::numeric_limits<uint32_t>::max();
  return static_cast<uint32_t>(value);
}

float ToFloat(double value) {
  if (std::isnan(value)) return 0.0f;
  constexpr double kLargest = std::numeric_limits<float>::max();
  // Half an ulp above the largest finite float: from here on, nearest rounding gives infinity
  // (the halfway point itself too, as ties go to the even significand).
  constexpr double kOverflowThreshold = 0x1.ffffffp127;
  const double magnitude = std::fabs(value);
  if (magnitude > kLargest) {
    const float rounded = magnitude >= kOverflowThreshold ? std::numeric_limits<float>::infinity()
                                                          : std::numeric_limits<float>::max();
    return value < 0 ? -rounded : rounded;
  }
  return static_cast<float>(value);
}

}  // namespace exifinfo
