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

namespace exifinfo_tool {
namespace {

// The library's value of a column; the caller's columns (path, error) are the tool's own.
exifinfo_value ValueOf(const FileRecord& record, const Column& c) {
  exifinfo_value value{};
  exifinfo_record_value(record.photo, c.key, &value);
  return value;
}

// A list's items, joined with "; " in one quoted cell: a reader splits the cell, not the row.
std::string ListCsv(const FileRecord& record, const Column& c) {
  const char* const* items;
  std::memcpy(&items, reinterpret_cast<const char*>(record.photo) + exifinfo_record_offset(c.key), sizeof items);
  std::string joined = "\"";
  for (size_t k = 0; items[k] != nullptr; ++k) {
    if (k != 0) joined += "; ";
    for (const char* at = items[k]; *at != '\0'; ++at) joined += *at == '"' ? std::string("\"\"") : std::string(1, *at);
  }
  return joined + "\"";
}

std::string ValueCsv(const FileRecord& record, const Column& c) {
  if (c.type == EXIFINFO_TYPE_CALLER) return CsvField(Utf8OrReplacement(c.IsPath() ? record.path : record.error));
  const exifinfo_value value = ValueOf(record, c);
  switch (value.kind) {
    case EXIFINFO_VALUE_TEXT: return CsvField(value.text);
    case EXIFINFO_VALUE_LIST: return ListCsv(record, c);
    case EXIFINFO_VALUE_INTEGER:
      if (c.type == EXIFINFO_TYPE_FLAG) return value.integer != 0 ? "true" : "false";
      return std::to_string(value.integer);
    case EXIFINFO_VALUE_REAL: {
      char digits[64];
      const auto result = std::to_chars(digits, digits + sizeof digits, value.real);
      return std::string(digits, result.ptr);
    }
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
    case EXIFINFO_TYPE_LIST: return "list";
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
  SqlValue out;
  if (column.type == EXIFINFO_TYPE_CALLER) {
    if (column.IsPath()) out.kind = SqlValue::kText, out.text = record.path;
    else if (!record.error.empty()) out.kind = SqlValue::kText, out.text = record.error;
    return out;
  }
  const exifinfo_value value = ValueOf(record, column);
  switch (value.kind) {
    case EXIFINFO_VALUE_INTEGER: out.kind = SqlValue::kInteger, out.integer = value.integer; break;
    case EXIFINFO_VALUE_REAL: out.kind = SqlValue::kReal, out.real = value.real; break;
    case EXIFINFO_VALUE_TEXT:
    case EXIFINFO_VALUE_LIST:  // a list as its JSON array: SQLite's json_each() reads it
      out.kind = SqlValue::kText, out.text = value.text;
      break;
    default: break;
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

std::string JsonLine(const FileRecord& record, const std::vector<Column>& columns) {
  std::vector<size_t> keys;
  for (const Column& c : columns) keys.push_back(c.key);
  const char* error = record.error.c_str();
  std::string line(2048, '\0');  // a full record's line is about 1.5 KB
  size_t length = exifinfo_record_json(record.photo, record.path.c_str(), error, keys.data(), keys.size(), &line[0],
                                       line.size() + 1);
  if (length > line.size()) {
    line.assign(length, '\0');
    length = exifinfo_record_json(record.photo, record.path.c_str(), error, keys.data(), keys.size(), &line[0],
                                  line.size() + 1);
  }
  line.resize(length);
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
