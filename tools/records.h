// SPDX-License-Identifier: MIT
// One file's record as a JSON line, a CSV row or an index row: the keys of the library's record
// table (exifinfo_record_*, so the list is spelled nowhere here), each the file's own value,
// null in JSON and empty in CSV when absent.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "exifinfo.h"

namespace exifinfo_tool {

// What is known of one file: its result, or why there is none.
struct FileRecord {
  std::string path;
  const exifinfo_photo* photo = nullptr;  // null when the file could not be opened or read
  std::string error;                      // then: why
};

// One column of JSON and CSV: a key of the record table.
struct Column {
  std::string name;
  size_t key = 0;  // index in the record table
  int type = EXIFINFO_TYPE_CALLER;
  bool IsPath() const { return type == EXIFINFO_TYPE_CALLER && name == "path"; }
};

// Every column, in the record table's order.
std::vector<Column> AllColumns();
// The columns named in `list` (comma-separated keys, in any case), in that order. False, with
// the first unknown key in `unknown`, when a key names no column.
bool SelectColumns(const std::string& list, std::vector<Column>& out, std::string& unknown);
// What --list-fields prints: a line for each column, in order: its key, its type in JSON
// ("text", "integer", "number", "boolean") and what it means.
std::string FieldList();
// The keys nearest to an unknown `key`, best first, at most three: those holding it (in any
// case), then those holding it with a few letters changed. Empty when none is near.
std::vector<std::string> NearestKeys(const std::string& key);

// One line, no line end, as the library writes it (exifinfo_record_json); "" when memory ran out.
std::string JsonLine(const FileRecord& record, const std::vector<Column>& columns);
std::string CsvHeader(const std::vector<Column>& columns);                         // with its CRLF
std::string CsvRow(const FileRecord& record, const std::vector<Column>& columns);  // with its CRLF

// One column's value as a database stores it: the library's value (exifinfo_record_value: null,
// an integer, a real or a text; true and false as 1 and 0). The path and error are the tool's.
struct SqlValue {
  enum Kind { kNull, kInteger, kReal, kText } kind = kNull;
  int64_t integer = 0;
  double real = 0;
  std::string text;
};
SqlValue ColumnSqlValue(const FileRecord& record, const Column& column);
// Values packed into one string, in order (a kind byte, then 8 bytes, or a 4-byte length and
// the text): a result waiting for the printer holds one allocation, as a JSON line does.
void PackSqlValue(const SqlValue& value, std::string& packed);
// The value at `at` in `packed`, and `at` moved past it; false at the end. A text is given as
// a view into `packed` (`text`, `textLength`); `value.text` stays empty.
bool UnpackSqlValue(const std::string& packed, size_t& at, SqlValue& value, const char*& text, size_t& textLength);
// The column's declared type: "TEXT", "INTEGER" or "REAL".
const char* ColumnSqlType(const Column& column);

// One CSV field as RFC 4180 writes it: quoted when it holds a comma, a quote, CR or LF (or
// starts or ends with a space), quotes doubled.
std::string CsvField(const std::string& text);

// The text with every byte sequence that is not well-formed UTF-8 replaced by U+FFFD.
std::string Utf8OrReplacement(const std::string& bytes);

}  // namespace exifinfo_tool
