// SPDX-License-Identifier: MIT
// Whole files for the suites, temporary files, and the report's text as UTF-8 through the library's one encoder.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <string>
#include <vector>

#include "text/utf8.h"

namespace testing_builders {

// A temporary file holding `bytes`, removed with the object.
class TempFile {
 public:
  explicit TempFile(const std::vector<uint8_t>& bytes) {
    char name[] = "/tmp/exifinfo_api_XXXXXX";
    const int fd = mkstemp(name);
    path_ = name;
    if (fd >= 0) {
      if (!bytes.empty() && write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) path_.clear();
      close(fd);
    }
  }
  ~TempFile() { unlink(path_.c_str()); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// A whole file's bytes; empty when it cannot be read.
inline std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::vector<uint8_t> bytes;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    uint8_t chunk[65536];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) bytes.insert(bytes.end(), chunk, chunk + n);
    std::fclose(f);
  }
  return bytes;
}
inline std::string ReadFileText(const std::string& path) {
  const std::vector<uint8_t> bytes = ReadFileBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

// Wide text as UTF-8; a character that is no code point shows as "<?>".
inline std::string Utf8Of(const std::wstring& wide) {
  std::string out;
  for (const wchar_t c : wide) {
    char encoded[4];
    const size_t n = c < 0 ? 0 : exifinfo::EncodeUtf8(static_cast<uint32_t>(c), encoded);
    out.append(n != 0 ? std::string(encoded, n) : std::string("<?>"));
  }
  return out;
}

}  // namespace testing_builders
