// SPDX-License-Identifier: MIT
// What the C API's tests share: an owned result, a temporary file, the three ways to read, and
// a result's every member as text, so that two results compare in one assertion.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "builders.h"
#include "exifinfo.h"
#include "test_files.h"

namespace {

using testing_builders::Bytes;
using testing_builders::TempFile;

struct PhotoFree {
  void operator()(exifinfo_photo* p) const { exifinfo_free(p); }
};
using Photo = std::unique_ptr<exifinfo_photo, PhotoFree>;


Photo FromMemory(const Bytes& bytes) {
  exifinfo_photo* p = nullptr;
  const uint8_t none = 0;
  EXPECT_EQ(exifinfo_read_memory(bytes.empty() ? &none : bytes.data(), bytes.size(), &p), 0);
  return Photo(p);
}
Photo FromPath(const std::string& path) {
  exifinfo_photo* p = nullptr;
  EXPECT_EQ(exifinfo_read_path(path.c_str(), &p), 0) << path;
  return Photo(p);
}
Photo FromDescriptor(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  exifinfo_photo* p = nullptr;
  EXPECT_EQ(exifinfo_read_fd(fd, &p), 0) << path;
  close(fd);
  return Photo(p);
}

// Every member of a result, as text, so that two results compare in one assertion.
std::string Describe(const exifinfo_photo* p) {
  if (p == nullptr) return "<no result>";
  std::string out;
  for (size_t i = 0; i < exifinfo_field_count(); ++i) {
    const char* at = reinterpret_cast<const char*>(p) + exifinfo_field_offset(i);
    out += exifinfo_field_name(i);
    out += '=';
    switch (exifinfo_field_type(i)) {
      case EXIFINFO_TYPE_TEXT: out += *reinterpret_cast<const char* const*>(at); break;
      case EXIFINFO_TYPE_INT32: out += std::to_string(*reinterpret_cast<const int32_t*>(at)); break;
      case EXIFINFO_TYPE_DOUBLE: {
        uint64_t bits;
        std::memcpy(&bits, at, 8);
        out += std::to_string(bits);
        break;
      }
      default: {
        uint32_t bits;  // every bit: 0.1 and its neighbour differ here
        std::memcpy(&bits, at, 4);
        out += std::to_string(bits);
      }
    }
    out += '\n';
  }
  out += "HasExif=" + std::to_string(p->HasExif) + " ending=" + exifinfo_ending_name(p->ending) +
         " errno=" + std::to_string(p->read_errno) + " last_error=" + p->last_error +
         " thumbnail=" + std::string(reinterpret_cast<const char*>(p->thumbnail), p->thumbnail_size) + "@" +
         std::to_string(p->thumbnail_offset) + "\n" + p->report;
  return out;
}

}  // namespace
