// SPDX-License-Identifier: MIT
// Reading one photo: a stream in, a finished reader out. Every layer that reads a JPEG (the
// report, the C API, the tests) goes through here.
#pragma once

#include <cstdio>

#include "exif/exif_reader.h"
#include "io/input_stream.h"

namespace exifinfo {

// How one read went, beyond the values themselves.
struct ReadEnding {
  ScanEnding ending = ScanEnding::kNotAJpeg;
  int readError = 0;  // errno of the failed read when ending is kReadError
  uint32_t requests = 0;   // reads asked of the descriptor or source
  uint64_t bytesRead = 0;  // bytes they gave
  bool budgetSpent = false;  // the read was cut at what one photo may cost (ReadBudget)
};

// Reads the photo on `stream` with a fresh reader and hands the finished reader to
// `visit(const ExifReader&, ReadEnding)` while it lives: the thumbnail points into one of its
// section copies, which die with it. A record that cannot be allocated reads nothing and ends
// as kOutOfMemory (the reader then has no info). `extras`: also gather the values beyond the
// report (reader.extras()). `headerBound`: see ExifReader::BoundHeader.
template <typename Visit>
void ReadPhoto(InputStream& stream, FILE* diagnostics, bool extras, Visit&& visit, uint64_t headerBound = 0) {
  ExifReader reader;
  reader.GatherExtras(extras);
  reader.BoundHeader(headerBound);
  ReadEnding read;
  if (reader.HasInfo()) {
    reader.ScanSections(stream, diagnostics);
    read.ending = reader.ending();
    if (read.ending == ScanEnding::kReadError) read.readError = stream.error();
  } else {
    read.ending = ScanEnding::kOutOfMemory;
  }
  visit(static_cast<const ExifReader&>(reader), read);
}

}  // namespace exifinfo
