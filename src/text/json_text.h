// SPDX-License-Identifier: MIT
// JSON text as the record's lines are written: a growing buffer that never throws, and the
// writers of a string, an integer and a number. One layout for every line the library, the tool
// and the bindings give: no spaces, non-ASCII characters as they are, numbers as Python's
// json.dumps writes them, so a line made here and a line re-encoded by Python are the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace exifinfo {

// Bytes appended at its end. A failed allocation makes the buffer failed for good: later
// appends do nothing, and the owner checks failed() once at the end.
class TextBuffer {
 public:
  TextBuffer() = default;
  ~TextBuffer();
  TextBuffer(const TextBuffer&) = delete;
  TextBuffer& operator=(const TextBuffer&) = delete;

  void Append(const char* bytes, size_t count);
  void Append(char c) { Append(&c, 1); }
  void Append(const char* text);  // NUL-terminated
  const char* data() const { return data_; }
  size_t size() const { return size_; }
  bool failed() const { return failed_; }
  void Clear() { size_ = 0; }  // keeps the room
  // The bytes with a NUL after them, for the caller to free with FreeText; the buffer is left
  // empty. Null when the buffer failed (or the terminator finds no room).
  char* Release(size_t& length);

 private:
  bool Reserve(size_t more);
  char* data_ = nullptr;
  size_t size_ = 0, capacity_ = 0;
  bool failed_ = false;
};

// Frees a text a TextBuffer released (it is from malloc). Null does nothing.
void FreeText(char* text);

// A JSON string of `length` bytes of UTF-8: '"' and '\' escaped, \b \f \n \r \t, other control
// characters \u00XX, U+FFFD for each byte that starts no well-formed character.
void AppendJsonString(TextBuffer& out, const char* text, size_t length);
// A JSON string of a file name, whose bytes need not be UTF-8: each byte that starts no
// character is the lone surrogate U+DC80 + (byte - 0x80), as Python's "surrogateescape" reads
// it, so that os.fsencode(json.loads(line)["path"]) gives back the very bytes of the name; every
// control character is \u00XX.
void AppendJsonPath(TextBuffer& out, const char* text, size_t length);
void AppendJsonInteger(TextBuffer& out, int64_t value);
// The shortest decimal that reads back as `value`, laid out as Python's repr: "72.0", "0.004",
// "1e-05", "1e+16", "-0.0"; null for an infinity or NaN, which JSON has no number for.
void AppendJsonNumber(TextBuffer& out, double value);

}  // namespace exifinfo
