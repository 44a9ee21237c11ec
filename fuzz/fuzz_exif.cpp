// SPDX-License-Identifier: MIT
// The EXIF block alone: bytes -> ParseExifSection on a section copy of exactly that length.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "exif/exif_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 65533) return -1;  // longer than any section's contents can be
  std::vector<uint8_t> contents(data, data + size);
  exifinfo::ExifReader reader;
  if (!reader.HasInfo()) return 0;
  reader.ParseExifSection({contents.data(), contents.size()});
  const exifinfo::ImageInfo& info = reader.info();
  // The thumbnail, when recorded, lies inside the section copy.
  if (info.ThumbnailStart != nullptr) {
    const uint8_t* begin = contents.data();
    if (info.ThumbnailStart < begin || info.ThumbnailLength > contents.size() ||
        info.ThumbnailStart > begin + contents.size() - info.ThumbnailLength)
      std::abort();
  }
  // Text fields stay terminated within their arrays.
  if (info.Version[sizeof info.Version - 1] != 0 || info.CameraMake[sizeof info.CameraMake - 1] != 0 ||
      info.CameraModel[sizeof info.CameraModel - 1] != 0 || info.DateTime[sizeof info.DateTime - 1] != 0 ||
      info.Comments[199] != 0)
    std::abort();
  return 0;
}
