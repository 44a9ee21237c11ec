// SPDX-License-Identifier: MIT
#include "exif/exif_reader.h"

#include <cstring>
#include <new>

namespace exifinfo {

ExifReader::ExifReader() : ExifReader(nullptr) {
  // Value-initialisation zero-fills the record: empty texts, zero numbers, no thumbnail.
  Info = new (std::nothrow) ImageInfo{};
  OwnsInfo = Info != nullptr;
}

ExifReader::ExifReader(ImageInfo* info)
    : Info(info), LastError{}, LargestDimension(0), BigEndian(0), Sections{}, SectionCount(0),
      OwnsInfo(false), DirectoriesWalked(0), Ending(ScanEnding::kNotAJpeg), ThumbnailOffset(0) {}

ExifReader::~ExifReader() {
  for (JpegSection& section : Sections)
    if (!section.Lent) delete[] section.Bytes;
  if (OwnsInfo) delete Info;
}

bool ExifReader::Fail(const char* text) {
  ++Faults;
  std::strncpy(LastError, text, sizeof LastError - 1);
  LastError[sizeof LastError - 1] = '\0';
  return false;
}

bool ExifReader::End(ScanEnding ending, const char* text) {
  Ending = ending;
  if (text != nullptr) Fail(text);
  return false;
}

}  // namespace exifinfo
