// SPDX-License-Identifier: MIT
// Writes embedded thumbnails under one folder, named after their photos.
#pragma once

#include <string>

namespace exifinfo_tool {

// Makes SIGINT, SIGTERM and SIGHUP remove the named temporary files being written before the
// process ends as the signal would end it. Only the fallback for file systems without unnamed
// files (O_TMPFILE) names its temporaries; SIGKILL can leave one of those.
void RemoveTemporariesOnSignals();

class ThumbnailFolder {
 public:
  // `folder` must exist. `force`: replace files that exist. `unnamed`: write through unnamed
  // files where the file system has them (tests turn it off to reach the fallback).
  ThumbnailFolder(std::string folder, bool force, bool unnamed = true)
      : folder_(std::move(folder)), force_(force), unnamed_(unnamed) {}

  // Writes `size` bytes as FOLDER/RELATIVE.thumb.jpg, making the sub-folders RELATIVE names.
  // Nothing is written outside FOLDER (a name with an empty, "." or ".." component, or a
  // sub-folder that is a symbolic link, is refused), nothing is replaced unless `force`, and
  // no partial or temporary file is ever left: the bytes go to an unnamed file in the same
  // folder (O_TMPFILE), linked to the final name once whole; where the file system has no
  // unnamed files, to a hidden temporary one that a signal's handler removes. Returns "" or why
  // it was not written; `name` gets the file's path.
  std::string Write(const std::string& relative, const unsigned char* bytes, size_t size, std::string& name) const;

 private:
  std::string WriteUnnamed(int dir, int fd, const std::string& file, const unsigned char* bytes, size_t size) const;
  std::string WriteNamed(int dir, const std::string& file, const unsigned char* bytes, size_t size) const;

  std::string folder_;
  bool force_;
  bool unnamed_;
};

}  // namespace exifinfo_tool
