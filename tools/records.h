// SPDX-License-Identifier: MIT
// One file's values as a JSON line or a CSV row: the path, the report's 29 values (through the
// C API's field table, so the list is spelled nowhere here), HasExif, ThumbnailOffset,
// ThumbnailLength, how the read ended and, for a file that could not be read, an error text.
#pragma once

#include <string>

#include "exifinfo.h"

namespace exifinfo_tool {

// What is known of one file: its result, or why there is none.
struct FileRecord {
  std::string path;
  const exifinfo_photo* photo = nullptr;  // null when the file could not be opened or read
  std::string error;                      // then: why
};

std::string JsonLine(const FileRecord& record);  // one line, no line end
std::string CsvHeader();                         // with its CRLF
std::string CsvRow(const FileRecord& record);    // with its CRLF

// One CSV field as RFC 4180 writes it: quoted when it holds a comma, a quote, CR or LF (or
// starts or ends with a space), quotes doubled.
std::string CsvField(const std::string& text);

// The shortest decimal that reads back as the same single-precision value: 1/6400 is
// "0.00015625", 0.1f is "0.1". Infinities are "inf" and "-inf"; NaN is "nan".
std::string ShortestFloat(float value);

// The text with every byte sequence that is not well-formed UTF-8 replaced by U+FFFD.
std::string Utf8OrReplacement(const std::string& bytes);

}  // namespace exifinfo_tool
