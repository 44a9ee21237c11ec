// SPDX-License-Identifier: MIT
#include "records.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <exifinfo_support.h>

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

bool IsReportField(size_t index) { return index < EXIFINFO_REPORT_FIELD_COUNT; }

// A value added since the report, absent: an empty text, -1, NaN.
bool Absent(const exifinfo_photo* p, size_t index) {
  switch (exifinfo_field_type(index)) {
    case EXIFINFO_TYPE_TEXT: return *ValueAt<const char*>(p, index) == '\0';
    case EXIFINFO_TYPE_INT32: return ValueAt<int32_t>(p, index) == -1;
    case EXIFINFO_TYPE_DOUBLE: return std::isnan(ValueAt<double>(p, index));
    default: return false;
  }
}

ordered_json FieldJson(const exifinfo_photo* p, size_t i) {
  if (p == nullptr || (!IsReportField(i) && Absent(p, i))) return nullptr;
  switch (exifinfo_field_type(i)) {
    case EXIFINFO_TYPE_TEXT: return ValueAt<const char*>(p, i);
    case EXIFINFO_TYPE_INT32: return ValueAt<int32_t>(p, i);
    case EXIFINFO_TYPE_DOUBLE: {
      const double value = ValueAt<double>(p, i);
      return std::isfinite(value) ? ordered_json(value) : ordered_json(nullptr);
    }
    default: {
      // The double nearest the float's shortest decimal prints as that decimal again.
      const float value = ValueAt<float>(p, i);
      return std::isfinite(value) ? ordered_json(std::strtod(ShortestFloat(value).c_str(), nullptr))
                                  : ordered_json(nullptr);
    }
  }
}

std::string FieldCsv(const exifinfo_photo* p, size_t i) {
  if (p == nullptr || (!IsReportField(i) && Absent(p, i))) return "";
  switch (exifinfo_field_type(i)) {
    case EXIFINFO_TYPE_TEXT: return CsvField(ValueAt<const char*>(p, i));
    case EXIFINFO_TYPE_INT32: return std::to_string(ValueAt<int32_t>(p, i));
    case EXIFINFO_TYPE_DOUBLE: {
      char digits[64];
      const auto result = std::to_chars(digits, digits + sizeof digits, ValueAt<double>(p, i));
      return std::string(digits, result.ptr);
    }
    default: return ShortestFloat(ValueAt<float>(p, i));
  }
}

ordered_json OwnJson(const FileRecord& record, Column::Own own) {
  const exifinfo_photo* p = record.photo;
  switch (own) {
    case Column::kPath: return record.path;
    case Column::kHasExif: return p != nullptr ? ordered_json(p->HasExif != 0) : ordered_json(nullptr);
    case Column::kThumbnailOffset:
      return p != nullptr && p->thumbnail != nullptr ? ordered_json(p->thumbnail_offset) : ordered_json(nullptr);
    case Column::kThumbnailLength: return p != nullptr ? ordered_json(p->thumbnail_size) : ordered_json(nullptr);
    case Column::kEnding: return p != nullptr ? ordered_json(exifinfo_ending_name(p->ending)) : ordered_json(nullptr);
    case Column::kError: return record.error.empty() ? ordered_json(nullptr) : ordered_json(record.error);
    case Column::kContainer: return p != nullptr ? ordered_json(exifinfo_container_name(p->container)) : ordered_json(nullptr);
    default: return nullptr;
  }
}

std::string OwnCsv(const FileRecord& record, Column::Own own) {
  const exifinfo_photo* p = record.photo;
  switch (own) {
    case Column::kPath: return CsvField(Utf8OrReplacement(record.path));
    case Column::kHasExif: return p == nullptr ? "" : p->HasExif != 0 ? "true" : "false";
    case Column::kThumbnailOffset: return p != nullptr && p->thumbnail != nullptr ? std::to_string(p->thumbnail_offset) : "";
    case Column::kThumbnailLength: return p != nullptr ? std::to_string(p->thumbnail_size) : "";
    case Column::kEnding: return p != nullptr ? exifinfo_ending_name(p->ending) : "";
    case Column::kError: return CsvField(Utf8OrReplacement(record.error));
    case Column::kContainer: return p != nullptr ? exifinfo_container_name(p->container) : "";
    default: return "";
  }
}

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
  out.resize(exifinfo_support::Utf8WithReplacement(bytes.data(), bytes.size(), &out[0]));
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

std::vector<Column> AllColumns() {
  std::vector<Column> columns = {{"path", -1, Column::kPath, "the file's path, as given or as found under -r"}};
  const size_t count = exifinfo_field_count();
  for (size_t i = 0; i < count && IsReportField(i); ++i) columns.push_back({exifinfo_field_name(i), static_cast<int>(i)});
  columns.push_back({"HasExif", -1, Column::kHasExif, "whether an EXIF block was found and its first directory read"});
  columns.push_back({"ThumbnailOffset", -1, Column::kThumbnailOffset,
                     "the embedded thumbnail's offset from its TIFF header, when there is one"});
  columns.push_back({"ThumbnailLength", -1, Column::kThumbnailLength, "the embedded thumbnail's length in bytes"});
  columns.push_back({"ending", -1, Column::kEnding, "how the read ended: end_of_metadata, start_of_scan, premature_end, ..."});
  columns.push_back({"error", -1, Column::kError, "why the file could not be read, or the last problem its read met"});
  for (size_t i = EXIFINFO_REPORT_FIELD_COUNT; i < count; ++i) columns.push_back({exifinfo_field_name(i), static_cast<int>(i)});
  columns.push_back({"container", -1, Column::kContainer, "the container: jpeg, tiff, heif, avif, png, webp, raf, cr3, jxl"});
  return columns;
}

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The fewest edits (insertions, deletions, substitutions) that make `key` a part of `name`:
// "lattitude" is one edit from a part of "gpslatitude".
size_t EditsToPart(const std::string& key, const std::string& name) {
  std::vector<size_t> row(name.size() + 1, 0);  // a part may start anywhere in the name
  for (size_t i = 1; i <= key.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= name.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (key[i - 1] == name[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return *std::min_element(row.begin(), row.end());  // and end anywhere
}

const char* JsonType(const Column& column) {
  switch (column.own) {
    case Column::kHasExif: return "boolean";
    case Column::kThumbnailOffset:
    case Column::kThumbnailLength: return "integer";
    case Column::kField: break;
    default: return "text";
  }
  switch (exifinfo_field_type(static_cast<size_t>(column.field))) {
    case EXIFINFO_TYPE_TEXT: return "text";
    case EXIFINFO_TYPE_INT32: return "integer";
    default: return "number";
  }
}

}  // namespace

bool SelectColumns(const std::string& list, std::vector<Column>& out, std::string& unknown) {
  const std::vector<Column> all = AllColumns();
  out.clear();
  for (size_t at = 0; at <= list.size();) {
    const size_t comma = std::min(list.find(',', at), list.size());
    const std::string key = list.substr(at, comma - at), lower = Lower(key);
    const auto found = std::find_if(all.begin(), all.end(), [&](const Column& c) { return Lower(c.name) == lower; });
    if (found == all.end()) {
      unknown = key;
      return false;
    }
    out.push_back(*found);
    at = comma + 1;
  }
  return true;
}

std::string FieldList() {
  const std::vector<Column> all = AllColumns();
  size_t width = 0;
  for (const Column& c : all) width = std::max(width, c.name.size());
  std::string out;
  for (const Column& c : all) {
    const char* meaning = c.own == Column::kField ? exifinfo_field_meaning(static_cast<size_t>(c.field)) : c.meaning;
    out += c.name + std::string(width + 2 - c.name.size(), ' ');
    const std::string type = JsonType(c);
    out += type + std::string(9 - type.size(), ' ') + (meaning != nullptr ? meaning : "") + "\n";
  }
  return out;
}

std::vector<std::string> NearestKeys(const std::string& key) {
  const std::string lower = Lower(key);
  // Up to a quarter of the key's length in edits (at least one) is near; fewer ranks first.
  const size_t bound = std::max<size_t>(1, lower.size() / 4);
  std::vector<std::pair<size_t, std::string>> ranked;
  for (const Column& c : AllColumns()) {
    const size_t edits = EditsToPart(lower, Lower(c.name));
    if (edits <= bound) ranked.emplace_back(edits, c.name);
  }
  std::stable_sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::string> nearest;
  for (size_t k = 0; k < ranked.size() && k < 3; ++k) nearest.push_back(ranked[k].second);
  return nearest;
}

SqlValue ColumnSqlValue(const FileRecord& record, const Column& column) {
  const ordered_json value = column.own == Column::kField ? FieldJson(record.photo, static_cast<size_t>(column.field))
                                                          : OwnJson(record, column.own);
  SqlValue out;
  if (value.is_boolean()) {
    out.kind = SqlValue::kInteger, out.integer = value.get<bool>() ? 1 : 0;
  } else if (value.is_number_integer()) {
    out.kind = SqlValue::kInteger, out.integer = value.get<int64_t>();
  } else if (value.is_number_float()) {
    out.kind = SqlValue::kReal, out.real = value.get<double>();
  } else if (value.is_string()) {
    out.kind = SqlValue::kText, out.text = value.get<std::string>();
  }
  return out;
}

void PackSqlValue(const SqlValue& value, std::string& packed) {
  packed += static_cast<char>(value.kind);
  char bytes[8];
  switch (value.kind) {
    case SqlValue::kInteger: std::memcpy(bytes, &value.integer, 8); packed.append(bytes, 8); break;
    case SqlValue::kReal: std::memcpy(bytes, &value.real, 8); packed.append(bytes, 8); break;
    case SqlValue::kText: {
      const uint32_t length = static_cast<uint32_t>(value.text.size());
      std::memcpy(bytes, &length, 4);
      packed.append(bytes, 4);
      packed += value.text;
      break;
    }
    default: break;
  }
}

bool UnpackSqlValue(const std::string& packed, size_t& at, SqlValue& value, const char*& text, size_t& textLength) {
  if (at >= packed.size()) return false;
  value.kind = static_cast<SqlValue::Kind>(packed[at++]);
  switch (value.kind) {
    case SqlValue::kInteger: std::memcpy(&value.integer, packed.data() + at, 8); at += 8; break;
    case SqlValue::kReal: std::memcpy(&value.real, packed.data() + at, 8); at += 8; break;
    case SqlValue::kText: {
      uint32_t length = 0;
      std::memcpy(&length, packed.data() + at, 4);
      text = packed.data() + at + 4;
      textLength = length;
      at += 4 + length;
      break;
    }
    default: break;
  }
  return true;
}

const char* ColumnSqlType(const Column& column) {
  switch (column.own) {
    case Column::kField:
      switch (exifinfo_field_type(static_cast<size_t>(column.field))) {
        case EXIFINFO_TYPE_TEXT: return "TEXT";
        case EXIFINFO_TYPE_INT32: return "INTEGER";
        default: return "REAL";
      }
    case Column::kHasExif:
    case Column::kThumbnailOffset:
    case Column::kThumbnailLength: return "INTEGER";
    default: return "TEXT";
  }
}

std::string JsonString(const std::string& bytes) {
  std::string out = "\"";
  const auto* text = reinterpret_cast<const uint8_t*>(bytes.data());
  for (size_t i = 0; i < bytes.size();) {
    const uint8_t c = text[i];
    uint32_t codePoint = 0;
    const size_t length = c < 0x80 ? 1 : exifinfo_support::DecodeUtf8(bytes.data(), bytes.size(), i, codePoint);
    if (length == 0) {  // a byte that starts no character: U+DC80 to U+DCFF, as Python escapes it
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\udc%02x", c);
      out += escape;
      ++i;
      continue;
    }
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out.append(bytes, i, length);
    }
    i += length;
  }
  return out + "\"";
}

std::string JsonLine(const FileRecord& record, const std::vector<Column>& columns) {
  ordered_json o = ordered_json::object();
  bool hasPath = false;
  for (const Column& c : columns) {
    if (c.own == Column::kPath) {
      o[c.name] = "";  // its place: the path is written below, byte for byte
      hasPath = true;
      continue;
    }
    o[c.name] = c.own == Column::kField ? FieldJson(record.photo, static_cast<size_t>(c.field)) : OwnJson(record, c.own);
  }
  std::string line = o.dump(-1, ' ', false, ordered_json::error_handler_t::replace);
  if (hasPath) {
    // "path":"" is the only such pair: every other key is a field's, and the path's value is
    // the empty string, which no key equals.
    const std::string empty = "\"path\":\"\"";
    const size_t at = line.find(empty);
    if (at != std::string::npos) line.replace(at, empty.size(), "\"path\":" + JsonString(record.path));
  }
  return line;
}

std::string CsvHeader(const std::vector<Column>& columns) {
  std::string line;
  for (const Column& c : columns) line += (line.empty() ? "" : ",") + c.name;
  return line + "\r\n";
}

std::string CsvRow(const FileRecord& record, const std::vector<Column>& columns) {
  std::string line;
  bool first = true;
  for (const Column& c : columns) {
    if (!first) line += ',';
    first = false;
    line += c.own == Column::kField ? FieldCsv(record.photo, static_cast<size_t>(c.field)) : OwnCsv(record, c.own);
  }
  return line + "\r\n";
}

}  // namespace exifinfo_tool
