// SPDX-License-Identifier: MIT
// libexif reading the same EXIF fields as the report. Usage: bench_libexif LIST
#include <libexif/exif-data.h>

#include <cstdint>
#include <cstdio>

#include "file_list.h"

namespace {

const ExifTag kTags[] = {
    EXIF_TAG_MAKE, EXIF_TAG_MODEL, EXIF_TAG_ORIENTATION, EXIF_TAG_X_RESOLUTION, EXIF_TAG_Y_RESOLUTION,
    EXIF_TAG_RESOLUTION_UNIT, EXIF_TAG_EXPOSURE_TIME, EXIF_TAG_FNUMBER, EXIF_TAG_EXPOSURE_PROGRAM,
    EXIF_TAG_ISO_SPEED_RATINGS, EXIF_TAG_EXIF_VERSION, EXIF_TAG_DATE_TIME_ORIGINAL,
    EXIF_TAG_COMPRESSED_BITS_PER_PIXEL, EXIF_TAG_SHUTTER_SPEED_VALUE, EXIF_TAG_APERTURE_VALUE,
    EXIF_TAG_BRIGHTNESS_VALUE, EXIF_TAG_EXPOSURE_BIAS_VALUE, EXIF_TAG_MAX_APERTURE_VALUE, EXIF_TAG_SUBJECT_DISTANCE,
    EXIF_TAG_METERING_MODE, EXIF_TAG_LIGHT_SOURCE, EXIF_TAG_FLASH, EXIF_TAG_FOCAL_LENGTH, EXIF_TAG_USER_COMMENT,
    EXIF_TAG_FOCAL_PLANE_X_RESOLUTION, EXIF_TAG_FOCAL_PLANE_Y_RESOLUTION, EXIF_TAG_FOCAL_PLANE_RESOLUTION_UNIT,
    EXIF_TAG_PIXEL_X_DIMENSION, EXIF_TAG_PIXEL_Y_DIMENSION};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  uint64_t checksum = 0;
  char value[1024];
  for (const std::string& path : ReadList(argv[1])) {
    ExifData* data = exif_data_new_from_file(path.c_str());
    if (data == nullptr) continue;
    for (const ExifTag tag : kTags) {
      ExifEntry* entry = exif_data_get_entry(data, tag);
      if (entry == nullptr) continue;
      exif_entry_get_value(entry, value, sizeof value);
      for (const char* c = value; *c != '\0'; ++c) checksum = checksum * 31 + static_cast<unsigned char>(*c);
    }
    exif_data_unref(data);
  }
  std::printf("libexif checksum %llu\n", static_cast<unsigned long long>(checksum));
  return 0;
}
