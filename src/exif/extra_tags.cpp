// SPDX-License-Identifier: MIT
// The values beyond the report: texts, integers and the lens of IFD0 and the EXIF directory, and
// the GPS directory. Nothing here writes the record, LastError or the walk's bookkeeping, so no
// input can change the report through these values.
#include <cmath>
#include <cstring>

#include "exif/byte_order.h"
#include "exif/exif_section.h"
#include "exif/exif_reader.h"
#include "exif/tags.h"

namespace exifinfo {
namespace {

constexpr uint64_t kRationalBytes = 8;

// Where an entry's value goes: a text, an integer, or one of the two with a rule of its own.
struct Slot {
  enum Kind { kNone, kText, kInt, kDouble, kIsoSpeed, kLens, kUserComment, kMaxAperture, kXmp, kIptc, kPhotoshop } kind;
  int index;
};

Slot SlotOf(uint16_t tag) {
  switch (tag) {
    case kTagModifyDate: return {Slot::kText, kModifyDate};
    case kTagCreateDate: return {Slot::kText, kCreateDate};
    case kTagOffsetTime: return {Slot::kText, kOffsetTime};
    case kTagOffsetTimeOriginal: return {Slot::kText, kOffsetTimeOriginal};
    case kTagOffsetTimeDigitized: return {Slot::kText, kOffsetTimeDigitized};
    case kTagSubSecTime: return {Slot::kText, kSubSecTime};
    case kTagSubSecTimeOriginal: return {Slot::kText, kSubSecTimeOriginal};
    case kTagSubSecTimeDigitized: return {Slot::kText, kSubSecTimeDigitized};
    case kTagSoftware: return {Slot::kText, kSoftware};
    case kTagArtist: return {Slot::kText, kArtist};
    case kTagCopyright: return {Slot::kText, kCopyright};
    case kTagImageDescription: return {Slot::kText, kImageDescription};
    case kTagImageUniqueId: return {Slot::kText, kImageUniqueID};
    case kTagCameraOwnerName: return {Slot::kText, kCameraOwnerName};
    case kTagBodySerialNumber: return {Slot::kText, kBodySerialNumber};
    case kTagLensMake: return {Slot::kText, kLensMake};
    case kTagLensModel: return {Slot::kText, kLensModel};
    case kTagLensSerialNumber: return {Slot::kText, kLensSerialNumber};
    case kTagMake: return {Slot::kText, kMake};
    case kTagModel: return {Slot::kText, kModel};
    case kTagDateTimeOriginal: return {Slot::kText, kDateTimeOriginal};
    case kTagUserComment: return {Slot::kUserComment, kUserComment};
    case kTagExposureProgram: return {Slot::kInt, kExposureProgram};
    case kTagMeteringMode: return {Slot::kInt, kMeteringMode};
    case kTagLightSource: return {Slot::kInt, kLightSource};
    case kTagFlash: return {Slot::kInt, kFlash};
    case kTagWhiteBalance: return {Slot::kInt, kWhiteBalance};
    case kTagOrientation: return {Slot::kInt, kOrientation};
    case kTagResolutionUnit: return {Slot::kInt, kResolutionUnit};
    case kTagExposureTime: return {Slot::kDouble, kExposureTime};
    case kTagFNumber: return {Slot::kDouble, kFNumber};
    case kTagExposureCompensation: return {Slot::kDouble, kExposureCompensation};
    case kTagFocalLength: return {Slot::kDouble, kFocalLength};
    case kTagSubjectDistance: return {Slot::kDouble, kSubjectDistance};
    case kTagDigitalZoomRatio: return {Slot::kDouble, kDigitalZoomRatio};
    case kTagXResolution: return {Slot::kDouble, kXResolution};
    case kTagYResolution: return {Slot::kDouble, kYResolution};
    case kTagMaxApertureValue: return {Slot::kMaxAperture, kMaxApertureValue};
    case kTagIsoSpeedRatings: return {Slot::kInt, kIso};
    case kTagFocalLengthIn35mmFormat: return {Slot::kInt, kFocalLengthIn35mmFormat};
    case kTagColorSpace: return {Slot::kInt, kColorSpace};
    case kTagPixelXDimension: return {Slot::kInt, kExifImageWidth};
    case kTagPixelYDimension: return {Slot::kInt, kExifImageHeight};
    case kTagExposureMode: return {Slot::kInt, kExposureMode};
    case kTagSceneCaptureType: return {Slot::kInt, kSceneCaptureType};
    case kTagIsoSpeed: return {Slot::kIsoSpeed, 0};
    case kTagLensRange: return {Slot::kLens, 0};
    case kTagXmp: return {Slot::kXmp, 0};
    case kTagIptc: return {Slot::kIptc, 0};
    case kTagPhotoshop: return {Slot::kPhotoshop, 0};
    default: return {Slot::kNone, 0};
  }
}

bool IsTextFormat(uint16_t format) { return format == kFormatAscii || format == kFormatByte || format == kFormatUndefined; }
bool IsIntegerFormat(uint16_t format) {
  return format == kFormatByte || format == kFormatShort || format == kFormatLong || format == kFormatSShort ||
         format == kFormatSLong;
}

// Component k of a rational value, unsigned or signed as its format says. False for another
// format, a component past the value, or a zero denominator.
bool RationalAt(const DirectoryEntry& entry, const TiffBlock& block, uint32_t k, double& out) {
  if ((entry.format != kFormatRational && entry.format != kFormatSRational) || k >= entry.count) return false;
  const uint64_t at = entry.valueOffset + kRationalBytes * k;
  uint32_t numerator = 0, denominator = 0;
  if (!block.U32At(at, numerator) || !block.U32At(at + 4, denominator) || denominator == 0) return false;
  out = entry.format == kFormatRational
            ? static_cast<double>(numerator) / static_cast<double>(denominator)
            : static_cast<double>(FromTwosComplement(numerator)) / static_cast<double>(FromTwosComplement(denominator));
  return std::isfinite(out);
}

// The first component of a number of any numeric format; false for a text, an empty value, or
// a rational with a zero denominator.
bool FirstNumber(const DirectoryEntry& entry, const TiffBlock& block, double& out) {
  if (entry.count == 0) return false;
  switch (entry.format) {
    case kFormatRational:
    case kFormatSRational: return RationalAt(entry, block, 0, out);
    case kFormatByte: case kFormatShort: case kFormatLong: case kFormatSByte: case kFormatSShort:
    case kFormatSLong: case kFormatFloat: case kFormatDouble:
      out = ConvertValue(block, entry.valueOffset, entry.format);
      return std::isfinite(out);
    default: return false;
  }
}

// Degrees, minutes and seconds as one non-negative angle; NaN when any part is unusable.
double Angle(const DirectoryEntry& entry, const TiffBlock& block) {
  double d = 0, m = 0, s = 0;
  if (!RationalAt(entry, block, 0, d) || !RationalAt(entry, block, 1, m) || !RationalAt(entry, block, 2, s) ||
      d < 0 || m < 0 || m > 60 || s < 0 || s > 60)
    return std::nan("");
  return d + m / 60.0 + s / 3600.0;
}

// A text value's bytes, as far as the block goes (a JPEG's walk has checked they all lie in it);
// a text longer than any value kept is cut where it is copied.
ByteView ValueBytes(const DirectoryEntry& entry, const TiffBlock& block) { return block.Span(entry.valueOffset, entry.byteCount); }

// The first byte of a reference text; 0 when there is none.
uint8_t RefLetter(const DirectoryEntry& entry, const TiffBlock& block) {
  if (!IsTextFormat(entry.format) || entry.byteCount == 0) return 0;
  return block.ByteOrZero(entry.valueOffset);
}

}  // namespace

// What a GPS directory holds, gathered before the values are combined (entries may come in any
// order).
struct GpsParts {
  uint8_t latitudeRef = 0, longitudeRef = 0;
  bool altitudeBelow = false;
  double latitude = std::nan(""), longitude = std::nan(""), altitude = std::nan(""), direction = std::nan("");
  bool hasTime = false;
  double time[3] = {0, 0, 0};
  ByteView dateStamp;
};

void ExifReader::InterpretExtraTag(const DirectoryEntry& entry, const TiffBlock& block) {
  const Slot slot = SlotOf(entry.tag);
  switch (slot.kind) {
    case Slot::kNone: return;
    case Slot::kText:
      if (IsTextFormat(entry.format)) Extras.texts[slot.index] = ValueBytes(entry, block);
      return;
    case Slot::kInt:
      if (entry.count != 0 && IsIntegerFormat(entry.format))
        Extras.ints[slot.index] = ToInt(ConvertValue(block, entry.valueOffset, entry.format));
      return;
    case Slot::kDouble: {
      double value = 0;
      if (FirstNumber(entry, block, value)) Extras.doubles[slot.index] = value;
      return;
    }
    case Slot::kMaxAperture: {
      // Written in APEX; the value people read is the f-number it stands for.
      double value = 0;
      if (FirstNumber(entry, block, value)) Extras.doubles[slot.index] = std::pow(2.0, value / 2);
      return;
    }
    case Slot::kXmp:
    case Slot::kIptc:
    case Slot::kPhotoshop: {
      // Bytes (IPTC also as longs, as some writers tag it), and no more than the block holds
      // or a packet may take: a damaged count is not fetched.
      constexpr uint16_t kByte = 1, kUndefined = 7, kLong = 4;
      const bool bytes = entry.format == kByte || entry.format == kUndefined || (slot.kind == Slot::kIptc && entry.format == kLong);
      if (!bytes || !block.Has(entry.valueOffset, entry.byteCount)) return;
      if (entry.byteCount > RangeReader::kMaxFetchBytes) {
        if (slot.kind == Slot::kXmp) Packets.NoteTooLarge();
        return;
      }
      // Copied now: a JPEG's section copy is gone once its scan moves on.
      const ByteView value = ValueBytes(entry, block);
      if (value.size != entry.byteCount) return;
      if (slot.kind == Slot::kXmp) {
        Packets.AddXmp(value);
      } else {
        slot.kind == Slot::kIptc ? Packets.AddIptc(value) : Packets.AddPhotoshop(value);
      }
      return;
    }
    case Slot::kUserComment: {
      // Its first 8 bytes name the character code; the walk keeps the whole value.
      Extras.texts[kUserComment] = ValueBytes(entry, block);
      const ByteView code = Extras.texts[kUserComment];
      Extras.userCommentUtf16 = code.size >= 8 && std::memcmp(code.data, "UNICODE", 8) == 0;
      Extras.userCommentBigEndian = block.bigEndian();
      return;
    }
    case Slot::kIsoSpeed:
      if (entry.count != 0 && IsIntegerFormat(entry.format))
        Extras.isoSpeed = ToInt(ConvertValue(block, entry.valueOffset, entry.format));
      return;
    case Slot::kLens:
      Extras.lensInfo = entry.count >= 4;
      for (uint32_t k = 0; k < 4; ++k) {
        double value = 0;
        // An unknown end of the range is written 0/0: absent, like any part that cannot be read.
        Extras.doubles[kLensMinFocalLength + static_cast<int>(k)] =
            RationalAt(entry, block, k, value) && value >= 0 ? value : std::nan("");
      }
      return;
  }
}

// One directory with its own bounds: its entries must lie inside the block, and it follows no
// link, so it can neither loop nor reach another directory. It reports nothing: a GPS directory
// that cannot be read leaves its values absent.
void ExifReader::WalkGpsDirectory(const TiffBlock& block, uint64_t offset, bool tiffFormats) {
  const DirectoryLayout& layout = LayoutOf(block);
  const uint8_t* head = block.At(offset, layout.countBytes);
  if (head == nullptr) return;
  const uint64_t entryCount = block.bigTiff() ? ReadU64(head, block.bigEndian()) : ReadU16(head, block.bigEndian());
  if (entryCount > UINT16_MAX || block.At(offset, layout.countBytes + layout.entryBytes * entryCount) == nullptr) return;
  GpsParts parts;
  for (uint64_t i = 0; i < entryCount; ++i) {
    DirectoryEntry entry{};
    if (DecodeEntry(block, offset + layout.countBytes + layout.entryBytes * i, entry, tiffFormats) == EntryFault::kNone &&
        !ValueInStructure(entry, layout, offset, entryCount))
      InterpretGpsTag(entry, block, parts);
  }
  // Signed from the references; a reference that is no hemisphere makes the value unusable.
  const double latitude = parts.latitudeRef == 'N' ? parts.latitude : parts.latitudeRef == 'S' ? -parts.latitude : std::nan("");
  const double longitude =
      parts.longitudeRef == 'E' ? parts.longitude : parts.longitudeRef == 'W' ? -parts.longitude : std::nan("");
  Extras.doubles[kGpsLatitude] = std::fabs(latitude) <= 90 ? latitude : std::nan("");
  Extras.doubles[kGpsLongitude] = std::fabs(longitude) <= 180 ? longitude : std::nan("");
  Extras.doubles[kGpsAltitude] = parts.altitudeBelow ? -parts.altitude : parts.altitude;
  Extras.doubles[kGpsImgDirection] = parts.direction >= 0 && parts.direction <= 360 ? parts.direction : std::nan("");
  Extras.gpsDateStamp = parts.dateStamp;
  for (int k = 0; k < 3; ++k) Extras.gpsTime[k] = parts.hasTime ? parts.time[k] : std::nan("");
}

void ExifReader::InterpretGpsTag(const DirectoryEntry& entry, const TiffBlock& block, GpsParts& parts) {
  double value = 0;
  switch (entry.tag) {
    case kTagGpsLatitudeRef: parts.latitudeRef = RefLetter(entry, block); break;
    case kTagGpsLongitudeRef: parts.longitudeRef = RefLetter(entry, block); break;
    case kTagGpsLatitude: parts.latitude = Angle(entry, block); break;
    case kTagGpsLongitude: parts.longitude = Angle(entry, block); break;
    case kTagGpsAltitudeRef:
      parts.altitudeBelow = entry.count > 0 && entry.format == kFormatByte && block.ByteOrZero(entry.valueOffset) == 1;
      break;
    case kTagGpsAltitude:
      parts.altitude = RationalAt(entry, block, 0, value) && value >= 0 ? value : std::nan("");
      break;
    case kTagGpsImgDirection:
      parts.direction = RationalAt(entry, block, 0, value) ? value : std::nan("");
      break;
    case kTagGpsTimeStamp:
      parts.hasTime = RationalAt(entry, block, 0, parts.time[0]) && RationalAt(entry, block, 1, parts.time[1]) &&
                      RationalAt(entry, block, 2, parts.time[2]);
      break;
    case kTagGpsDateStamp:
      if (IsTextFormat(entry.format)) parts.dateStamp = ValueBytes(entry, block);
      break;
    default: break;
  }
}

}  // namespace exifinfo
