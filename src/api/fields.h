// SPDX-License-Identifier: MIT
// The values of exifinfo_photo that bindings read by name, listed once: each line names the
// member, its public type and where its value comes from. The field table (exifinfo_field_*),
// the filling of a result and the checks that this list and the struct agree are all made from
// it, so a new value is its member in exifinfo.h, one line here, and its source in the core; a
// member added to the struct without its line, or a line whose type is not its member's, does
// not compile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "exif/extra_values.h"
#include "exifinfo.h"

// X(member, type, source, index), in struct order. Sources: REPORT, the report's values (a text
// by its place among the report's texts, a number from ImageInfo's member of the same name);
// TEXT, INT and DOUBLE, the core's extra values by index; CAPTURE_TIME, GPS_DATE_TIME and
// HAS_GPS, derived by the core.
#define EXIFINFO_REPORT_FIELDS(X)                                                                          \
  X(Version, TEXT, REPORT, 0) X(CameraMake, TEXT, REPORT, 1) X(CameraModel, TEXT, REPORT, 2)                \
  X(DateTime, TEXT, REPORT, 3) X(Comments, TEXT, REPORT, 4) X(Height, INT32, REPORT, 0)                     \
  X(Width, INT32, REPORT, 0) X(Orientation, INT32, REPORT, 0) X(IsColor, INT32, REPORT, 0)                  \
  X(Process, INT32, REPORT, 0) X(FlashUsed, INT32, REPORT, 0) X(FocalLength, FLOAT, REPORT, 0)              \
  X(ExposureTime, FLOAT, REPORT, 0) X(ApertureFNumber, FLOAT, REPORT, 0) X(Distance, FLOAT, REPORT, 0)      \
  X(CCDWidth, FLOAT, REPORT, 0) X(ExposureBias, FLOAT, REPORT, 0) X(Whitebalance, INT32, REPORT, 0)         \
  X(MeteringMode, INT32, REPORT, 0) X(ExposureProgram, INT32, REPORT, 0) X(ISOequivalent, INT32, REPORT, 0) \
  X(CompressionLevel, INT32, REPORT, 0) X(FocalplaneXRes, FLOAT, REPORT, 0)                                 \
  X(FocalplaneYRes, FLOAT, REPORT, 0) X(FocalplaneUnits, FLOAT, REPORT, 0) X(Xresolution, FLOAT, REPORT, 0) \
  X(Yresolution, FLOAT, REPORT, 0) X(ResolutionUnit, FLOAT, REPORT, 0) X(Brightness, FLOAT, REPORT, 0)

// Since 1.1.
#define EXIFINFO_EXTRA_FIELDS(X)                                                                                  \
  X(ModifyDate, TEXT, TEXT, exifinfo::kModifyDate) X(CreateDate, TEXT, TEXT, exifinfo::kCreateDate)               \
  X(OffsetTime, TEXT, TEXT, exifinfo::kOffsetTime) X(OffsetTimeOriginal, TEXT, TEXT, exifinfo::kOffsetTimeOriginal) \
  X(OffsetTimeDigitized, TEXT, TEXT, exifinfo::kOffsetTimeDigitized) X(SubSecTime, TEXT, TEXT, exifinfo::kSubSecTime) \
  X(SubSecTimeOriginal, TEXT, TEXT, exifinfo::kSubSecTimeOriginal)                                                \
  X(SubSecTimeDigitized, TEXT, TEXT, exifinfo::kSubSecTimeDigitized) X(Software, TEXT, TEXT, exifinfo::kSoftware) \
  X(Artist, TEXT, TEXT, exifinfo::kArtist) X(Copyright, TEXT, TEXT, exifinfo::kCopyright)                         \
  X(ImageDescription, TEXT, TEXT, exifinfo::kImageDescription) X(ImageUniqueID, TEXT, TEXT, exifinfo::kImageUniqueID) \
  X(CameraOwnerName, TEXT, TEXT, exifinfo::kCameraOwnerName)                                                      \
  X(BodySerialNumber, TEXT, TEXT, exifinfo::kBodySerialNumber) X(LensMake, TEXT, TEXT, exifinfo::kLensMake)       \
  X(LensModel, TEXT, TEXT, exifinfo::kLensModel) X(LensSerialNumber, TEXT, TEXT, exifinfo::kLensSerialNumber)     \
  X(CaptureTime, TEXT, CAPTURE_TIME, 0) X(GPSDateTime, TEXT, GPS_DATE_TIME, 0)                                    \
  X(ISO, INT32, INT, exifinfo::kIso) X(FocalLengthIn35mmFormat, INT32, INT, exifinfo::kFocalLengthIn35mmFormat)   \
  X(ColorSpace, INT32, INT, exifinfo::kColorSpace) X(ExifImageWidth, INT32, INT, exifinfo::kExifImageWidth)       \
  X(ExifImageHeight, INT32, INT, exifinfo::kExifImageHeight) X(ExposureMode, INT32, INT, exifinfo::kExposureMode) \
  X(SceneCaptureType, INT32, INT, exifinfo::kSceneCaptureType) X(HasGPS, INT32, HAS_GPS, 0)                       \
  X(GPSLatitude, DOUBLE, DOUBLE, exifinfo::kGpsLatitude) X(GPSLongitude, DOUBLE, DOUBLE, exifinfo::kGpsLongitude) \
  X(GPSAltitude, DOUBLE, DOUBLE, exifinfo::kGpsAltitude)                                                          \
  X(GPSImgDirection, DOUBLE, DOUBLE, exifinfo::kGpsImgDirection)                                                  \
  X(LensMinFocalLength, DOUBLE, DOUBLE, exifinfo::kLensMinFocalLength)                                            \
  X(LensMaxFocalLength, DOUBLE, DOUBLE, exifinfo::kLensMaxFocalLength)                                            \
  X(LensMinFNumber, DOUBLE, DOUBLE, exifinfo::kLensMinFNumber) X(LensMaxFNumber, DOUBLE, DOUBLE, exifinfo::kLensMaxFNumber)

namespace exifinfo_api {

struct Field {
  const char* name;
  exifinfo_type type;
  size_t offset;
};

#define EXIFINFO_AS_FIELD(member, type, source, index) Field{#member, EXIFINFO_TYPE_##type, offsetof(exifinfo_photo, member)},
constexpr Field kFields[] = {EXIFINFO_REPORT_FIELDS(EXIFINFO_AS_FIELD) EXIFINFO_EXTRA_FIELDS(EXIFINFO_AS_FIELD)};
#undef EXIFINFO_AS_FIELD
constexpr size_t kFieldCount = sizeof kFields / sizeof kFields[0];

// The checks, at compile time.
template <int Type> struct CType;
template <> struct CType<EXIFINFO_TYPE_TEXT> { using type = const char*; };
template <> struct CType<EXIFINFO_TYPE_INT32> { using type = int32_t; };
template <> struct CType<EXIFINFO_TYPE_FLOAT> { using type = float; };
template <> struct CType<EXIFINFO_TYPE_DOUBLE> { using type = double; };

#define EXIFINFO_CHECK_TYPE(member, kind, source, index)                                                          \
  static_assert(std::is_same<decltype(exifinfo_photo::member), CType<EXIFINFO_TYPE_##kind>::type>::value, \
                #member " is not of the type its line says");
EXIFINFO_REPORT_FIELDS(EXIFINFO_CHECK_TYPE)
EXIFINFO_EXTRA_FIELDS(EXIFINFO_CHECK_TYPE)
#undef EXIFINFO_CHECK_TYPE

constexpr size_t SizeOf(exifinfo_type type) {
  return type == EXIFINFO_TYPE_TEXT ? sizeof(const char*) : type == EXIFINFO_TYPE_DOUBLE ? sizeof(double) : 4;
}

// True when the lines [first, end) are members that follow one another with nothing between
// (but alignment), from the offset `start` to the offset `stop`.
constexpr bool Contiguous(size_t first, size_t end, size_t start, size_t stop) {
  size_t at = start;
  for (size_t k = first; k < end; ++k) {
    const size_t align = SizeOf(kFields[k].type);
    at = (at + align - 1) / align * align;
    if (kFields[k].offset != at) return false;
    at += SizeOf(kFields[k].type);
  }
  return at == stop;
}
static_assert(EXIFINFO_REPORT_FIELD_COUNT == 29, "the report's 29 values");
static_assert(Contiguous(0, EXIFINFO_REPORT_FIELD_COUNT, offsetof(exifinfo_photo, Version), offsetof(exifinfo_photo, HasExif)),
              "every member from Version to Brightness has its line, in struct order");
static_assert(Contiguous(EXIFINFO_REPORT_FIELD_COUNT, kFieldCount,
                         offsetof(exifinfo_photo, report_wide_length) + sizeof(size_t), offsetof(exifinfo_photo, container)),
              "every member from ModifyDate to LensMaxFNumber has its line, in struct order");

// The core's extra values, each taken by exactly one line, in their order.
constexpr int kTextIndexes[] = {
#define EXIFINFO_TEXT_INDEX(member, type, source, index) EXIFINFO_INDEX_##source(index)
#define EXIFINFO_INDEX_TEXT(index) index,
#define EXIFINFO_INDEX_INT(index)
#define EXIFINFO_INDEX_DOUBLE(index)
#define EXIFINFO_INDEX_CAPTURE_TIME(index)
#define EXIFINFO_INDEX_GPS_DATE_TIME(index)
#define EXIFINFO_INDEX_HAS_GPS(index)
    EXIFINFO_EXTRA_FIELDS(EXIFINFO_TEXT_INDEX)};
#undef EXIFINFO_INDEX_TEXT
#undef EXIFINFO_INDEX_INT
#define EXIFINFO_INDEX_TEXT(index)
#define EXIFINFO_INDEX_INT(index) index,
constexpr int kIntIndexes[] = {EXIFINFO_EXTRA_FIELDS(EXIFINFO_TEXT_INDEX)};
#undef EXIFINFO_INDEX_INT
#undef EXIFINFO_INDEX_DOUBLE
#define EXIFINFO_INDEX_INT(index)
#define EXIFINFO_INDEX_DOUBLE(index) index,
constexpr int kDoubleIndexes[] = {EXIFINFO_EXTRA_FIELDS(EXIFINFO_TEXT_INDEX)};
#undef EXIFINFO_INDEX_TEXT
#undef EXIFINFO_INDEX_INT
#undef EXIFINFO_INDEX_DOUBLE
#undef EXIFINFO_INDEX_CAPTURE_TIME
#undef EXIFINFO_INDEX_GPS_DATE_TIME
#undef EXIFINFO_INDEX_HAS_GPS
#undef EXIFINFO_TEXT_INDEX

template <size_t N>
constexpr bool InOrder(const int (&indexes)[N], int count) {
  for (size_t k = 0; k < N; ++k)
    if (indexes[k] != static_cast<int>(k)) return false;
  return static_cast<int>(N) == count;
}
static_assert(InOrder(kTextIndexes, exifinfo::kExtraTextCount), "each extra text has one line, in the core's order");
static_assert(InOrder(kIntIndexes, exifinfo::kExtraIntCount), "each extra integer has one line, in the core's order");
static_assert(InOrder(kDoubleIndexes, exifinfo::kExtraDoubleCount), "each extra double has one line, in the core's order");

}  // namespace exifinfo_api
