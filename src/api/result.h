// SPDX-License-Identifier: MIT
// A read's result as the C API hands it out: one allocation holding the public struct, then its
// texts (in member order, last_error after them), the report in UTF-8 and in wide characters,
// and the thumbnail's copy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "container/containers.h"
#include "io/range_reader.h"
#include "exif/extra_values.h"
#include "exifinfo.h"
#include "exif/image_info.h"
#include "jpeg/read_photo.h"

namespace exifinfo_api {

// Texts laid one after another, each with its NUL, in a result's own allocation from `next`
// on (the caller sized the space): Put copies one and returns where it now lies.
struct TextPacker {
  char* next;
  const char* Put(const char* text, size_t length) {
    std::memcpy(next, text, length);
    next[length] = '\0';
    const char* at = next;
    next += length + 1;
    return at;
  }
};

// Everything a result holds, gathered while the reader lives (the thumbnail is in its copy).
struct Gathered {
  const exifinfo::ImageInfo* info = nullptr;
  const exifinfo::ExtraValues* extras = nullptr;
  const exifinfo::MetaPackets* packets = nullptr;  // XMP and IPTC found (null: none)
  exifinfo::ReadEnding read;
  exifinfo::Container container = exifinfo::Container::kUnknown;
  const exifinfo::PiecesSource* pieces = nullptr;  // exifinfo_read_ranges: what it lacked
  const char* lastError = "";
  const uint8_t* thumbnail = nullptr;
  uint32_t thumbnailLength = 0;
  uint32_t thumbnailOffset = 0;
};


// The result of what was gathered, into *out: 0, or ENOMEM (nothing kept).
int MakeResult(const Gathered& g, exifinfo_photo** out);

// One input of a batch (exifinfo_input) read as exifinfo_read_path, _fd or _memory reads it;
// without `thumbnail` the result has no thumbnail's copy (thumbnail null, thumbnail_size 0).
int ReadInput(const exifinfo_input& input, bool thumbnail, exifinfo_photo** photo);

}  // namespace exifinfo_api
