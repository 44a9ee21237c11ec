// SPDX-License-Identifier: MIT
// Writes embedded thumbnails under one folder, named after their photos.
#pragma once

#include <string>

namespace exifinfo_tool {

class ThumbnailFolder {
 public:
  // `folder` must exist. `force`: replace files that exist.
  ThumbnailFolder(std::string folder, bool force) : folder_(std::move(folder)), force_(force) {}

  // Writes `size` bytes as FOLDER/RELATIVE.thumb.jpg, making the sub-folders RELATIVE names.
  // Nothing is written outside FOLDER (a name with an empty, "." or ".." component, or a
  // sub-folder that is a symbolic link, is refused), nothing is replaced unless `force`, and
  // no partial file is ever left: the bytes go to a temporary file in the same folder, which
  // takes the final name only once it is whole. Returns "" or why it was not written; `name`
  // gets the file's path.
  std::string Write(const std::string& relative, const unsigned char* bytes, size_t size, std::string& name) const;

 private:
  std::string folder_;
  bool force_;
};

}  // namespace exifinfo_tool
