// SPDX-License-Identifier: MIT
#include "records.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "text/utf8.h"

#define JSON_NOEXCEPTION 1  // the tool is built without exceptions
#include <nlohmann/json.hpp>

namespace exifinfo_tool {
namespace {

using nlohmann::ordered_json;

template <typename T>
T ValueAt(const exifinfo_photo* photo, size_t index) {
  T value;
  std::memcpy(&value, reinterpret_cast<const char*>(photo) + exifinfo_field_offset(index), sizeof value);
  return value;
}

// The columns after the report's values, in order.
constexpr const char* kTrailingColumns[] = {"HasExif", "ThumbnailOffset", "ThumbnailLength", "ending", "error"};

}  // namespace

std::string ShortestFloat(float value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  char digits[64];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  return std::string(digits, result.ptr);
}

std::string Utf8OrReplacement(const std::string& bytes) {
  std::string out(3 * bytes.size(), '\0');
  out.resize(exifinfo::Utf8WithReplacement(bytes.data(), bytes.size(), &out[0]));
  return out;
}

std::string CsvField(const std::string& text) {
  const bool quoted = text.find_first_of(",\"\r\n") != std::string::npos ||
                      (!text.empty() && (text.front() == ' ' || text.back() == ' '));
  if (!quoted) return text;
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string JsonLine(const FileRecord& record) {
  ordered_json o;
  o["path"] = record.path;
  const exifinfo_photo* p = record.photo;
  for (size_t i = 0; i < exifinfo_field_count(); ++i) {
    const char* name = exifinfo_field_name(i);
    if (p == nullptr) {
      o[name] = nullptr;
      continue;
    }
    switch (exifinfo_field_type(i)) {
      case EXIFINFO_TYPE_TEXT: o[name] = ValueAt<const char*>(p, i); break;
      case EXIFINFO_TYPE_INT32: o[name] = ValueAt<int32_t>(p, i); break;
      default: {
        // The double nearest the float's shortest decimal prints as that decimal again.
        const float value = ValueAt<float>(p, i);
        o[name] = std::isfinite(value) ? ordered_json(std::strtod(ShortestFloat(value).c_str(), nullptr))
                                       : ordered_json(nullptr);
      }
    }
  }
  o["HasExif"] = p != nullptr ? ordered_json(p->HasExif != 0) : ordered_json(nullptr);
  o["ThumbnailOffset"] = p != nullptr && p->thumbnail != nullptr ? ordered_json(p->thumbnail_offset) : ordered_json(nullptr);
  o["ThumbnailLength"] = p != nullptr ? ordered_json(p->thumbnail_size) : ordered_json(nullptr);
  o["ending"] = p != nullptr ? ordered_json(exifinfo_ending_name(p->ending)) : ordered_json(nullptr);
  o["error"] = record.error.empty() ? ordered_json(nullptr) : ordered_json(record.error);
  // A file name need not be UTF-8: bytes that are not become U+FFFD rather than failing.
  return o.dump(-1, ' ', false, ordered_json::error_handler_t::replace);
}

std::string CsvHeader() {
  std::string line = "path";
  for (size_t i = 0; i < exifinfo_field_count(); ++i) line += std::string(",") + exifinfo_field_name(i);
  for (const char* column : kTrailingColumns) line += std::string(",") + column;
  return line + "\r\n";
}

std::string CsvRow(const FileRecord& record) {
  std::string line = CsvField(Utf8OrReplacement(record.path));
  const exifinfo_photo* p = record.photo;
  for (size_t i = 0; i < exifinfo_field_count(); ++i) {
    line += ',';
    if (p == nullptr) continue;
    switch (exifinfo_field_type(i)) {
      case EXIFINFO_TYPE_TEXT: line += CsvField(ValueAt<const char*>(p, i)); break;
      case EXIFINFO_TYPE_INT32: line += std::to_string(ValueAt<int32_t>(p, i)); break;
      default: line += ShortestFloat(ValueAt<float>(p, i));
    }
  }
  if (p != nullptr) {
    line += p->HasExif != 0 ? ",true," : ",false,";
    if (p->thumbnail != nullptr) line += std::to_string(p->thumbnail_offset);
    line += "," + std::to_string(p->thumbnail_size) + "," + exifinfo_ending_name(p->ending) + ",";
  } else {
    line += ",,,,";
  }
  return line + CsvField(Utf8OrReplacement(record.error)) + "\r\n";
}

}  // namespace exifinfo_tool
