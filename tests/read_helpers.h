// SPDX-License-Identifier: MIT
// Runs the core over bytes built in a test and hands back what it stored.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "builders.h"
#include "test_files.h"
#include "exif/exif_reader.h"
#include "report/photo_report.h"
#include "text/utf8.h"

namespace testing_builders {

// Collects what the reader prints to its diagnostics stream.
class CapturedStream {
 public:
  CapturedStream() : stream_(open_memstream(&buffer_, &size_)) {}
  ~CapturedStream() {
    if (stream_ != nullptr) std::fclose(stream_);
    std::free(buffer_);
  }
  FILE* get() const { return stream_; }
  std::string Text() {
    std::fflush(stream_);
    return std::string(buffer_, size_);
  }

 private:
  char* buffer_ = nullptr;
  size_t size_ = 0;
  FILE* stream_;
};

struct ScanResult {
  bool reachedScan = false;
  exifinfo::ImageInfo info{};
  std::string lastError;
  std::string diagnostics;
  int sectionCount = 0;
  bool uncountedSlotHoldsBuffer = false;  // a half-read section left in the slot after the last
};

inline ScanResult ScanJpeg(const Bytes& jpeg) {
  // An exact-size heap copy, so the first byte over is caught by the sanitizers.
  std::vector<uint8_t> copy(jpeg);
  exifinfo::ExifReader reader;
  exifinfo::InputStream stream(copy.data(), copy.size());
  CapturedStream diagnostics;
  ScanResult result;
  result.reachedScan = reader.ScanSections(stream, diagnostics.get());
  result.info = reader.info();
  result.lastError = reader.lastError();
  result.diagnostics = diagnostics.Text();
  result.sectionCount = reader.sectionCount();
  result.uncountedSlotHoldsBuffer =
      reader.sectionCount() < exifinfo::kMaxSections && reader.section(reader.sectionCount()).Bytes != nullptr;
  return result;
}

struct ExifResult {
  bool ok = false;
  exifinfo::ImageInfo info{};
  std::string lastError;
  int largestDimension = 0;
  uint32_t directoriesWalked = 0;
  int64_t thumbnailOffset = -1;  // from the TIFF block's start; -1 when none was recorded
  Bytes contentsAfter;           // the section contents after the walk (edited in place)
};

// Parses one APP1 "Exif" section made of `tiff`, into a fresh record or a copy of `start`.
inline ExifResult ParseTiff(const Bytes& tiff, const exifinfo::ImageInfo& start = exifinfo::ImageInfo{}) {
  Bytes contents = ExifContents(tiff);
  ExifResult result;
  result.info = start;
  exifinfo::ExifReader reader(&result.info);
  result.ok = reader.ParseExifSection({contents.data(), contents.size()});
  result.lastError = reader.lastError();
  result.largestDimension = reader.largestDimension();
  result.directoriesWalked = reader.directoriesWalked();
  if (result.info.ThumbnailStart != nullptr) {
    result.thumbnailOffset = reader.thumbnailOffset();
    result.info.ThumbnailStart = nullptr;  // it points into `contents`, which dies here
  }
  result.contentsAfter = contents;
  return result;
}

// The report of a record, as the UTF-8 text the output file gets.
inline std::string ReportText(const exifinfo::ImageInfo& info) {
  wchar_t report[exifinfo::kReportCapacity];
  wchar_t data[exifinfo::kDataBlockCapacity];
  char utf8[exifinfo::kReportUtf8Capacity];
  size_t length = 0;
  exifinfo::FormatReport(info, {report, exifinfo::kReportCapacity}, {data, exifinfo::kDataBlockCapacity}, utf8, &length);
  return std::string(utf8, length);
}

// The whole read of a stream held in memory, as the wide report.
inline std::wstring WideReportOfBytes(const Bytes& bytes) {
  Bytes copy(bytes);  // exact size: the first byte over is caught
  wchar_t report[exifinfo::kReportCapacity];
  wchar_t data[exifinfo::kDataBlockCapacity];
  const size_t n = exifinfo::ReportBytes(copy.data(), copy.size(), {report, exifinfo::kReportCapacity},
                                         {data, exifinfo::kDataBlockCapacity}, nullptr);
  return std::wstring(report, n);
}

// The "Key=value" line of a report, without its line end.
inline std::string ReportLine(const std::string& report, const std::string& key) {
  const std::string prefix = "\r\n" + key + "=";
  const size_t at = report.find(prefix);
  if (at == std::string::npos) return "<missing " + key + ">";
  const size_t start = at + prefix.size();
  return report.substr(start, report.find("\r\n", start) - start);
}

}  // namespace testing_builders
