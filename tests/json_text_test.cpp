// SPDX-License-Identifier: MIT
// The JSON writers of the record's lines: numbers exactly as Python's repr lays them out (the
// expected texts are Python's own), reading back as the same double; strings escaped.
#include "text/json_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace {

std::string Number(double value) {
  exifinfo::TextBuffer out;
  exifinfo::AppendJsonNumber(out, value);
  return std::string(out.data(), out.size());
}

TEST(JsonText, NumbersAsPythonWritesThem) {
  const struct {
    double value;
    const char* python;
  } cases[] = {
      {72.0, "72.0"}, {0.004, "0.004"}, {1.0 / 60, "0.016666666666666666"}, {1e-05, "1e-05"}, {0.0001, "0.0001"},
      {1e15, "1000000000000000.0"}, {1e16, "1e+16"}, {1.2345678901234568e+17, "1.2345678901234568e+17"},
      {-0.0, "-0.0"}, {0.0, "0.0"}, {5e-324, "5e-324"}, {1.7976931348623157e+308, "1.7976931348623157e+308"},
      {-33.8688, "-33.8688"}, {14.843948364257813, "14.843948364257812"}, {0.1 + 0.2, "0.30000000000000004"},
      {1e22, "1e+22"}, {1e-7, "1e-07"}, {100.0, "100.0"}, {0.0005, "0.0005"}, {1234567890123456.7, "1234567890123456.8"},
      {std::nan(""), "null"}, {std::numeric_limits<double>::infinity(), "null"}, {-std::numeric_limits<double>::infinity(), "null"},
  };
  for (const auto& c : cases) EXPECT_EQ(Number(c.value), c.python) << c.python;
}

// Any finite double, from its bits: the text reads back as it, and is no longer than the
// 17 significant digits that always suffice (plus sign, point, exponent).
TEST(JsonText, EveryNumberReadsBackAsItself) {
  std::mt19937_64 random(20261210);
  for (int i = 0; i < 200000; ++i) {
    const uint64_t bits = random();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    if (!std::isfinite(value)) continue;
    const std::string text = Number(value);
    ASSERT_EQ(std::strtod(text.c_str(), nullptr), value) << text;
    ASSERT_LE(text.size(), 24u) << text;
  }
}

TEST(JsonText, StringsEscapedAndMalformedBytesReplaced) {
  const struct {
    std::string bytes, text, path;
  } cases[] = {
      {"plain.jpg", "\"plain.jpg\"", "\"plain.jpg\""},
      {"caf\xC3\xA9.jpg", "\"caf\xC3\xA9.jpg\"", "\"caf\xC3\xA9.jpg\""},     // UTF-8 stays as it is
      {"caf\xE9.jpg", "\"caf\xEF\xBF\xBD.jpg\"", "\"caf\\udce9.jpg\""},       // Latin-1: replaced, or a lone surrogate
      {"\xC3", "\"\xEF\xBF\xBD\"", "\"\\udcc3\""},                             // a sequence cut short
      {"\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"", "\"\\udced\\udca0\\udc80\""},  // an encoded surrogate
      {"a\"b\\c\n\x01\t\x7F", "\"a\\\"b\\\\c\\n\\u0001\\t\x7F\"", "\"a\\\"b\\\\c\\u000a\\u0001\\u0009\x7F\""},
  };
  for (const auto& c : cases) {
    exifinfo::TextBuffer text, path;
    exifinfo::AppendJsonString(text, c.bytes.data(), c.bytes.size());
    exifinfo::AppendJsonPath(path, c.bytes.data(), c.bytes.size());
    EXPECT_EQ(std::string(text.data(), text.size()), c.text);
    EXPECT_EQ(std::string(path.data(), path.size()), c.path);
  }
}

}  // namespace
