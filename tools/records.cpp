// SPDX-License-Identifier: MIT
#include "records.h"

#include <algorithm>
#include <cctype>
#include <charconv>
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
T ValueAt(const exifinfo_photo* photo, const Column& c) {
  T value;
  std::memcpy(&value, reinterpret_cast<const char*>(photo) + exifinfo_record_offset(c.key), sizeof value);
  return value;
}

bool Absent(const exifinfo_photo* p, const Column& c) {
  return !EXIFINFO_HAS(p, record_present) || ((p->record_present[c.key / 64] >> (c.key % 64)) & 1) == 0;
}

ordered_json ValueJson(const FileRecord& record, const Column& c) {
  const exifinfo_photo* p = record.photo;
  if (c.type == EXIFINFO_TYPE_CALLER) {
    if (c.IsPath()) return record.path;
    return record.error.empty() ? ordered_json(nullptr) : ordered_json(record.error);
  }
  if (p == nullptr || Absent(p, c)) return nullptr;
  switch (c.type) {
    case EXIFINFO_TYPE_TEXT: return ValueAt<const char*>(p, c);
    case EXIFINFO_TYPE_INT32: return ValueAt<int32_t>(p, c);
    case EXIFINFO_TYPE_DOUBLE: return ValueAt<double>(p, c);
    case EXIFINFO_TYPE_FLAG: return ValueAt<int32_t>(p, c) != 0;
    case EXIFINFO_TYPE_ENDING: return exifinfo_ending_name(ValueAt<int32_t>(p, c));
    case EXIFINFO_TYPE_CONTAINER: return exifinfo_container_name(ValueAt<int32_t>(p, c));
    default: return nullptr;
  }
}

std::string ValueCsv(const FileRecord& record, const Column& c) {
  const exifinfo_photo* p = record.photo;
  if (c.type == EXIFINFO_TYPE_CALLER) return CsvField(Utf8OrReplacement(c.IsPath() ? record.path : record.error));
  if (p == nullptr || Absent(p, c)) return "";
  switch (c.type) {
    case EXIFINFO_TYPE_TEXT: return CsvField(ValueAt<const char*>(p, c));
    case EXIFINFO_TYPE_INT32: return std::to_string(ValueAt<int32_t>(p, c));
    case EXIFINFO_TYPE_DOUBLE: {
      char digits[64];
      const auto result = std::to_chars(digits, digits + sizeof digits, ValueAt<double>(p, c));
      return std::string(digits, result.ptr);
    }
    case EXIFINFO_TYPE_FLAG: return ValueAt<int32_t>(p, c) != 0 ? "true" : "false";
    case EXIFINFO_TYPE_ENDING: return exifinfo_ending_name(ValueAt<int32_t>(p, c));
    case EXIFINFO_TYPE_CONTAINER: return exifinfo_container_name(ValueAt<int32_t>(p, c));
    default: return "";
  }
}

}  // namespace

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
  std::vector<Column> columns;
  for (size_t i = 0; i < exifinfo_record_count(); ++i)
    columns.push_back({exifinfo_record_key(i), i, exifinfo_record_type(i)});
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
  switch (column.type) {
    case EXIFINFO_TYPE_INT32: return "integer";
    case EXIFINFO_TYPE_DOUBLE: return "number";
    case EXIFINFO_TYPE_FLAG: return "boolean";
    default: return "text";
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
    const char* meaning = exifinfo_record_meaning(c.key);
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
  const ordered_json value = ValueJson(record, column);
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
  switch (column.type) {
    case EXIFINFO_TYPE_INT32:
    case EXIFINFO_TYPE_FLAG: return "INTEGER";
    case EXIFINFO_TYPE_DOUBLE: return "REAL";
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
    if (c.IsPath()) {
      o[c.name] = "";  // its place: the path is written below, byte for byte
      hasPath = true;
      continue;
    }
    o[c.name] = ValueJson(record, c);
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
    line += ValueCsv(record, c);
  }
  return line + "\r\n";
}

}  // namespace exifinfo_tool
