// SPDX-License-Identifier: MIT
// The report: five text lines, "Data:", and the 24 numeric lines, every line ended by CR LF.
#pragma once

#include <cstddef>

#include "exif/image_info.h"

namespace exifinfo {

// Large enough for the longest report a record can give (about 2,110 characters).
constexpr size_t kReportCapacity = 4096;
// The numeric lines stay below 950 characters whatever the record holds.
constexpr size_t kDataBlockCapacity = 1000;

// A wide-character buffer owned by the caller. Writes stay inside it and keep it terminated.
struct WideBuffer {
  wchar_t* data;
  size_t capacity;  // characters, terminator included
};

// The record's five texts (Version, CameraMake, CameraModel, DateTime, Comments) decoded once as
// UTF-8 (see RecordTextToUtf8), in report order. The result's members and the report share them.
struct RecordTexts {
  static constexpr int kCount = 5;
  // Each field's bytes at most tripled (a Windows-1252 byte is at most 3 UTF-8 bytes).
  static constexpr size_t kCapacity = 3 * (kVersionBytes + kCameraMakeBytes + kCameraModelBytes + kDateTimeBytes + kCommentsBytes);
  char bytes[kCapacity];
  size_t at[kCount];
  size_t length[kCount];
  const char* Text(int k) const { return bytes + at[k]; }
};
void DecodeRecordTexts(const ImageInfo& info, RecordTexts& texts);

// Large enough for the longest UTF-8 report a record can give (about 4,450 bytes).
constexpr size_t kReportUtf8Capacity = 8192;

// Builds the report as UTF-8 into out[0..capacity) (no terminator); returns its length in bytes.
// Anything past `capacity` is dropped.
size_t FormatReportUtf8(const ImageInfo& info, const RecordTexts& texts, char* out, size_t capacity);

// Builds the report of `info` into `report` as wide characters (the UTF-8 report decoded), and
// its numeric lines into `dataBlock`. When `utf8` is not null it receives the UTF-8 report
// (kReportUtf8Capacity bytes) and *utf8Length its length. Returns the report's length in
// characters (without the terminator).
size_t FormatReport(const ImageInfo& info, WideBuffer report, WideBuffer dataBlock, char* utf8 = nullptr,
                    size_t* utf8Length = nullptr);

// "%f" of a value: six digits after the point, correctly rounded; "inf", "-inf", "-0.000000".
// Writes at most `capacity` characters (no terminator) and returns how many.
size_t FormatFixed6(double value, char* out, size_t capacity);

}  // namespace exifinfo
