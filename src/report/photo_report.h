// The reentrant core of one report: open the files, read the picture, format, write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "jpeg/image_info.h"
#include "report/report_text.h"

namespace exifinfo {

struct ReportOutcome {
  bool inputOpened = false;
  int inputError = 0;         // errno of the failed open; 0 when opened
  bool outputRequested = false;
  bool outputWritten = false;  // the whole report reached the output file
  int outputError = 0;         // errno of the failed open or write
  bool outputIsInput = false;  // the output named the photo itself: left untouched
  size_t reportLength = 0;     // characters, terminator excluded
};

// What a read learned, for callers that want the values rather than the text.
struct PhotoDetails {
  ImageInfo info;              // ThumbnailStart is cleared: it pointed into the reader's copy
  bool hasThumbnail = false;
  uint32_t thumbnailOffset = 0;  // from the start of the EXIF block's TIFF header, as the tag says
};

// Reads the photo at inputPath (UTF-8; null: cannot be opened) and builds its report into
// `report`. When outputPath is neither null nor empty, the output file is opened (created or
// emptied) before the photo is read and the report written to it as UTF-8, unless it is the
// photo itself. The scanner's diagnostic lines go to `diagnostics` (null: nowhere).
ReportOutcome ReportFile(const char* inputPath, const char* outputPath, WideBuffer report,
                         WideBuffer dataBlock, FILE* diagnostics, PhotoDetails* details = nullptr);

// The same read over an open stream (read from where it stands), and over bytes in memory.
size_t ReportStream(FILE* input, WideBuffer report, WideBuffer dataBlock, FILE* diagnostics,
                    PhotoDetails* details = nullptr);
size_t ReportBytes(const uint8_t* data, size_t size, WideBuffer report, WideBuffer dataBlock,
                   FILE* diagnostics);

// Writes length characters of text as UTF-8; false unless every byte was written.
bool WriteUtf8(FILE* stream, const wchar_t* text, size_t length);

}  // namespace exifinfo
