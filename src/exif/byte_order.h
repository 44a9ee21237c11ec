// SPDX-License-Identifier: MIT
// Byte-order readers and value conversion for the TIFF block of an EXIF section.
#pragma once

#include <cstdint>

#include "io/byte_view.h"

namespace exifinfo {

constexpr int kFormatCodes = 13;  // 0..12; 13 and above are rejected before any lookup
// Bytes per component, by format code (0 is a legal format of size 0).
constexpr uint8_t kComponentBytes[kFormatCodes] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};

// A TIFF directory's layout, the same for every walker of it (the tags that link its parts are
// in tags.h).
constexpr uint16_t kTiffMagic = 42;
constexpr uint64_t kEntryBytes = 12;        // a classic directory entry: tag, format, count, value
constexpr uint64_t kInlineValueBytes = 4;   // values up to this size sit in the entry itself

enum Format : uint16_t {
  kFormatNone = 0,
  kFormatByte = 1,
  kFormatAscii = 2,
  kFormatShort = 3,
  kFormatLong = 4,
  kFormatRational = 5,
  kFormatSByte = 6,
  kFormatUndefined = 7,
  kFormatSShort = 8,
  kFormatSLong = 9,
  kFormatSRational = 10,
  kFormatFloat = 11,
  kFormatDouble = 12,
};

// The int32 whose two's-complement bits are u (no implementation-defined narrowing).
inline int32_t FromTwosComplement(uint32_t u) {
  return u <= 0x7FFFFFFFu ? static_cast<int32_t>(u) : static_cast<int32_t>(int64_t{u} - (int64_t{1} << 32));
}
inline int32_t ReadS32(const uint8_t* p, bool bigEndian) { return FromTwosComplement(ReadU32(p, bigEndian)); }

class TiffBlock;

// The first component of a value of `format` at `offset`, as one double. Reads at most one
// component's bytes; a component that does not lie wholly inside the block gives 0.
double ConvertValue(const TiffBlock& block, uint64_t offset, uint16_t format);

// Stores of converted values into record fields, defined for every double:
// truncation toward zero saturating at the int32 bounds, NaN as 0.
int32_t ToInt(double value);
// Truncation; negative values as 0, values past 2^32-1 as 2^32-1, NaN as 0.
uint32_t ToUnsigned(double value);
// Round to nearest single precision as IEEE does (only values rounding past the largest
// single-precision number become infinities); NaN as 0.
float ToFloat(double value);

}  // namespace exifinfo
