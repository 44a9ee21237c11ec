// SPDX-License-Identifier: MIT
// The values beyond the report: when (and in which zone), where, and with which lens and body.
// The walk stores them raw (texts as views into the section copies, numbers as read); Finish
// turns them into the typed values a result carries. None of them feeds the report.
#pragma once

#include <cstddef>
#include <cstdint>

#include "io/byte_view.h"
#include "exif/image_info.h"
#include "xmp/meta_values.h"

namespace exifinfo {

// Texts of IFD0 and the EXIF directory, by their conventional tag names, in result order.
enum ExtraText : int {
  kModifyDate, kCreateDate, kOffsetTime, kOffsetTimeOriginal, kOffsetTimeDigitized, kSubSecTime,
  kSubSecTimeOriginal, kSubSecTimeDigitized, kSoftware, kArtist, kCopyright, kImageDescription,
  kImageUniqueID, kCameraOwnerName, kBodySerialNumber, kLensMake, kLensModel, kLensSerialNumber,
  // Since 1.5, the file's own values where the report keeps a copy by its own rules.
  kMake, kModel, kDateTimeOriginal, kUserComment, kComment, kLensInfo,
  kExtraTextCount
};
// Integers of IFD0 and the EXIF directory; absent is kAbsentInt.
enum ExtraInt : int {
  kIso, kFocalLengthIn35mmFormat, kColorSpace, kExifImageWidth, kExifImageHeight, kExposureMode,
  kSceneCaptureType,
  // Since 1.5.
  kExposureProgram, kMeteringMode, kLightSource, kFlash, kWhiteBalance, kOrientation, kResolutionUnit,
  kImageWidth, kImageHeight, kThumbnailLength,
  kExifRead,  // 1 once a walk read IFD0 of an EXIF block, by either policy; never absent
  // Since 1.7: a video's.
  kRotation,  // 0, 90, 180 or 270 degrees clockwise, from the video track's matrix
  kExtraIntCount
};
// Doubles; absent or unusable is NaN.
enum ExtraDouble : int {
  kGpsLatitude, kGpsLongitude, kGpsAltitude, kGpsImgDirection, kLensMinFocalLength, kLensMaxFocalLength,
  kLensMinFNumber, kLensMaxFNumber,
  // Since 1.5: numbers as written (the first component, any numeric format).
  kExposureTime, kFNumber, kExposureCompensation, kFocalLength, kMaxApertureValue, kSubjectDistance,
  kDigitalZoomRatio, kXResolution, kYResolution,
  // Since 1.7: a video's length in seconds.
  kDuration,
  kExtraDoubleCount
};

constexpr int32_t kAbsentInt = -1;
constexpr size_t kExtraTextBytes = 1024;  // at most 1,023 bytes of UTF-8 and a terminator

// What the walk stores. Views point into the reader's section copies and live as long.
struct ExtraValues {
  ByteView texts[kExtraTextCount] = {};
  int32_t ints[kExtraIntCount];
  int32_t isoSpeed = kAbsentInt;  // 0x8833, used when 0x8827 is absent or 65535
  double doubles[kExtraDoubleCount];
  // The user comment's code (its first 8 bytes) decides how its text reads: "UNICODE" is UTF-16
  // in the block's byte order, any other code 8-bit text.
  bool userCommentUtf16 = false;
  bool userCommentBigEndian = false;
  bool lensInfo = false;  // the lens range was present (its parts may still be unusable)
  ByteView gpsDateStamp;
  double gpsTime[3];  // hours, minutes, seconds; NaN when absent or unusable
  // A video's times: its movie header's, in seconds since 1904-01-01 UTC (0: absent, as the
  // format writes an unknown time), and the capture time a phone writes with its zone
  // ("2019-07-24T11:25:40+0300"), a view like the texts.
  uint64_t movieCreated = 0, movieModified = 0;
  ByteView creationDate;
  ExtraValues();
};

// The typed values of a result.
struct FinishedExtras {
  char texts[kExtraTextCount][kExtraTextBytes];
  size_t textLengths[kExtraTextCount];
  bool textPresent[kExtraTextCount];  // the file has the text, though it may be empty
  char captureTime[40];  // "2019-05-03T14:22:11.42+02:00"; the sub-seconds are at most 9 digits
  char gpsDateTime[48];  // "2019-05-03T12:22:11Z"
  const char* captureTimeSource;  // where captureTime came from: "exif", "quicktime", "xmp", "iptc", "mvhd"; "" without one
  int32_t ints[kExtraIntCount];
  double doubles[kExtraDoubleCount];
  int32_t hasGps;  // 1 exactly when latitude and longitude are both usable
};

// `info` is the report's record of the same read: its frame (a JPEG's frame header, or the container's image)
// gives ImageWidth and ImageHeight unless the walk found the main image itself (a TIFF's
// largest); its thumbnail gives ThumbnailLength.
// `meta`, the read's XMP and IPTC (null: none), gives the capture time where EXIF and a video's
// own do not, and the position where EXIF has none.
void FinishExtras(const ExtraValues& raw, const ImageInfo& info, FinishedExtras& out, const MetaValues* meta = nullptr);

}  // namespace exifinfo
