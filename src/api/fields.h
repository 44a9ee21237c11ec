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
#include "xmp/meta_values.h"

// X(member, type, source, index, meaning), one line a value, in struct order. Sources: REPORT,
// the report's values (a text by its place among the report's texts, a number from ImageInfo's
// member of the same name); TEXT, INT and DOUBLE, the core's extra values by index;
// CAPTURE_TIME, GPS_DATE_TIME and HAS_GPS, derived by the core. The meaning is what
// exifinfo_field_meaning gives: one line, with the tag where the value has one.
#define EXIFINFO_REPORT_FIELDS(X)                                                                                 \
  X(Version, TEXT, REPORT, 0, "EXIF version (0x9000), at most 4 characters")                                      \
  X(CameraMake, TEXT, REPORT, 1, "camera maker (0x010F), the report's copy of at most 31 bytes")                  \
  X(CameraModel, TEXT, REPORT, 2, "camera model (0x0110), the report's copy of at most 39 bytes")                 \
  X(DateTime, TEXT, REPORT, 3, "capture time as written (0x9003), at most 19 characters")                         \
  X(Comments, TEXT, REPORT, 4, "the first JPEG comment, or the EXIF user comment (0x9286)")                       \
  X(Height, INT32, REPORT, 0, "frame height in pixels (the JPEG frame, or the container's image)")                \
  X(Width, INT32, REPORT, 0, "frame width in pixels (the JPEG frame, or the container's image)")                  \
  X(Orientation, INT32, REPORT, 0, "orientation 1 to 8 (0x0112); 0 when absent or out of range")                  \
  X(IsColor, INT32, REPORT, 0, "1 when the frame is in colour")                                                   \
  X(Process, INT32, REPORT, 0, "the JPEG start-of-frame marker (192 baseline, 194 progressive)")                  \
  X(FlashUsed, INT32, REPORT, 0, "1 when the flash value (0x9209) says it fired")                                 \
  X(FocalLength, FLOAT, REPORT, 0, "focal length in mm (0x920A)")                                                 \
  X(ExposureTime, FLOAT, REPORT, 0, "exposure time in seconds (0x829A, else from the shutter speed value)")       \
  X(ApertureFNumber, FLOAT, REPORT, 0, "f-number (0x829D, else from the aperture values)")                        \
  X(Distance, FLOAT, REPORT, 0, "subject distance in metres (0x9206)")                                            \
  X(CCDWidth, FLOAT, REPORT, 0, "sensor width, from the focal-plane resolution and the largest pixel dimension")  \
  X(ExposureBias, FLOAT, REPORT, 0, "exposure compensation in EV (0x9204)")                                       \
  X(Whitebalance, INT32, REPORT, 0, "the report's white balance: the light source code (0x9208)")                 \
  X(MeteringMode, INT32, REPORT, 0, "metering mode code (0x9207)")                                                \
  X(ExposureProgram, INT32, REPORT, 0, "exposure program code (0x8822)")                                          \
  X(ISOequivalent, INT32, REPORT, 0, "the report's ISO (0x8827): a value below 50 times 200")                     \
  X(CompressionLevel, INT32, REPORT, 0, "compressed bits per pixel (0x9102), truncated")                          \
  X(FocalplaneXRes, FLOAT, REPORT, 0, "focal-plane X resolution (0xA20E)")                                        \
  X(FocalplaneYRes, FLOAT, REPORT, 0, "focal-plane Y resolution (0xA20F)")                                        \
  X(FocalplaneUnits, FLOAT, REPORT, 0, "inches per focal-plane resolution unit (0xA210)")                         \
  X(Xresolution, FLOAT, REPORT, 0, "X resolution (0x011A)")                                                       \
  X(Yresolution, FLOAT, REPORT, 0, "Y resolution (0x011B)")                                                       \
  X(ResolutionUnit, FLOAT, REPORT, 0, "inches per resolution unit (0x0128)")                                      \
  X(Brightness, FLOAT, REPORT, 0, "brightness value in APEX (0x9203)")

// Since 1.1.
#define EXIFINFO_EXTRA_FIELDS(X)                                                                                                     \
  X(ModifyDate, TEXT, TEXT, exifinfo::kModifyDate, "modification time as written (0x0132)")                                          \
  X(CreateDate, TEXT, TEXT, exifinfo::kCreateDate, "digitization time as written (0x9004)")                                          \
  X(OffsetTime, TEXT, TEXT, exifinfo::kOffsetTime, "UTC offset of ModifyDate (0x9010)")                                              \
  X(OffsetTimeOriginal, TEXT, TEXT, exifinfo::kOffsetTimeOriginal, "UTC offset of the capture time (0x9011)")                        \
  X(OffsetTimeDigitized, TEXT, TEXT, exifinfo::kOffsetTimeDigitized, "UTC offset of CreateDate (0x9012)")                            \
  X(SubSecTime, TEXT, TEXT, exifinfo::kSubSecTime, "fraction of a second of ModifyDate (0x9290)")                                    \
  X(SubSecTimeOriginal, TEXT, TEXT, exifinfo::kSubSecTimeOriginal, "fraction of a second of the capture time (0x9291)")              \
  X(SubSecTimeDigitized, TEXT, TEXT, exifinfo::kSubSecTimeDigitized, "fraction of a second of CreateDate (0x9292)")                  \
  X(Software, TEXT, TEXT, exifinfo::kSoftware, "software that made or edited the file (0x0131)")                                     \
  X(Artist, TEXT, TEXT, exifinfo::kArtist, "author (0x013B)")                                                                        \
  X(Copyright, TEXT, TEXT, exifinfo::kCopyright, "copyright notice (0x8298)")                                                        \
  X(ImageDescription, TEXT, TEXT, exifinfo::kImageDescription, "description (0x010E)")                                               \
  X(ImageUniqueID, TEXT, TEXT, exifinfo::kImageUniqueID, "unique identifier of the image (0xA420)")                                  \
  X(CameraOwnerName, TEXT, TEXT, exifinfo::kCameraOwnerName, "camera owner (0xA430)")                                                \
  X(BodySerialNumber, TEXT, TEXT, exifinfo::kBodySerialNumber, "camera body serial number (0xA431)")                                 \
  X(LensMake, TEXT, TEXT, exifinfo::kLensMake, "lens maker (0xA433)")                                                                \
  X(LensModel, TEXT, TEXT, exifinfo::kLensModel, "lens model (0xA434)")                                                              \
  X(LensSerialNumber, TEXT, TEXT, exifinfo::kLensSerialNumber, "lens serial number (0xA435)")                                        \
  X(CaptureTime, TEXT, CAPTURE_TIME, 0, "capture time in ISO 8601, with its fraction and UTC offset where known")                    \
  X(GPSDateTime, TEXT, GPS_DATE_TIME, 0, "GPS date and time in ISO 8601, UTC")                                                       \
  X(ISO, INT32, INT, exifinfo::kIso, "ISO as written (0x8827, else 0x8833)")                                                         \
  X(FocalLengthIn35mmFormat, INT32, INT, exifinfo::kFocalLengthIn35mmFormat, "35 mm equivalent focal length in mm (0xA405)")         \
  X(ColorSpace, INT32, INT, exifinfo::kColorSpace, "colour space: 1 sRGB, 65535 uncalibrated (0xA001)")                              \
  X(ExifImageWidth, INT32, INT, exifinfo::kExifImageWidth, "image width the EXIF block gives (0xA002)")                              \
  X(ExifImageHeight, INT32, INT, exifinfo::kExifImageHeight, "image height the EXIF block gives (0xA003)")                           \
  X(ExposureMode, INT32, INT, exifinfo::kExposureMode, "exposure mode: 0 auto, 1 manual, 2 bracketing (0xA402)")                     \
  X(SceneCaptureType, INT32, INT, exifinfo::kSceneCaptureType, "scene type: 0 standard, 1 landscape, 2 portrait, 3 night (0xA406)")  \
  X(HasGPS, INT32, HAS_GPS, 0, "1 when latitude and longitude are both usable")                                                      \
  X(GPSLatitude, DOUBLE, DOUBLE, exifinfo::kGpsLatitude, "latitude in degrees, north positive")                                      \
  X(GPSLongitude, DOUBLE, DOUBLE, exifinfo::kGpsLongitude, "longitude in degrees, east positive")                                    \
  X(GPSAltitude, DOUBLE, DOUBLE, exifinfo::kGpsAltitude, "altitude in metres, below sea level negative")                             \
  X(GPSImgDirection, DOUBLE, DOUBLE, exifinfo::kGpsImgDirection, "direction the camera faced, degrees from north")                   \
  X(LensMinFocalLength, DOUBLE, DOUBLE, exifinfo::kLensMinFocalLength, "the lens's shortest focal length in mm (0xA432)")            \
  X(LensMaxFocalLength, DOUBLE, DOUBLE, exifinfo::kLensMaxFocalLength, "the lens's longest focal length in mm (0xA432)")             \
  X(LensMinFNumber, DOUBLE, DOUBLE, exifinfo::kLensMinFNumber, "the lens's f-number at its shortest focal length (0xA432)")          \
  X(LensMaxFNumber, DOUBLE, DOUBLE, exifinfo::kLensMaxFNumber, "the lens's f-number at its longest focal length (0xA432)")

// Since 1.5: the members of exifinfo_photo's `file`, the file's own values, in struct order.
#define EXIFINFO_FILE_FIELDS(X)                                                                                      \
  X(Make, TEXT, TEXT, exifinfo::kMake, "camera maker (0x010F)")                                                      \
  X(Model, TEXT, TEXT, exifinfo::kModel, "camera model (0x0110)")                                                    \
  X(DateTimeOriginal, TEXT, TEXT, exifinfo::kDateTimeOriginal, "capture time as written (0x9003)")                  \
  X(UserComment, TEXT, TEXT, exifinfo::kUserComment, "user comment (0x9286), the text after its character code")    \
  X(Comment, TEXT, TEXT, exifinfo::kComment, "the first JPEG comment section")                                      \
  X(LensInfo, TEXT, TEXT, exifinfo::kLensInfo, "lens range (0xA432): shortest and longest focal length, their f-numbers") \
  X(ExposureProgram, INT32, INT, exifinfo::kExposureProgram, "exposure program (0x8822): 1 manual, 2 normal, 3 aperture priority...") \
  X(MeteringMode, INT32, INT, exifinfo::kMeteringMode, "metering mode (0x9207): 2 centre-weighted, 3 spot, 5 multi-segment...") \
  X(LightSource, INT32, INT, exifinfo::kLightSource, "light source (0x9208): 0 unknown, 1 daylight, 4 flash...")    \
  X(Flash, INT32, INT, exifinfo::kFlash, "flash (0x9209): bit 0 fired, bits 3-4 mode, bit 6 red-eye reduction")     \
  X(WhiteBalance, INT32, INT, exifinfo::kWhiteBalance, "white balance (0xA403): 0 auto, 1 manual")                   \
  X(Orientation, INT32, INT, exifinfo::kOrientation, "orientation (0x0112): 1 upright, 3 upside down, 6 and 8 turned") \
  X(ResolutionUnit, INT32, INT, exifinfo::kResolutionUnit, "unit of the resolutions (0x0128): 2 inches, 3 centimetres") \
  X(ImageWidth, INT32, INT, exifinfo::kImageWidth, "width of the main image in pixels (a raw file's full image)")  \
  X(ImageHeight, INT32, INT, exifinfo::kImageHeight, "height of the main image in pixels")                          \
  X(ThumbnailLength, INT32, INT, exifinfo::kThumbnailLength, "bytes of the embedded thumbnail")                     \
  X(HasExif, INT32, INT, exifinfo::kExifRead, "an EXIF block was found and its first directory read")              \
  X(ExposureTime, DOUBLE, DOUBLE, exifinfo::kExposureTime, "exposure time in seconds (0x829A)")                     \
  X(FNumber, DOUBLE, DOUBLE, exifinfo::kFNumber, "f-number (0x829D)")                                                \
  X(ExposureCompensation, DOUBLE, DOUBLE, exifinfo::kExposureCompensation, "exposure compensation in EV (0x9204)")   \
  X(FocalLength, DOUBLE, DOUBLE, exifinfo::kFocalLength, "focal length in mm (0x920A)")                              \
  X(MaxApertureValue, DOUBLE, DOUBLE, exifinfo::kMaxApertureValue, "the lens's widest aperture as an f-number (0x9205)") \
  X(SubjectDistance, DOUBLE, DOUBLE, exifinfo::kSubjectDistance, "subject distance in metres (0x9206)")              \
  X(DigitalZoomRatio, DOUBLE, DOUBLE, exifinfo::kDigitalZoomRatio, "digital zoom ratio (0xA404)")                    \
  X(XResolution, DOUBLE, DOUBLE, exifinfo::kXResolution, "pixels per resolution unit across (0x011A)")              \
  X(YResolution, DOUBLE, DOUBLE, exifinfo::kYResolution, "pixels per resolution unit down (0x011B)")

// Since 1.7: members of exifinfo_photo after record_present, in struct order.
#define EXIFINFO_TAIL_FIELDS(X)                                                                                  \
  X(CaptureTimeSource, TEXT, CAPTURE_TIME_SOURCE, 0, "where CaptureTime came from: exif, quicktime (a phone's own), xmp, iptc, mvhd (a video's header, UTC)") \
  X(Duration, DOUBLE, DOUBLE, exifinfo::kDuration, "a video's (or CR3's) length in seconds (its movie header)")             \
  X(Rotation, INT32, INT, exifinfo::kRotation, "a video's (or CR3's) rotation: 0, 90, 180 or 270 degrees clockwise (its track matrix)")

// Since 1.8: members after Rotation, in struct order. Sources: META_TEXT and META_LIST, XMP's
// and IPTC's values by index; CITY, DATE_CREATED, RATING and WARNING, derived from them.
#define EXIFINFO_META_FIELDS(X)                                                                                    \
  X(warning, TEXT, WARNING, 0, "what the read passed over or read in part (an XMP packet too large or damaged...)") \
  X(Rating, DOUBLE, RATING, 0, "XMP rating (xmp:Rating): -1 rejected, 0 unrated, 1 to 5 stars")                     \
  X(Label, TEXT, META_TEXT, exifinfo::kLabel, "XMP colour label (xmp:Label)")                                       \
  X(Subject, LIST, META_LIST, exifinfo::kSubject, "XMP keywords (dc:subject)")                                      \
  X(HierarchicalSubject, LIST, META_LIST, exifinfo::kHierarchicalSubject, "XMP keyword paths (lr:hierarchicalSubject)") \
  X(Title, TEXT, META_TEXT, exifinfo::kTitle, "XMP title (dc:title, the default language's)")                       \
  X(Description, TEXT, META_TEXT, exifinfo::kDescription, "XMP description (dc:description, the default language's)") \
  X(Creator, LIST, META_LIST, exifinfo::kCreator, "XMP authors (dc:creator)")                                       \
  X(Rights, TEXT, META_TEXT, exifinfo::kRights, "XMP rights (dc:rights, the default language's)")                   \
  X(City, TEXT, CITY, 0, "city (XMP photoshop:City, else IPTC 2:90)")                                               \
  X(State, TEXT, META_TEXT, exifinfo::kState, "state or province (XMP photoshop:State)")                             \
  X(Country, TEXT, META_TEXT, exifinfo::kCountry, "country (XMP photoshop:Country)")                                 \
  X(RegionName, LIST, META_LIST, exifinfo::kRegionName, "names of the XMP regions (MWG): the people in face regions") \
  X(DateCreated, TEXT, DATE_CREATED, 0, "date created (XMP photoshop:DateCreated, else IPTC 2:55 and 2:60)")        \
  X(Keywords, LIST, META_LIST, exifinfo::kKeywords, "IPTC keywords (2:25)")                                          \
  X(ObjectName, TEXT, META_TEXT, exifinfo::kObjectName, "IPTC object name (2:05)")                                   \
  X(Caption, TEXT, META_TEXT, exifinfo::kCaption, "IPTC caption (Caption-Abstract, 2:120)")                          \
  X(ByLine, LIST, META_LIST, exifinfo::kByLine, "IPTC authors (By-line, 2:80)")                                  \
  X(sidecar, TEXT, SIDECAR, 0, "the XMP sidecar applied to the photo (NAME.xmp or NAME.EXT.xmp beside it)")

namespace exifinfo_api {

struct Field {
  const char* name;
  exifinfo_type type;
  size_t offset;
  const char* meaning;
};

#define EXIFINFO_AS_FIELD(member, type, source, index, meaning) \
  Field{#member, EXIFINFO_TYPE_##type, offsetof(exifinfo_photo, member), meaning},
constexpr Field kFields[] = {EXIFINFO_REPORT_FIELDS(EXIFINFO_AS_FIELD) EXIFINFO_EXTRA_FIELDS(EXIFINFO_AS_FIELD)};
#undef EXIFINFO_AS_FIELD
constexpr size_t kFieldCount = sizeof kFields / sizeof kFields[0];

// The checks, at compile time.
template <int Type> struct CType;
template <> struct CType<EXIFINFO_TYPE_TEXT> { using type = const char*; };
template <> struct CType<EXIFINFO_TYPE_INT32> { using type = int32_t; };
template <> struct CType<EXIFINFO_TYPE_FLOAT> { using type = float; };
template <> struct CType<EXIFINFO_TYPE_DOUBLE> { using type = double; };
template <> struct CType<EXIFINFO_TYPE_LIST> { using type = const char* const*; };

#define EXIFINFO_CHECK_TYPE(member, kind, source, index, meaning)                                                          \
  static_assert(std::is_same<decltype(exifinfo_photo::member), CType<EXIFINFO_TYPE_##kind>::type>::value, \
                #member " is not of the type its line says");
EXIFINFO_REPORT_FIELDS(EXIFINFO_CHECK_TYPE)
EXIFINFO_EXTRA_FIELDS(EXIFINFO_CHECK_TYPE)
#undef EXIFINFO_CHECK_TYPE

constexpr size_t SizeOf(exifinfo_type type) {
  return type == EXIFINFO_TYPE_TEXT || type == EXIFINFO_TYPE_LIST ? sizeof(const char*)
         : type == EXIFINFO_TYPE_DOUBLE                           ? sizeof(double)
                                                                  : 4;
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
#define EXIFINFO_TEXT_INDEX(member, type, source, index, meaning) EXIFINFO_INDEX_##source(index)
#define EXIFINFO_INDEX_TEXT(index) index,
#define EXIFINFO_INDEX_INT(index)
#define EXIFINFO_INDEX_DOUBLE(index)
#define EXIFINFO_INDEX_CAPTURE_TIME(index)
#define EXIFINFO_INDEX_GPS_DATE_TIME(index)
#define EXIFINFO_INDEX_HAS_GPS(index)
#define EXIFINFO_INDEX_CAPTURE_TIME_SOURCE(index)
    EXIFINFO_EXTRA_FIELDS(EXIFINFO_TEXT_INDEX) EXIFINFO_FILE_FIELDS(EXIFINFO_TEXT_INDEX) EXIFINFO_TAIL_FIELDS(EXIFINFO_TEXT_INDEX)};
#undef EXIFINFO_INDEX_TEXT
#undef EXIFINFO_INDEX_INT
#define EXIFINFO_INDEX_TEXT(index)
#define EXIFINFO_INDEX_INT(index) index,
constexpr int kIntIndexes[] = {EXIFINFO_EXTRA_FIELDS(EXIFINFO_TEXT_INDEX) EXIFINFO_FILE_FIELDS(EXIFINFO_TEXT_INDEX) EXIFINFO_TAIL_FIELDS(EXIFINFO_TEXT_INDEX)};
#undef EXIFINFO_INDEX_INT
#undef EXIFINFO_INDEX_DOUBLE
#define EXIFINFO_INDEX_INT(index)
#define EXIFINFO_INDEX_DOUBLE(index) index,
constexpr int kDoubleIndexes[] = {EXIFINFO_EXTRA_FIELDS(EXIFINFO_TEXT_INDEX) EXIFINFO_FILE_FIELDS(EXIFINFO_TEXT_INDEX) EXIFINFO_TAIL_FIELDS(EXIFINFO_TEXT_INDEX)};
#undef EXIFINFO_INDEX_TEXT
#undef EXIFINFO_INDEX_INT
#undef EXIFINFO_INDEX_DOUBLE
#undef EXIFINFO_INDEX_CAPTURE_TIME
#undef EXIFINFO_INDEX_GPS_DATE_TIME
#undef EXIFINFO_INDEX_HAS_GPS
#undef EXIFINFO_INDEX_CAPTURE_TIME_SOURCE
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

#define EXIFINFO_CHECK_FILE_TYPE(member, kind, source, index, meaning)                                           \
  static_assert(std::is_same<decltype(exifinfo_file_values::member), CType<EXIFINFO_TYPE_##kind>::type>::value, \
                #member " is not of the type its line says");
EXIFINFO_FILE_FIELDS(EXIFINFO_CHECK_FILE_TYPE)
#undef EXIFINFO_CHECK_FILE_TYPE

// The record: each key, where its value lies, and what it means. A key naming a member of the
// photo or of its `file` takes that member's type and meaning from the lines above.
struct RecordKey {
  const char* key;
  int type;
  size_t offset;
  const char* meaning;
};

constexpr bool SameName(const char* a, const char* b) {
  while (*a != '\0' && *a == *b) ++a, ++b;
  return *a == *b;
}
constexpr Field kFileFields[] = {
#define EXIFINFO_AS_FILE_FIELD(member, type, source, index, meaning) \
  Field{#member, EXIFINFO_TYPE_##type, offsetof(exifinfo_photo, file) + offsetof(exifinfo_file_values, member), meaning},
    EXIFINFO_FILE_FIELDS(EXIFINFO_AS_FILE_FIELD)
#undef EXIFINFO_AS_FILE_FIELD
};
// Where the members of `table` end when each follows the one before with nothing between (but
// alignment), from the offset `start`; SIZE_MAX when one does not.
template <size_t N>
constexpr size_t PackedEnd(const Field (&table)[N], size_t start) {
  size_t at = start;
  for (const Field& f : table) {
    const size_t align = SizeOf(f.type);
    at = (at + align - 1) / align * align;
    if (f.offset != at) return SIZE_MAX;
    at += align;
  }
  return at;
}
constexpr bool FileFieldsFollow() {
  return PackedEnd(kFileFields, offsetof(exifinfo_photo, file)) == offsetof(exifinfo_photo, file) + sizeof(exifinfo_file_values);
}
static_assert(FileFieldsFollow(), "every member of exifinfo_file_values has its line, in struct order");

constexpr Field kTailFields[] = {
#define EXIFINFO_AS_TAIL_FIELD(member, type, source, index, meaning) \
  Field{#member, EXIFINFO_TYPE_##type, offsetof(exifinfo_photo, member), meaning},
    EXIFINFO_TAIL_FIELDS(EXIFINFO_AS_TAIL_FIELD)
#undef EXIFINFO_AS_TAIL_FIELD
};
#define EXIFINFO_CHECK_TAIL_TYPE(member, kind, source, index, meaning)                                   \
  static_assert(std::is_same<decltype(exifinfo_photo::member), CType<EXIFINFO_TYPE_##kind>::type>::value, \
                #member " is not of the type its line says");
EXIFINFO_TAIL_FIELDS(EXIFINFO_CHECK_TAIL_TYPE)
constexpr size_t AlignedTo(size_t at, size_t alignment) { return (at + alignment - 1) / alignment * alignment; }
constexpr bool TailFieldsFollow() {
  const size_t end = PackedEnd(kTailFields, offsetof(exifinfo_photo, record_present) + sizeof(exifinfo_photo::record_present));
  return end != SIZE_MAX && AlignedTo(end, alignof(const char*)) == offsetof(exifinfo_photo, warning);
}
static_assert(TailFieldsFollow(), "every member from record_present to Rotation has its line, in struct order");

constexpr Field kMetaFields[] = {
#define EXIFINFO_AS_META_FIELD(member, type, source, index, meaning) \
  Field{#member, EXIFINFO_TYPE_##type, offsetof(exifinfo_photo, member), meaning},
    EXIFINFO_META_FIELDS(EXIFINFO_AS_META_FIELD)
#undef EXIFINFO_AS_META_FIELD
};
EXIFINFO_META_FIELDS(EXIFINFO_CHECK_TAIL_TYPE)
constexpr bool MetaFieldsFollow() {
  const size_t end = PackedEnd(kMetaFields, offsetof(exifinfo_photo, warning));
  return end != SIZE_MAX && AlignedTo(end, alignof(exifinfo_photo)) == sizeof(exifinfo_photo);
}
static_assert(MetaFieldsFollow(), "every member after Rotation has its line, in struct order");
#undef EXIFINFO_CHECK_TAIL_TYPE

template <size_t N>
constexpr RecordKey FromTable(const char* key, const char* member, const Field (&table)[N]) {
  for (const Field& f : table)
    if (SameName(f.name, member)) return RecordKey{key, f.type, f.offset, f.meaning};
  return RecordKey{nullptr, -1, 0, nullptr};  // no such member: fails the check below
}
constexpr RecordKey Member(const char* key, const char* member) { return FromTable(key, member, kFields); }
constexpr RecordKey Member(const char* key) { return Member(key, key); }
constexpr RecordKey File(const char* key) { return FromTable(key, key, kFileFields); }
constexpr RecordKey Tail(const char* key) { return FromTable(key, key, kTailFields); }
constexpr RecordKey Meta(const char* key) { return FromTable(key, key, kMetaFields); }
constexpr RecordKey Flag(RecordKey key) { return RecordKey{key.key, EXIFINFO_TYPE_FLAG, key.offset, key.meaning}; }

constexpr RecordKey kRecord[] = {
    {"path", EXIFINFO_TYPE_CALLER, 0, "the file's path, as given or as found under a folder"},
    {"container", EXIFINFO_TYPE_CONTAINER, offsetof(exifinfo_photo, container),
     "the container: jpeg, tiff, heif, avif, png, webp, raf, cr3, jxl, unknown"},
    {"ending", EXIFINFO_TYPE_ENDING, offsetof(exifinfo_photo, ending),
     "how the read ended: end_of_metadata, start_of_scan, premature_end, damaged..."},
    {"error", EXIFINFO_TYPE_CALLER, 0, "why the file could not be read, or the last problem its read met"},
    Flag(File("HasExif")),
    Flag(Member("HasGPS")),
    // The camera.
    File("Make"), File("Model"), Member("Software"), Member("SerialNumber", "BodySerialNumber"),
    Member("OwnerName", "CameraOwnerName"), Member("LensMake"), Member("LensModel"), Member("LensSerialNumber"),
    File("LensInfo"),
    // The time.
    File("DateTimeOriginal"), Member("CreateDate"), Member("ModifyDate"), Member("OffsetTime"),
    Member("OffsetTimeOriginal"), Member("OffsetTimeDigitized"), Member("SubSecTime"), Member("SubSecTimeOriginal"),
    Member("SubSecTimeDigitized"), Member("GPSDateTime"), Member("CaptureTime"),
    // The exposure.
    File("ExposureTime"), File("FNumber"), Member("ISO"), File("ExposureProgram"), File("ExposureCompensation"),
    File("MeteringMode"), File("LightSource"), File("Flash"), File("FocalLength"), Member("FocalLengthIn35mmFormat"),
    File("MaxApertureValue"), File("SubjectDistance"), File("WhiteBalance"), Member("ExposureMode"),
    Member("SceneCaptureType"), File("DigitalZoomRatio"),
    // The image.
    File("ImageWidth"), File("ImageHeight"), File("Orientation"), File("XResolution"), File("YResolution"),
    File("ResolutionUnit"), Member("ColorSpace"), Member("ExifImageWidth"), Member("ExifImageHeight"),
    File("ThumbnailLength"),
    // The texts.
    Member("ImageDescription"), Member("Artist"), Member("Copyright"), Member("ImageUniqueID"), File("UserComment"),
    File("Comment"),
    // The place.
    Member("GPSLatitude"), Member("GPSLongitude"), Member("GPSAltitude"), Member("GPSImgDirection"),
    // Since 1.7: where the capture time came from; a video's length and rotation.
    Tail("CaptureTimeSource"), Tail("Duration"), Tail("Rotation"),
    // Since 1.8: XMP and IPTC, and what the read passed over.
    Meta("Rating"), Meta("Label"), Meta("Subject"), Meta("HierarchicalSubject"), Meta("Title"), Meta("Description"),
    Meta("Creator"), Meta("Rights"), Meta("City"), Meta("State"), Meta("Country"), Meta("RegionName"),
    Meta("DateCreated"), Meta("Keywords"), Meta("ObjectName"), Meta("Caption"), Meta("ByLine"), Meta("warning"),
    Meta("sidecar"),
};
constexpr size_t kRecordCount = sizeof kRecord / sizeof kRecord[0];

constexpr bool RecordResolves() {
  for (const RecordKey& r : kRecord)
    if (r.key == nullptr || r.meaning == nullptr) return false;
  for (size_t i = 0; i < kRecordCount; ++i)
    for (size_t j = i + 1; j < kRecordCount; ++j)
      if (SameName(kRecord[i].key, kRecord[j].key)) return false;
  return true;
}
static_assert(RecordResolves(), "every record key names a member with a line, and no key twice");
static_assert(kRecordCount <= 64 * sizeof(exifinfo_photo::record_present) / sizeof(uint64_t),
              "a presence bit for every record key");

}  // namespace exifinfo_api
