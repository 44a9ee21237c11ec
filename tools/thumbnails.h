// SPDX-License-Identifier: MIT
// Writes embedded thumbnails under one folder, named after their photos.
#pragma once

#include <mutex>
#include <set>
#include <string>

namespace exifinfo_tool {

// Makes SIGINT, SIGTERM and SIGHUP remove the named temporary files being written before the
// process ends as the signal would end it. Only the fallback for file systems without unnamed
// files (O_TMPFILE) names its temporaries; SIGKILL can leave one of those.
void RemoveTemporariesOnSignals();

// What became of one thumbnail.
enum class ThumbnailOutcome {
  kWritten,
  kKept,       // the file there holds the same bytes already: nothing to do
  kDiffers,    // the file there holds other bytes, and without --force it stays
  kFailed,     // not written: the reason says why
};

class ThumbnailFolder {
 public:
  // `folder` must exist; it is opened once, here, and every thumbnail is written below that
  // descriptor, so that the folder swapped for a link during a run changes nothing. An empty
  // `folder`: no thumbnails. `force`: replace files that exist. `unnamed`: write through
  // unnamed files where the file system has them (tests turn it off to reach the fallback).
  ThumbnailFolder(std::string folder, bool force, bool unnamed = true);
  ~ThumbnailFolder();
  ThumbnailFolder(const ThumbnailFolder&) = delete;
  ThumbnailFolder& operator=(const ThumbnailFolder&) = delete;

  // Writes `size` bytes as FOLDER/RELATIVE.thumb.jpg, making the sub-folders RELATIVE names.
  // Nothing is written outside FOLDER (a name with an empty, "." or ".." component, or a
  // sub-folder that is a symbolic link, is refused), a name given twice in one run is refused
  // the second time (two photos of one name never replace each other's thumbnail), nothing is
  // replaced unless `force` (a file with the same bytes is kept), and no partial or temporary
  // file is ever left: the bytes go to an unnamed file in the same folder (O_TMPFILE), linked
  // to the final name once whole; where the file system has no unnamed files, to a hidden
  // temporary one that a signal's handler removes. Returns "" or why it was not written (the
  // outcome too, when asked); `name` gets the file's path. Threads may write at once.
  std::string Write(const std::string& relative, const unsigned char* bytes, size_t size, std::string& name,
                    ThumbnailOutcome* outcome = nullptr) const;

 private:
  std::string WriteIn(const std::string& relative, const unsigned char* bytes, size_t size, ThumbnailOutcome& outcome) const;
  std::string WriteUnnamed(int dir, int fd, const std::string& file, const unsigned char* bytes, size_t size) const;
  std::string WriteNamed(int dir, const std::string& file, const unsigned char* bytes, size_t size) const;

  std::string folder_;
  bool force_;
  bool unnamed_;
  int dir_ = -1;
  int openError_ = 0;
  mutable std::mutex claimedMutex_;
  mutable std::set<std::string> claimed_;  // the names written in this run
};

}  // namespace exifinfo_tool
