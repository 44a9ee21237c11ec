// SPDX-License-Identifier: MIT
// The C API's memory entry point: bytes -> exifinfo_read_memory, with the report's invariants,
// the thumbnail inside the input, the typed values equal to the report's, and the result
// equal to the core's report of the same bytes.
#include <cstdint>
#include <cstdio>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "exifinfo.h"
#include "report/photo_report.h"
#include "text/utf8.h"
#include "report_shape.h"

namespace {

using fuzz_checks::Broken;

// The report's lines from the typed values: "%d" and "%f", under the field table's keys.
void CheckValuesAreTheReports(const exifinfo_photo& p) {
  const std::string report(p.report, p.report_length);
  size_t from = report.find("\r\nData:\r\n");
  if (from == std::string::npos) Broken("no Data: line");
  for (size_t i = 0; i < EXIFINFO_REPORT_FIELD_COUNT; ++i) {
    const char* at = reinterpret_cast<const char*>(&p) + exifinfo_field_offset(i);
    char value[128];
    switch (exifinfo_field_type(i)) {
      case EXIFINFO_TYPE_TEXT:
        if (report.find(*reinterpret_cast<const char* const*>(at)) == std::string::npos) Broken("text value");
        continue;
      case EXIFINFO_TYPE_INT32: std::snprintf(value, sizeof value, "%d", *reinterpret_cast<const int32_t*>(at)); break;
      default: std::snprintf(value, sizeof value, "%f", static_cast<double>(*reinterpret_cast<const float*>(at)));
    }
    const std::string line = std::string("\r\n") + exifinfo_field_name(i) + "=" + value + "\r\n";
    const size_t found = report.find(line, from);
    if (found == std::string::npos) Broken("typed value differs from the report's");
    from = found + 1;
  }
}

// The values beyond the report: texts terminated within their bound and valid UTF-8 (the
// allocation's end is past the struct), integers -1 or as read, doubles finite or NaN, HasGPS
// exactly when both coordinates are usable and in range.
void CheckExtraShape(const exifinfo_photo& p) {
  for (size_t i = EXIFINFO_REPORT_FIELD_COUNT; i < exifinfo_field_count(); ++i) {
    const char* at = reinterpret_cast<const char*>(&p) + exifinfo_field_offset(i);
    if (exifinfo_field_type(i) == EXIFINFO_TYPE_TEXT) {
      const char* text = *reinterpret_cast<const char* const*>(at);
      if (text == nullptr || strnlen(text, 1024) > 1023) Broken("extra text unterminated or too long");
    } else if (exifinfo_field_type(i) == EXIFINFO_TYPE_DOUBLE) {
      const double value = *reinterpret_cast<const double*>(at);
      if (std::isinf(value)) Broken("extra double infinite");
    }
  }
  const bool usable = !std::isnan(p.GPSLatitude) && !std::isnan(p.GPSLongitude);
  if (p.HasGPS != (usable ? 1 : 0)) Broken("HasGPS disagrees with the coordinates");
  if (usable && (std::fabs(p.GPSLatitude) > 90 || std::fabs(p.GPSLongitude) > 180)) Broken("coordinates out of range");
}

// The record's JSON line: one object on one line, its texts escaped (no control byte raw),
// well-formed UTF-8, the length the sizing call said.
void CheckRecordLine(const exifinfo_photo& p) {
  const size_t length = exifinfo_record_json(&p, nullptr, nullptr, nullptr, 0, nullptr, 0);
  std::string line(length, '\0');
  if (exifinfo_record_json(&p, nullptr, nullptr, nullptr, 0, &line[0], length + 1) != length) Broken("line length");
  if (line.compare(0, 13, "{\"path\":null,") != 0 || line.back() != '}') Broken("line is no record object");
  for (const char c : line)
    if (static_cast<unsigned char>(c) < 0x20) Broken("a control byte in the line");
  if (!exifinfo::IsWellFormedUtf8(reinterpret_cast<const uint8_t*>(line.data()), line.size())) Broken("line not UTF-8");
}

}  // namespace

// The same bytes read by the resume loop of exifinfo_read_ranges, fetching what each result
// asks for, with the total size known or not: the photo must be the memory read's, within a
// bounded number of rounds.
void CheckResumedRead(const std::vector<uint8_t>& bytes, const exifinfo_photo& whole, bool sizeKnown) {
  std::vector<std::vector<uint8_t>> held;
  std::vector<uint64_t> offsets;
  bool ended = false;
  for (int round = 0; round < 64; ++round) {
    std::vector<exifinfo_range> ranges;
    for (size_t i = 0; i < held.size(); ++i) ranges.push_back({offsets[i], held[i].data(), held[i].size()});
    exifinfo_photo* p = nullptr;
    const uint64_t total = sizeKnown || ended ? bytes.size() : EXIFINFO_SIZE_UNKNOWN;
    if (exifinfo_read_ranges(ranges.data(), ranges.size(), total, &p) != 0 || p == nullptr) Broken("a resumed read failed");
    if (p->ending != EXIFINFO_NEEDS_MORE) {
      const bool same = p->ending == whole.ending && p->HasExif == whole.HasExif && p->container == whole.container &&
                        p->report_length == whole.report_length &&
                        std::memcmp(p->report, whole.report, whole.report_length) == 0 &&
                        p->thumbnail_size == whole.thumbnail_size &&
                        (p->thumbnail_size == 0 || std::memcmp(p->thumbnail, whole.thumbnail, p->thumbnail_size) == 0);
      exifinfo_free(p);
      if (!same) Broken("a resumed read differs from the memory read");
      return;
    }
    const uint64_t offset = p->next_offset, length = p->next_length;
    exifinfo_free(p);
    if (length == 0) Broken("needs more, of nothing");
    const uint64_t begin = offset < bytes.size() ? offset : bytes.size();
    const uint64_t end = offset + length < bytes.size() ? offset + length : bytes.size();
    if (end - begin < length) ended = true;  // a short fetch: the photo ends there
    if (begin == end && sizeKnown) Broken("asked for bytes past a known end");
    held.emplace_back(bytes.begin() + static_cast<long>(begin), bytes.begin() + static_cast<long>(end));
    offsets.push_back(begin);
  }
  Broken("a resumed read that never ends");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes(data, data + size);  // exact size: the first byte over is caught
  const uint8_t none = 0;
  exifinfo_photo* photo = nullptr;
  const int status = exifinfo_read_memory(size != 0 ? bytes.data() : &none, size, &photo);
  if (status != 0 || photo == nullptr) Broken("a read from memory failed");
  fuzz_checks::CheckShape(photo->report_wide, photo->report_wide_length, photo->report_wide_length + 1);
  CheckValuesAreTheReports(*photo);
  CheckExtraShape(*photo);
  if (photo->thumbnail != nullptr) {
    // A copy of bytes of the input: its offset names them inside the EXIF block.
    if (photo->thumbnail_size == 0 || photo->thumbnail_size > size) Broken("thumbnail size");
    bool found = false;
    for (size_t at = 0; !found && at + photo->thumbnail_size <= size; ++at)
      found = std::memcmp(bytes.data() + at, photo->thumbnail, photo->thumbnail_size) == 0;
    if (!found) Broken("thumbnail bytes are not the input's");
  } else if (photo->thumbnail_size != 0) {
    Broken("thumbnail size without bytes");
  }
  CheckRecordLine(*photo);
  CheckResumedRead(bytes, *photo, true);
  CheckResumedRead(bytes, *photo, false);
  if (photo->container != EXIFINFO_CONTAINER_JPEG && photo->container != EXIFINFO_CONTAINER_UNKNOWN) {
    // Other containers: EXIFInfo reads JPEG only, so the report is the values' own.
    exifinfo_free(photo);
    return 0;
  }
  if ((photo->container == EXIFINFO_CONTAINER_UNKNOWN) != (photo->ending == EXIFINFO_NOT_A_JPEG))
    Broken("a container with no ending of its own, or an ending without one");
  static wchar_t report[exifinfo::kReportCapacity], block[exifinfo::kDataBlockCapacity];
  const size_t length = exifinfo::ReportBytes(bytes.data(), bytes.size(), {report, exifinfo::kReportCapacity},
                                              {block, exifinfo::kDataBlockCapacity}, nullptr);
  if (length != photo->report_wide_length || std::wmemcmp(report, photo->report_wide, length) != 0)
    Broken("the C API's report differs from the core's");
  exifinfo_free(photo);
  return 0;
}
