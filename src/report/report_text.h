// SPDX-License-Identifier: MIT
// The report: five text lines, "Data:", and the 24 numeric lines, every line ended by CR LF.
#pragma once

#include <cstddef>

#include "jpeg/image_info.h"

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

// Builds the report of `info` into `report`, the numeric lines first into `dataBlock`.
// Returns the report's length in characters (without the terminator).
size_t FormatReport(const ImageInfo& info, WideBuffer report, WideBuffer dataBlock);

// "%f" of a value: six digits after the point, correctly rounded; "inf", "-inf", "-0.000000".
// Writes at most `capacity` characters (no terminator) and returns how many.
size_t FormatFixed6(double value, char* out, size_t capacity);

}  // namespace exifinfo
