// SPDX-License-Identifier: MIT
// The tags the report shows, and how each one's value lands in the record.
#include <cmath>
#include <cstring>

#include "exif/byte_order.h"
#include "exif/exif_section.h"
#include "exif/errors.h"
#include "exif/exif_reader.h"
#include "exif/tags.h"

namespace exifinfo {
namespace {

constexpr int kMaxUserCommentChars = 199;
constexpr int kMinOrientation = 1;
constexpr int kMaxOrientation = 8;
constexpr int32_t kLowIsoLimit = 50;       // smaller ISO values are read as multiples of 200
constexpr uint32_t kLowIsoFactor = 200;
constexpr uint8_t kAsciiCode[] = {'A', 'S', 'C', 'I', 'I'};
constexpr uint64_t kAsciiTextFirst = 5;    // where an "ASCII" comment's text may start...
constexpr uint64_t kAsciiTextLast = 9;     // ...at the latest

// Inches per unit for the unit codes 1..5 (none, inch, centimetre, millimetre, micrometre).
// False for any other code: the field keeps its value.
bool UnitFactor(int32_t code, float& inches) {
  switch (code) {
    case 1:
    case 2: inches = 1.0f; return true;
    case 3: inches = static_cast<float>(1.0 / 2.54); return true;
    case 4: inches = static_cast<float>(1.0 / 25.4); return true;
    case 5: inches = static_cast<float>(1.0 / 25400.0); return true;
    default: return false;
  }
}

// A bounded copy of at most n bytes into dst[0..n], which stays terminated. It stops at a NUL
// or at the block's end (read as a NUL), and fills the rest of the n bytes with NUL; the
// value's declared byte count does not shorten it.
void CopyText(char* dst, size_t n, const TiffBlock& block, uint64_t offset) {
  const ByteView text = block.Span(offset, n);
  size_t i = 0;
  for (; i < n; ++i) {
    const uint8_t c = text.ByteOrZero(i);
    if (c == 0) break;
    dst[i] = static_cast<char>(c);
  }
  std::memset(dst + i, 0, n + 1 - i);
}

// APEX values: ln 2 in double precision, everything in double, one rounding at the store.
double ApexExposureTime(double shutterSpeed) { return 1.0 / std::exp(shutterSpeed * std::log(2.0)); }
double ApexFNumber(double aperture) { return std::exp(aperture * std::log(2.0) * 0.5); }

}  // namespace

void ExifReader::InterpretTag(const DirectoryEntry& entry, const TiffBlock& block) {
  ImageInfo& info = *Info;
  const auto number = [&] { return ConvertValue(block, entry.valueOffset, entry.format); };
  float unit = 0.0f;
  switch (entry.tag) {
    case kTagMake: CopyText(info.CameraMake, kCameraMakeBytes - 1, block, entry.valueOffset); break;
    case kTagModel: CopyText(info.CameraModel, kCameraModelBytes - 1, block, entry.valueOffset); break;
    case kTagExifVersion: CopyText(info.Version, kVersionBytes - 1, block, entry.valueOffset); break;
    case kTagDateTimeOriginal: CopyText(info.DateTime, kDateTimeBytes - 1, block, entry.valueOffset); break;
    case kTagOrientation: {
      const int32_t orientation = ToInt(number());
      if (orientation < kMinOrientation || orientation > kMaxOrientation) {
        Fail(errors::kUndefinedRotation);  // recorded; the walk goes on
        info.Orientation = 0;
      } else {
        info.Orientation = orientation;
      }
      break;
    }
    case kTagXResolution: info.Xresolution = ToFloat(number()); break;
    case kTagYResolution: info.Yresolution = ToFloat(number()); break;
    case kTagResolutionUnit:
      if (UnitFactor(ToInt(number()), unit)) info.ResolutionUnit = unit;
      break;
    case kTagExposureTime: info.ExposureTime = ToFloat(number()); break;
    case kTagFNumber: info.ApertureFNumber = ToFloat(number()); break;
    case kTagExposureProgram: info.ExposureProgram = ToInt(number()); break;
    case kTagIsoSpeedRatings: {
      const int32_t iso = ToInt(number());
      // Wraps modulo 2^32 like the 32-bit product it is, without signed overflow.
      info.ISOequivalent = iso < kLowIsoLimit ? FromTwosComplement(static_cast<uint32_t>(iso) * kLowIsoFactor) : iso;
      break;
    }
    case kTagCompressedBitsPerPixel: info.CompressionLevel = ToInt(number()); break;
    // The derived values fill a field only while no direct value has been stored in it.
    case kTagShutterSpeedValue:
      if (info.ExposureTime == 0.0f) info.ExposureTime = ToFloat(ApexExposureTime(number()));
      break;
    case kTagApertureValue:
    case kTagMaxApertureValue:
      if (info.ApertureFNumber == 0.0f) info.ApertureFNumber = ToFloat(ApexFNumber(number()));
      break;
    case kTagBrightnessValue: info.Brightness = ToFloat(number()); break;
    case kTagExposureCompensation: info.ExposureBias = ToFloat(number()); break;
    case kTagSubjectDistance: info.Distance = ToFloat(number()); break;
    case kTagMeteringMode: info.MeteringMode = ToInt(number()); break;
    case kTagLightSource: info.Whitebalance = ToInt(number()); break;
    case kTagFlash: info.FlashUsed = (ToInt(number()) & 7) != 0 ? 1 : 0; break;
    case kTagFocalLength: info.FocalLength = ToFloat(number()); break;
    case kTagUserComment: StoreUserComment(entry, block); break;
    case kTagFocalPlaneXResolution: info.FocalplaneXRes = ToFloat(number()); break;
    case kTagFocalPlaneYResolution: info.FocalplaneYRes = ToFloat(number()); break;
    case kTagFocalPlaneResolutionUnit:
      if (UnitFactor(ToInt(number()), unit)) info.FocalplaneUnits = unit;
      break;
    default: break;  // structural tags are the walker's; all others are ignored
  }
}

// The values the report derives once a walk is over: the sensor width from the focal-plane
// resolution and the largest pixel dimension.
void ExifReader::DeriveReportValues() {
  if (Info->FocalplaneXRes != 0.0f) {
    // Single precision, the quotient first; infinity times 0 stores 0.
    const float inchesPerPixel = Info->FocalplaneUnits / Info->FocalplaneXRes;
    const float width = inchesPerPixel * static_cast<float>(LargestDimension);
    Info->CCDWidth = std::isnan(width) ? 0.0f : width;
  }
}

// The comment's character code is its first 8 bytes: "ASCII" with the text starting within
// v[5..9]; any other code (an all-zero one included) is copied as it stands, so it gives an
// empty comment or the code's name. Bytes past the block's end read as NUL.
void ExifReader::StoreUserComment(const DirectoryEntry& entry, const TiffBlock& block) {
  // Trailing spaces become NUL in the section copy itself: later entries whose values overlap
  // these bytes read them changed.
  const MutableByteView value = block.MutableSpan(entry.valueOffset, entry.byteCount);
  for (size_t i = value.size; i-- > 0;) {
    if (*value.At(i) != ' ') break;
    *value.At(i) = '\0';
  }
  uint64_t textStart = entry.valueOffset;
  bool isAscii = true;
  for (uint64_t k = 0; k < sizeof kAsciiCode; ++k)
    isAscii = isAscii && block.ByteOrZero(entry.valueOffset + k) == kAsciiCode[k];
  if (isAscii) {
    bool found = false;
    for (uint64_t k = kAsciiTextFirst; k <= kAsciiTextLast && !found; ++k) {
      const uint8_t c = block.ByteOrZero(entry.valueOffset + k);
      found = c != '\0' && c != ' ';
      if (found) textStart = entry.valueOffset + k;
    }
    if (!found) return;  // "ASCII" and no text: the comment stays as it was
  }
  CopyText(Info->Comments, kMaxUserCommentChars, block, textStart);
}

}  // namespace exifinfo
