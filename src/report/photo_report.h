// SPDX-License-Identifier: MIT
// EXIFInfo's files: the reentrant core of one report (open the files, read the picture, format,
// write), over a path, a descriptor or bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "jpeg/read_photo.h"
#include "report/report_text.h"

namespace exifinfo {

struct ReportOutcome {
  bool inputOpened = false;
  int inputError = 0;         // errno of the failed open; 0 when opened
  bool outputRequested = false;
  bool outputWritten = false;  // the whole report reached the output file
  int outputError = 0;         // errno of the failed open or write
  bool outputIsInput = false;  // the output named the photo itself: left untouched
  ReadEnding read;             // meaningful when the input was opened
  bool nothingRead = true;     // no byte came from the input (a first read that failed, say)
  size_t reportLength = 0;     // characters, terminator excluded
};

// Reads the photo at inputPath (UTF-8; null: cannot be opened) and builds its report into
// `report`. When outputPath is neither null nor empty, the output file is opened (created, not
// yet emptied) before the photo is read, and the report written to it as UTF-8 once it is
// built, unless it is the photo itself. The scanner's diagnostic lines go to `diagnostics`
// (null: nowhere).
ReportOutcome ReportFile(const char* inputPath, const char* outputPath, WideBuffer report,
                         WideBuffer dataBlock, FILE* diagnostics);

// The same read over an open descriptor (from its current position, which a descriptor that
// can seek keeps) and over bytes in memory.
ReportOutcome ReportDescriptor(int fd, WideBuffer report, WideBuffer dataBlock, FILE* diagnostics);
size_t ReportBytes(const uint8_t* data, size_t size, WideBuffer report, WideBuffer dataBlock, FILE* diagnostics);

}  // namespace exifinfo
