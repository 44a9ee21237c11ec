// SPDX-License-Identifier: MIT
// The reentrant core of one report: open the files, read the picture, format, write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "jpeg/exif_reader.h"
#include "jpeg/image_info.h"
#include "jpeg/input_stream.h"
#include "report/report_text.h"

namespace exifinfo {

// How one read went, beyond the values themselves.
struct ReadEnding {
  ScanEnding ending = ScanEnding::kNotAJpeg;
  int readError = 0;  // errno of the failed read when ending is kReadError
};

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

// Reads the photo on `stream` with a fresh reader and hands the finished reader to
// `visit(const ExifReader&, ReadEnding)` while it lives: the thumbnail points into one of its
// section copies, which die with it. A record that cannot be allocated reads nothing and ends
// as kOutOfMemory (the reader's Info is then null).
template <typename Visit>
void ReadPhoto(InputStream& stream, FILE* diagnostics, Visit&& visit) {
  ExifReader reader;
  ReadEnding read;
  if (reader.HasInfo()) {
    reader.ScanSections(stream, diagnostics);
    read.ending = reader.Ending;
    if (read.ending == ScanEnding::kReadError) read.readError = stream.error();
  } else {
    read.ending = ScanEnding::kOutOfMemory;
  }
  visit(static_cast<const ExifReader&>(reader), read);
}

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

// Writes length characters of text to `fd` as UTF-8; false (errno set) unless every byte was
// written.
bool WriteUtf8(int fd, const wchar_t* text, size_t length);

}  // namespace exifinfo
