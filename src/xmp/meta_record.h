// SPDX-License-Identifier: MIT
// XMP and IPTC values as the record gives them: dates written as EXIF writes its times, a
// rating as a number, a position in degrees.
#pragma once

#include <cstddef>

#include "io/byte_view.h"
#include "xmp/meta_values.h"

namespace exifinfo {

constexpr size_t kMetaDateBytes = 48;

// An XMP date ("2019-07-24T11:25:40.5+03:00", "2019-07-24T11:25Z", "2019-07", "2019") as EXIF
// writes times: "2019:07:24 11:25:40.5+03:00", seconds ":00" where the date has none; a text of
// no such form as it is. Returns the length written (0: none; the text does not fit).
size_t XmpDateAsExif(ByteView value, char (&out)[kMetaDateBytes]);

// The record's DateCreated: XMP's photoshop:DateCreated, else IPTC's date with its time
// ("2019:07:24 11:25:40+03:00", or the date alone). Returns its length (0: none).
size_t MetaDateCreated(const MetaValues& meta, char (&out)[kMetaDateBytes]);

// The capture time XMP or IPTC give, in EXIF's form: XMP's exif:DateTimeOriginal,
// photoshop:DateCreated, xmp:CreateDate, else IPTC's date and time. `source` gets "xmp" or
// "iptc". Returns its length (0: none).
size_t MetaCaptureTime(const MetaValues& meta, char (&out)[kMetaDateBytes], const char*& source);

// A number XMP writes as a decimal or a fraction ("5", "-1", "2.5", "1234/10"); false otherwise.
bool XmpNumber(ByteView value, double& out);
// An XMP coordinate ("51,30.25N", "51,30,15N", or signed degrees) in degrees, south and west
// negative; false otherwise.
bool XmpCoordinate(ByteView value, double& out);

}  // namespace exifinfo
